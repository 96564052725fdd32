#pragma once
// The desktop the remote-support tests capture: a 640 × 360 monitor whose picture changes on every
// frame (there is no X display under test); replayed input goes nowhere. Installed for the whole
// test program.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "online/rs_input.h"
#include "online/rs_screen.h"

class MovingPicture : public RsScreenSource {
 public:
  MovingPicture(int width, int height) : width_(width), height_(height) {}
  bool Capture(uint8_t* image) override {
    const size_t bytes = static_cast<size_t>(width_) * 4 * static_cast<size_t>(height_);
    for (size_t i = 0; i < bytes; i += 4) image[i] = static_cast<uint8_t>(frame_);
    image[(static_cast<size_t>(frame_ % height_) * static_cast<size_t>(width_)) * 4 + 2] = 255;
    ++frame_;
    return true;
  }

 private:
  int width_, height_, frame_ = 0;
};

inline void InstallTestDesktop() {
  setenv("TAVELO_MONITORS", "640x360+0+0*", 1);
  SetRsScreenSourceFactory([](const RsRect&, int w, int h) { return std::make_unique<MovingPicture>(w, h); });
  SetRsInputTarget({[] { return plat::ScreenRect{0, 0, 640, 360}; }, [](int, int, const auto&) {},
                    [](uint16_t, bool, bool) {}});
}
