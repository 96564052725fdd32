#include "ui/backgrounds.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/file_dialog.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/power.h"
#include "platform/sysinfo.h"
#include "ui/data_urls.h"
#include "ui/page_host.h"
#include "ui/script_channel.h"

namespace fs = std::filesystem;

BackgroundState Backgrounds;

namespace {

std::wstring LowerExtOf(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  std::wstring ext = name.substr(dot + 1);
  for (auto& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return ext;
}

bool OneOf(const std::wstring& ext, std::initializer_list<const wchar_t*> list) {
  for (const wchar_t* e : list)
    if (ext == e) return true;
  return false;
}

bool IsPictureExt(const std::wstring& ext) {
  return OneOf(ext, {L"jpg", L"jpeg", L"png", L"webp", L"gif", L"bmp"});
}

// Names of the files (not folders) of an install folder, in folder order.
std::vector<std::wstring> FilesOf(std::wstring_view folder) {
  std::vector<std::wstring> out;
  const fs::path real = plat::RealPath(folder);
  if (real.empty()) return out;
  for (const auto& name : plat::ListFileNames(real)) out.push_back(Utf8ToWide(name));
  return out;
}

std::vector<std::wstring> VideosWhere(bool playable) {
  std::vector<std::wstring> out;
  for (auto& name : FilesOf(L"<root>/video")) {
    const std::wstring ext = LowerExtOf(name);
    const bool ok = OneOf(ext, {L"mp4", L"webm", L"m4v", L"mov"});
    const bool other = OneOf(ext, {L"wmv", L"avi", L"mkv", L"flv", L"asf", L"mpg", L"mpeg", L"divx", L"rm",
                                   L"rmvb", L"vob", L"3gp"});
    if (playable ? ok : other) out.push_back(std::move(name));
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t a = text[i], b = prefix[i];
    if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
    if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
    if (a != b) return false;
  }
  return true;
}

std::mutex copyMutex;
std::function<bool(const fs::path&, const fs::path&)> copyForTest;

bool CopyPicked(const fs::path& from, const fs::path& to) {
  {
    std::lock_guard lock(copyMutex);
    if (copyForTest) return copyForTest(from, to);
  }
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

}  // namespace

int PcScoreFromFacts(unsigned cores, unsigned long long memoryGiB, PowerSource power) {
  const int c = cores >= 8 ? 45 : cores >= 6 ? 38 : cores >= 4 ? 30 : cores >= 2 ? 12 : 5;
  const int m = memoryGiB >= 16 ? 25 : memoryGiB >= 8 ? 20 : memoryGiB >= 4 ? 12 : 5;
  const int p = power == PowerSource::kBattery ? 15 : 25;
  return std::min(100, c + m + p);
}

int EstimatePcScore() {
  const plat::BatteryStatus status = plat::ReadPowerStatus();
  const PowerSource power = !status.readable ? PowerSource::kUnknown
                            : status.onBattery ? PowerSource::kBattery
                                               : PowerSource::kCharger;
  return PcScoreFromFacts(plat::ProcessorCount(), plat::TotalMemoryBytes() >> 30, power);
}

int CurrentPcScore() {
  const int stored = Settings.pcScore;
  return stored >= 0 ? stored : EstimatePcScore();
}

bool PcIsWeak() { return CurrentPcScore() < 70; }

bool LiteFromSetting(int liteMode, bool weak) { return liteMode == 1 || (liteMode != 0 && weak); }

std::vector<std::wstring> ListPlayableVideos() { return VideosWhere(true); }
std::vector<std::wstring> ListOtherVideos() { return VideosWhere(false); }

long long GetVideoFileSizeMb(const std::wstring& name) {
  if (name.empty() || name.find(L'/') != std::wstring::npos || name.find(L'\\') != std::wstring::npos) return 0;
  const fs::path real = plat::RealPath(L"<root>/video/" + name);
  if (real.empty()) return 0;
  const auto stamp = plat::StatFile(real);
  return stamp ? static_cast<long long>(stamp->size / 1048576ull) : 0;
}

std::wstring BuildPcVideoInfoScript() {
  const int score = CurrentPcScore();
  return PageCall(L"initPcVideoInfo", Settings.gpuForce.load(), score, score < 70 ? 1 : 0,
                  Settings.pcScore >= 0 ? 1 : 0, Backgrounds.GpuAccelerationOn.load());
}

std::wstring BuildCamListScript() {
  std::wstring label;
  {
    std::lock_guard lock(AppSettings::Mutex);
    label = Settings.customerCamLabel;
  }
  return PageCall(L"initCamList", Backgrounds.CameraLabelList, Settings.customerVideoSrc.load(), label);
}

std::wstring BuildLiteModeScript() {
  const int mode = Settings.liteMode;
  const bool lite = LiteFromSetting(mode, mode != 0 && mode != 1 && PcIsWeak());
  PageHost.LiteModeActive = lite ? 1 : 0;
  return PageCall(L"setLiteMode", lite ? 1 : 0, mode);
}

std::wstring BuildBgImagesScript() {
  auto picture = [](const std::wstring& base, std::wstring& name, std::wstring& data) {
    name = FindBackgroundImageFile(base);
    data = name.empty() ? std::wstring() : MakeDataUrl(L"<root>/images/" + name);
  };
  std::wstring mainName, mainData, headerName, headerData;
  picture(L"main_bg", mainName, mainData);
  picture(L"header_bg", headerName, headerData);
  // Data addresses hold only Base64 and the media type: no escaping needed, and none wanted for
  // a 4 MB text.
  return GuardedScript(L"initBgImages('" + EscapeForScript(mainName) + L"','" + mainData + L"','" +
                           EscapeForScript(headerName) + L"','" + headerData + L"');",
                       L"initBgImages");
}

void PostLiteModeScript() { PostScriptToPage(BuildLiteModeScript()); }

void ApplyCustomerBackground() {
  const bool weak = PcIsWeak();
  RunCustomerScript(PageCall(L"cwVideoLowPc", weak ? 1 : 0));
  const int mode = Settings.liteMode;
  const bool videoOn = Settings.customerVideo != 0;
  if (LiteFromSetting(mode, weak)) {
    RunCustomerScript(GuardedScript(L"cwSetCam(0,''); cwSetVideo(0,'');", L"cwSetCam"));
    if (videoOn) DebugLog(L"[CW] 반주 우선 모드 - 배경 영상은 켜지 않습니다");
  } else if (videoOn && Settings.customerVideoSrc == 1) {
    std::wstring label;
    {
      std::lock_guard lock(AppSettings::Mutex);
      label = Settings.customerCamLabel;
    }
    RunCustomerScript(GuardedScript(L"cwSetVideo(0,''); " + PageCallText(L"cwSetCam", 1, label) + L";", L"cwSetCam"));
    DebugLog(L"[CW] 배경 = 외부 입력(캡처) " + (label.empty() ? std::wstring(L"[첫 번째 장치]") : label));
  } else {
    std::wstring name;
    if (videoOn) {
      auto videos = ListPlayableVideos();
      if (!videos.empty()) name = videos.front();
    }
    RunCustomerScript(
        GuardedScript(L"cwSetCam(0,''); " + PageCallText(L"cwSetVideo", name.empty() ? 0 : 1, name) + L";", L"cwSetVideo"));
    if (!name.empty()) {
      DebugLog(L"[CW] 배경 동영상 " + name + L" - PC 점수 " + std::to_wstring(CurrentPcScore()) +
               (Settings.pcScore >= 0 ? L"(ALT+F12 실측)" : L"(어림)") +
               (weak ? L" -> 연주 중에는 정지화면" : L" -> 연주 중에도 재생"));
    }
  }
  PostScriptToPage(BuildPcVideoInfoScript());
  PostScriptToPage(BuildCamListScript());
}

std::wstring FindBackgroundImageFile(const std::wstring& base) {
  const std::wstring prefix = base + L".";
  for (const auto& name : FilesOf(L"<root>/images")) {
    if (StartsWithNoCase(name, prefix) && IsPictureExt(LowerExtOf(name))) return name;
  }
  return {};
}

std::wstring InstallBackgroundImage(const std::wstring& base, const fs::path& picked) {
  const std::wstring pickedName = Utf8ToWide(picked.filename().string());
  const size_t dot = pickedName.rfind(L'.');
  std::wstring ext = dot == std::wstring::npos ? L".jpg" : pickedName.substr(dot);
  for (auto& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  if (ext.find(L'/') != std::wstring::npos) return {};
  const fs::path folder = plat::RealPath(L"<root>/images");
  if (folder.empty()) return {};
  std::error_code ec;
  fs::create_directories(folder, ec);
  // The copy goes to a name the "<base>.*" clean-up does not touch, so a failed copy keeps the
  // old picture and picking the current file works.
  const fs::path temp = folder / ("." + WideToUtf8(base) + ".picking");
  fs::remove(temp, ec);
  if (!CopyPicked(picked, temp)) {
    fs::remove(temp, ec);
    DebugLog(L"[BG] 그림 복사 실패 - 예전 그림을 둡니다: " + pickedName);
    return {};
  }
  const std::wstring target = base + ext;
  for (const auto& name : FilesOf(L"<root>/images")) {
    if (StartsWithNoCase(name, base + L".") && name != target) fs::remove(folder / WideToUtf8(name), ec);
  }
  fs::rename(temp, folder / WideToUtf8(target), ec);
  if (ec) {
    fs::remove(temp, ec);
    DebugLog(L"[BG] 그림 이름 바꾸기 실패: " + target);
    return {};
  }
  return target;
}

void SetBackgroundCopyForTest(std::function<bool(const fs::path&, const fs::path&)> copy) {
  std::lock_guard lock(copyMutex);
  copyForTest = std::move(copy);
}

std::wstring PickBackgroundImage(const std::wstring& base) {
  const std::wstring title = base == L"header_bg" ? L"상단 배경 이미지 선택" : L"하단 배경 이미지 선택";
  const fs::path picked = plat::PickOpenFile(
      title, {{L"이미지 파일 (*.jpg;*.jpeg;*.png;*.webp;*.bmp;*.gif)", L"*.jpg;*.jpeg;*.png;*.webp;*.bmp;*.gif"},
              {L"모든 파일 (*.*)", L"*.*"}});
  if (picked.empty() || picked.string().size() > 260) return {};
  return InstallBackgroundImage(base, picked);
}

bool HasBattery() {
  static const bool battery = [] {
    const plat::BatteryStatus status = plat::ReadPowerStatus();
    return status.readable && status.hasBattery;
  }();
  return battery;
}

std::vector<std::wstring> ListRandomPictures() {
  std::vector<std::wstring> out;
  for (auto& name : FilesOf(L"<root>/images/random"))
    if (IsPictureExt(LowerExtOf(name))) out.push_back(std::move(name));
  std::sort(out.begin(), out.end());
  return out;
}
