#pragma once
// Backgrounds of the song screen (pictures, the random picture, the customer page's video or
// capture input), the PC score and lite mode.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct BackgroundState {
  // Whether the browser was started with graphics acceleration (display only; set at start).
  std::atomic<int> GpuAccelerationOn{0};
  // The random picture shown last (window thread), -1 at start.
  int LastRandomIndex = -1;
  // The capture-device labels last reported by the customer page (window thread).
  std::vector<std::wstring> CameraLabelList;
};
extern BackgroundState Backgrounds;

// Power as the PC score sees it.
enum class PowerSource { kCharger, kBattery, kUnknown };
// The score from the facts: cores, whole GiB of memory, power (25..95).
int PcScoreFromFacts(unsigned cores, unsigned long long memoryGiB, PowerSource power);
// The same from this machine.
int EstimatePcScore();
// The stored measured score when there is one, else the estimate; weak below 70.
int CurrentPcScore();
bool PcIsWeak();
// Lite mode from the setting (1 lite, 0 full, else lite on a weak PC).
bool LiteFromSetting(int liteMode, bool weak);

// Videos of "<root>/video" (names only, sorted by character code): playable ones, and those
// the page cannot play.
std::vector<std::wstring> ListPlayableVideos();
std::vector<std::wstring> ListOtherVideos();
// Whole megabytes of a video file; 0 for an empty name or a missing file.
long long GetVideoFileSizeMb(const std::wstring& name);

std::wstring BuildPcVideoInfoScript();
std::wstring BuildCamListScript();
// Sets PageHost.LiteModeActive and returns the page's setLiteMode call.
std::wstring BuildLiteModeScript();
// The initial pictures' script (also stored for a new customer page by the page boot).
std::wstring BuildBgImagesScript();
// Window thread: the customer page's background as the settings say.
void ApplyCustomerBackground();

// The first "<base>.<picture extension>" of the images folder, or empty.
std::wstring FindBackgroundImageFile(const std::wstring& base);
// Asks for a picture and makes it "<base>.<ext>" of the images folder: the new name, or empty
// when cancelled or failed (the old picture then stays).
std::wstring PickBackgroundImage(const std::wstring& base);
// The copying half of the pick: the picked file becomes "<base><ext>" through a temporary copy;
// the other "<base>.*" files are removed only once the copy is there.
std::wstring InstallBackgroundImage(const std::wstring& base, const std::filesystem::path& picked);
// Tests: replaces the file copy of InstallBackgroundImage (null: the real one).
void SetBackgroundCopyForTest(std::function<bool(const std::filesystem::path&, const std::filesystem::path&)> copy);

// True when the PC has a system battery; asked once per run.
bool HasBattery();

// The random-picture files of "<root>/images/random" (names, folder order).
std::vector<std::wstring> ListRandomPictures();
