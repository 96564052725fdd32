#include "platform/files.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadFileBytes(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (r == 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  return out;
}

bool ReadFileLines(const fs::path& path, const std::function<void(std::string_view line)>& line) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::vector<char> block(size_t{1} << 18);
  std::string partial;  // the start of a line that continues in the next block
  for (;;) {
    const ssize_t r = ::read(fd, block.data(), block.size());
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (r == 0) break;
    std::string_view rest(block.data(), static_cast<size_t>(r));
    for (size_t lf; (lf = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(lf + 1)) {
      if (partial.empty()) {
        line(rest.substr(0, lf));
      } else {
        partial.append(rest.data(), lf);
        line(partial);
        partial.clear();
      }
    }
    partial.append(rest);
  }
  ::close(fd);
  if (!partial.empty()) line(partial);
  return true;
}

namespace {

std::atomic<FailedSaveHook> failedSaveHook{nullptr};

// Writes the temporary file and renames it; the errno of the first step that failed, else 0.
int ReplaceFileError(const fs::path& path, std::string_view bytes, bool flush) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  static std::atomic<unsigned> serial{0};
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = 0;
  if (!WriteAll(fd, bytes) || (flush && ::fsync(fd) != 0)) error = errno ? errno : EIO;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(tmp.c_str(), path.c_str()) != 0) error = errno;
  if (error) ::unlink(tmp.c_str());
  return error;
}

bool ReplaceFile(const fs::path& path, std::string_view bytes, bool flush) {
  if (path.empty()) return false;
  const int error = ReplaceFileError(path, bytes, flush);
  if (error && flush)
    if (FailedSaveHook hook = failedSaveHook.load()) hook(path, error);
  return error == 0;
}

}  // namespace

int TryCreateFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  ::close(fd);
  ::unlink(path.c_str());
  return 0;
}

void SetFailedSaveHook(FailedSaveHook hook) { failedSaveHook.store(hook); }

bool WriteFileAtomic(const fs::path& path, std::string_view bytes) { return ReplaceFile(path, bytes, true); }

bool WriteFileReplacing(const fs::path& path, std::string_view bytes) { return ReplaceFile(path, bytes, false); }

bool FlushFileSystemOf(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

bool AppendFileBytes(const fs::path& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  return (::close(fd) == 0) && ok;
}

std::optional<FileStamp> StatFile(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp s;
  s.size = static_cast<uint64_t>(st.st_size);
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  s.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
  s.fileId = static_cast<uint64_t>(st.st_ino);
  return s;
}

std::vector<std::string> ListFileNames(const fs::path& dir) {
  return ListFileNames(dir, [](std::string_view) { return true; });
}

std::vector<std::string> ListFileNames(const fs::path& dir, const std::function<bool(std::string_view name)>& wanted) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  const int dfd = ::dirfd(d);
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
    if (!wanted(e->d_name)) continue;
    bool folder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st {};
      folder = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (!folder) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

bool WriteOwnerOnlyFile(const fs::path& path, std::string_view text) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  ::unlink(tmp.c_str());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace plat
