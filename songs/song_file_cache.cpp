#include "songs/song_file_cache.h"

#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/files.h"
#include "songs/midi_walk.h"
#include "platform/paths.h"

namespace {

constexpr size_t kSongByteCacheMax = 6;

struct CachedSongFile {
  std::shared_ptr<const std::string> bytes;  // never null
  plat::FileStamp stamp;
};

// Pure first-in-first-out: a hit does not move an entry; the oldest insertion leaves first.
struct SongByteCacheState {
  std::mutex mutex;
  std::unordered_map<std::wstring, CachedSongFile> files;
  std::deque<std::wstring> order;
};

SongByteCacheState& SongByteCache() {
  static SongByteCacheState cache;
  return cache;
}

// Reads the file and the stamp it had before the read. A change during the read shows up as a
// different stamp at the next hit, which then reads the file again.
std::optional<CachedSongFile> ReadSongFile(const std::filesystem::path& real) {
  if (real.empty()) return std::nullopt;
  auto stamp = plat::StatFile(real);
  if (!stamp || stamp->size > kSongFileMaxBytes) return std::nullopt;
  auto bytes = plat::ReadFileBytes(real);
  if (!bytes || bytes->empty()) return std::nullopt;
  return CachedSongFile{std::make_shared<const std::string>(std::move(*bytes)), *stamp};
}

}  // namespace

std::wstring PadSongNumber(int number) {
  std::wstring text = std::to_wstring(number);
  if (text.size() < 4) text.insert(0, 4 - text.size(), L'0');
  return text;
}

std::wstring SongFilePath(wchar_t kind, int number, std::wstring_view extension) {
  std::wstring path = L"<root>/system/";
  path += kind;
  path += PadSongNumber(number);
  path += extension;
  return path;
}

std::shared_ptr<const std::string> ReadSongBytesShared(const std::wstring& path) {
  SongByteCacheState& cache = SongByteCache();
  const std::filesystem::path real = plat::RealPath(path);
  // The stamp is taken outside the lock: a stat may be slow on a busy disk.
  const std::optional<plat::FileStamp> now = real.empty() ? std::nullopt : plat::StatFile(real);
  {
    std::lock_guard lock(cache.mutex);
    auto it = cache.files.find(path);
    if (it != cache.files.end() && now && it->second.stamp == *now) return it->second.bytes;
  }

  std::optional<CachedSongFile> read = ReadSongFile(real);
  std::lock_guard lock(cache.mutex);
  auto it = cache.files.find(path);
  if (!read) {
    // Gone or unreadable: a stale copy must not outlive the file.
    if (it != cache.files.end()) {
      cache.files.erase(it);
      std::erase(cache.order, path);
    }
    static const auto kNoBytes = std::make_shared<const std::string>();
    return kNoBytes;
  }
  if (it != cache.files.end()) {
    // Another thread may have stored it meanwhile; keep whichever copy is newer on disk. A
    // replaced file keeps its place in the queue.
    if (it->second.stamp != read->stamp) it->second = *read;
    return read->bytes;
  }
  cache.order.push_back(path);
  cache.files.emplace(path, *read);
  while (cache.order.size() > kSongByteCacheMax) {
    cache.files.erase(cache.order.front());
    cache.order.pop_front();
  }
  return read->bytes;
}

std::string ReadSongBytesCached(const std::wstring& path) { return *ReadSongBytesShared(path); }

void PrewarmSongFilesThread(std::wstring midiPath, std::wstring textPath) {
  ReadSongBytesCached(midiPath);
  ReadSongBytesCached(textPath);
}

void PrewarmSongFiles(const std::wstring& midiPath, const std::wstring& textPath) {
  std::thread(PrewarmSongFilesThread, midiPath, textPath).detach();
}

void PrewarmSongCommand(std::wstring_view argument) {
  // Leading decimal integer, as every numeric command argument is read.
  size_t i = 0;
  while (i < argument.size() && (argument[i] == L' ' || argument[i] == L'\t')) ++i;
  bool negative = false;
  if (i < argument.size() && (argument[i] == L'+' || argument[i] == L'-')) negative = argument[i++] == L'-';
  long long number = 0;
  bool digits = false;
  while (i < argument.size() && argument[i] >= L'0' && argument[i] <= L'9') {
    digits = true;
    number = number * 10 + (argument[i++] - L'0');
    if (number > 0x7fffffff) return;
  }
  if (!digits || negative || number <= 0) return;
  const int n = static_cast<int>(number);
  PrewarmSongFiles(SongFilePath(L'P', n, L".MID"), SongFilePath(L'P', n, L".txt"));
}

bool SongFileAvailable(const std::wstring& path) {
  const std::filesystem::path real = plat::RealPath(path);
  if (real.empty()) return false;
  std::error_code ec;
  if (std::filesystem::is_directory(real, ec)) return false;
  std::ifstream in(real, std::ios::binary);
  return in.is_open();
}

std::vector<std::wstring> SongByteCachePaths() {
  SongByteCacheState& cache = SongByteCache();
  std::lock_guard lock(cache.mutex);
  return {cache.order.begin(), cache.order.end()};
}

void ClearSongByteCache() {
  SongByteCacheState& cache = SongByteCache();
  std::lock_guard lock(cache.mutex);
  cache.files.clear();
  cache.order.clear();
}

std::wstring MidiFileRefusal(const std::wstring& path) {
  const std::filesystem::path real = plat::RealPath(path);
  const std::optional<plat::FileStamp> stamp = real.empty() ? std::nullopt : plat::StatFile(real);
  if (!stamp) return L"파일을 열 수 없습니다";
  if (stamp->size == 0) return L"빈 파일입니다";
  if (stamp->size > kSongFileMaxBytes)
    return L"파일이 너무 큽니다: " + std::to_wstring(stamp->size >> 20) + L" MB, 최대 " +
           std::to_wstring(kSongFileMaxBytes >> 20) + L" MB";
  const std::shared_ptr<const std::string> bytes = ReadSongBytesShared(path);
  if (bytes->empty()) return L"파일을 읽을 수 없습니다";
  midi::FileHeader header;
  if (!midi::ReadFileHeader(*bytes, &header)) return L"MIDI 파일이 아닙니다";
  return {};
}
