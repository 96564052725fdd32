#include "platform/paths.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <cwctype>
#include <mutex>
#include <system_error>
#include <unistd.h>

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

// Finds the entry of `dir` whose name equals `name` without regard to case.
fs::path MatchComponent(const fs::path& dir, const std::string& name) {
  fs::path exact = dir / name;
  if (Exists(exact)) return exact;
  caseListings.fetch_add(1, std::memory_order_relaxed);
  const std::wstring want = Utf8BytesToWide(name);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (EqualsNoCase(Utf8BytesToWide(entry), want)) return it->path();
  }
  return exact;
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
