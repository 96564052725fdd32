#pragma once
// Shared set-up of the sound tests: a fresh install root, scripted MIDI devices that record into
// files of that root, and the sound state put back to its start.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/midi_out.h"
#include "sound/services.h"

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    EqSettings = {};
    CloseMidiPorts();
    CloseExternalModule();
    plat::SetFakeMidiOutDevices({});
    ClearCcCache();
  }
  void TearDown() override {
    CloseMidiPorts();
    CloseExternalModule();
    plat::SetFakeMidiOutDevices({});
    Settings = AppSettings{};
  }

  std::filesystem::path Rec(const std::string& name) const { return root_.path() / (name + ".rec"); }

  // Devices with these names, each recording into Rec(<prefix><index>).
  void Devices(const std::vector<std::wstring>& names, const std::string& prefix = "") {
    std::vector<plat::FakeMidiOutDevice> list;
    for (size_t i = 0; i < names.size(); ++i)
      list.push_back({names[i], Rec(prefix + std::to_string(i)), 0, false, false});
    plat::SetFakeMidiOutDevices(list);
  }

  // The recorded lines of a device without their time stamps: "<tag> <hex bytes>".
  std::vector<std::string> Lines(const std::string& name) const {
    std::vector<std::string> out;
    std::ifstream in(Rec(name));
    std::string line;
    while (std::getline(in, line)) {
      size_t sp = line.find(' ');
      out.push_back(sp == std::string::npos ? line : line.substr(sp + 1));
    }
    return out;
  }

  void WriteSyx(const std::string& name, const std::vector<std::vector<uint8_t>>& messages) {
    std::filesystem::create_directories(root_.path() / "system" / "system-exclive");
    std::ofstream out(root_.path() / "system" / "system-exclive" / name, std::ios::binary);
    for (const auto& m : messages) out.write(reinterpret_cast<const char*>(m.data()), static_cast<std::streamsize>(m.size()));
  }

  TempRoot root_;
};

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}
