#include "platform/paths.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <cwctype>
#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "platform/codepage.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

// Never destroyed: detached threads may still resolve paths while the process ends.
std::mutex& rootMutex = *new std::mutex;
fs::path& rootDir = *new fs::path;

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

std::atomic<uint64_t> caseListings{0};

std::wstring LowerCase(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

// One name without regard to case, as a number: FNV-1a over the lower-case code points. A name of
// plain ASCII (nearly every file) is lowered in place, with no conversion.
uint64_t LowerNameHash(std::string_view utf8) {
  uint64_t h = 1469598103934665603ull;
  auto add = [&h](uint32_t c) {
    for (int i = 0; i < 4; ++i) {
      h ^= (c >> (8 * i)) & 0xff;
      h *= 1099511628211ull;
    }
  };
  bool ascii = true;
  for (unsigned char c : utf8) ascii = ascii && c < 0x80;
  if (ascii) {
    for (unsigned char c : utf8) add(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  } else {
    for (wchar_t c : LowerCase(Utf8BytesToWide(utf8))) add(static_cast<uint32_t>(c));
  }
  return h;
}

// The names of one folder as sorted numbers of their lower-case forms, kept while the folder is
// unchanged: a large folder (the song files) is then read once, not at every lookup of a file
// that is not there, and a name that no entry matches is known without another listing.
struct FolderNames {
  dev_t device = 0;
  ino_t inode = 0;
  timespec changed{};  // the folder's status change time: moves with every entry added, removed or renamed
  std::vector<uint64_t> lowerHashes;
};

// Never destroyed, like the root: detached threads may still resolve paths at the end.
std::mutex& folderCacheMutex = *new std::mutex;
std::map<std::string, std::shared_ptr<const FolderNames>>& folderCache =
    *new std::map<std::string, std::shared_ptr<const FolderNames>>;
constexpr size_t kCachedFolders = 8;

bool SameStamp(const FolderNames& names, const struct stat& st) {
  return names.device == st.st_dev && names.inode == st.st_ino && names.changed.tv_sec == st.st_ctim.tv_sec &&
         names.changed.tv_nsec == st.st_ctim.tv_nsec;
}

bool SkippedEntry(std::string_view name) { return name == "." || name == ".."; }

// The listing of `dir`, from the cache when the folder's status change time says it is current.
std::shared_ptr<const FolderNames> ListFolderNames(const fs::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return nullptr;
  {
    std::lock_guard lock(folderCacheMutex);
    auto it = folderCache.find(dir.native());
    if (it != folderCache.end() && SameStamp(*it->second, st)) return it->second;
  }
  timespec listedAt{};
  ::clock_gettime(CLOCK_REALTIME, &listedAt);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return nullptr;
  caseListings.fetch_add(1, std::memory_order_relaxed);
  auto names = std::make_shared<FolderNames>();
  names->device = st.st_dev;
  names->inode = st.st_ino;
  names->changed = st.st_ctim;
  while (const dirent* e = ::readdir(d))
    if (!SkippedEntry(e->d_name)) names->lowerHashes.push_back(LowerNameHash(e->d_name));
  ::closedir(d);
  std::sort(names->lowerHashes.begin(), names->lowerHashes.end());
  // A change in the same clock tick as the folder's last one leaves its time as it was: a listing
  // of a folder changed just before is used once and not kept.
  const int64_t age =
      (int64_t(listedAt.tv_sec) - st.st_ctim.tv_sec) * 1000 + (listedAt.tv_nsec - st.st_ctim.tv_nsec) / 1000000;
  if (age > 100) {
    std::lock_guard lock(folderCacheMutex);
    if (folderCache.size() >= kCachedFolders && !folderCache.contains(dir.native())) folderCache.erase(folderCache.begin());
    folderCache[dir.native()] = names;
  }
  return names;
}

// Finds the entry of `dir` whose name equals `name` without regard to case (the first one in
// listing order).
fs::path MatchComponent(const fs::path& dir, const std::string& name) {
  fs::path exact = dir / name;
  if (Exists(exact)) return exact;
  const uint64_t want = LowerNameHash(name);
  if (const std::shared_ptr<const FolderNames> names = ListFolderNames(dir);
      names && !std::binary_search(names->lowerHashes.begin(), names->lowerHashes.end(), want))
    return exact;
  // Some entry may match: the folder is read for it.
  const std::wstring lower = LowerCase(Utf8BytesToWide(name));
  DIR* d = ::opendir(dir.c_str());
  if (!d) return exact;
  caseListings.fetch_add(1, std::memory_order_relaxed);
  fs::path found = exact;
  while (const dirent* e = ::readdir(d)) {
    if (SkippedEntry(e->d_name) || LowerNameHash(e->d_name) != want) continue;
    if (LowerCase(Utf8BytesToWide(e->d_name)) == lower) {
      found = dir / e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// A Windows program file ("Tavelo.exe") is the program of the same name here ("tavelo").
std::wstring NativeProgramName(std::wstring name) {
  constexpr std::wstring_view kExe = L".exe";
  if (name.size() <= kExe.size() ||
      !EqualsNoCase(name.substr(name.size() - kExe.size()), std::wstring(kExe)))
    return name;
  name.resize(name.size() - kExe.size());
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return name;
}

}  // namespace

fs::path RootDir() {
  std::lock_guard lock(rootMutex);
  if (rootDir.empty()) {
    if (const char* env = std::getenv("TAVELO_ROOT"); env && *env) {
      rootDir = env;
    } else {
      const char* home = std::getenv("HOME");
      rootDir = fs::path(home && *home ? home : "/tmp") / "tavelo";
    }
    std::error_code ec;
    fs::path abs = fs::absolute(rootDir, ec);
    if (!ec) rootDir = abs.lexically_normal();
  }
  return rootDir;
}

void SetRootDir(const fs::path& root) {
  std::lock_guard lock(rootMutex);
  rootDir = root;
}

namespace {

// The root as the older program wrote it into its settings and lists: such paths still name
// files under our root.
constexpr std::wstring_view kOlderInstallRoot = L"C:/tavelo";

fs::path RealPathMatching(std::wstring_view installPath,
                          const std::function<fs::path(const fs::path&, const std::string&)>& match) {
  std::wstring p(installPath);
  for (auto& c : p)
    if (c == L'\\') c = L'/';
  fs::path result;
  std::wstring rest;
  auto under = [&p](std::wstring_view root) {
    return p.size() >= root.size() && EqualsNoCase(p.substr(0, root.size()), std::wstring(root)) &&
           (p.size() == root.size() || p[root.size()] == L'/');
  };
  if (under(kInstallRoot) || under(kOlderInstallRoot)) {
    result = RootDir();
    rest = p.substr(under(kInstallRoot) ? kInstallRoot.size() : kOlderInstallRoot.size());
  } else if (!p.empty() && p[0] == L'/') {
    result = "/";
    rest = p;
  } else {
    return {};
  }
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find(L'/', pos);
    if (next == std::wstring::npos) next = rest.size();
    std::wstring part = rest.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") return {};
    if (next == rest.size()) part = NativeProgramName(part);
    result = match(result, WideToUtf8Bytes(part));
  }
  return result;
}

}  // namespace

fs::path RealPath(std::wstring_view installPath) { return RealPathMatching(installPath, MatchComponent); }

std::wstring ShownPath(std::wstring_view installPath) {
  return Utf8BytesToWide(RealPath(installPath).string());
}

uint64_t CaseMatchListings() { return caseListings.load(std::memory_order_relaxed); }

fs::path PathResolver::RealPath(std::wstring_view installPath) {
  return RealPathMatching(installPath, [this](const fs::path& dir, const std::string& name) {
    fs::path exact = dir / name;
    if (Exists(exact)) return exact;
    auto [it, fresh] = folders_.try_emplace(dir.native());
    if (fresh) {
      caseListings.fetch_add(1, std::memory_order_relaxed);
      std::error_code ec;
      for (fs::directory_iterator e(dir, ec), end; !ec && e != end; e.increment(ec))
        it->second.try_emplace(LowerCase(Utf8BytesToWide(e->path().filename().string())), e->path().filename().string());
    }
    auto found = it->second.find(LowerCase(Utf8BytesToWide(name)));
    return found == it->second.end() ? exact : dir / found->second;
  });
}

void PathResolver::Add(const fs::path& created) {
  auto it = folders_.find(created.parent_path().native());
  if (it != folders_.end())
    it->second.try_emplace(LowerCase(Utf8BytesToWide(created.filename().string())), created.filename().string());
}

std::wstring InstallPath(std::wstring_view relative) {
  std::wstring out(kInstallRoot);
  if (!relative.empty() && relative.front() != L'/' && relative.front() != L'\\') out += L'/';
  out += relative;
  return out;
}

namespace {
std::mutex executableMutex;
fs::path executableOverride;
}  // namespace

void SetExecutablePath(const fs::path& program) {
  std::lock_guard lock(executableMutex);
  executableOverride = program;
}

fs::path ExecutablePath() {
  {
    std::lock_guard lock(executableMutex);
    if (!executableOverride.empty()) return executableOverride;
  }
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : p;
}

}  // namespace plat
