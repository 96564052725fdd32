#pragma once
// Whole-file reads and safe rewrites. Settings, catalogue and state files are rewritten whole
// through a temporary file beside the target and a rename, so a crash or a full disk never leaves
// half a file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);

// Calls `line` for every line of the file in order, without its "\n" (a last line without one
// too), reading in blocks so a large file never sits in memory whole. False when the file cannot
// be opened or a read fails (the lines before stay delivered).
bool ReadFileLines(const std::filesystem::path& path, const std::function<void(std::string_view line)>& line);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. Creates missing parent folders. False (and the old file untouched) on any failure.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes);

// Creates and removes an empty file at `path`: 0 when the folder takes new files, else the errno.
int TryCreateFile(const std::filesystem::path& path);

// Called on the writing thread whenever WriteFileAtomic fails, with the target and the errno of
// the step that failed (full disk, read-only file system, ...). Set once at start.
using FailedSaveHook = void (*)(const std::filesystem::path& path, int error);
void SetFailedSaveHook(FailedSaveHook hook);

// The same without waiting for the disk, for many files written at once: the caller flushes
// them together with FlushFileSystemOf before it records them as written.
bool WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes);
// Waits until everything written to the file system holding `path` is on disk. False on failure.
bool FlushFileSystemOf(const std::filesystem::path& path);

// Appends `bytes` in one write, creating the file when missing. False on failure.
bool AppendFileBytes(const std::filesystem::path& path, std::string_view bytes);

struct FileStamp {
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time, nanoseconds since the epoch
  int64_t ctimeNs = 0;  // status change time: also moves when a file is put in place by a rename
  uint64_t fileId = 0;  // inode: a file replaced through a rename is another file
  bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StatFile(const std::filesystem::path& path);

// Names (as stored, UTF-8 on this system) of the entries of `dir` that are not folders. Empty when
// the folder cannot be read. Meant for large folders: no per-entry path objects or stat calls
// where the directory entry already tells the type.
std::vector<std::string> ListFileNames(const std::filesystem::path& dir);
// The same for the entries whose name `wanted` accepts; no other entry costs more than its name.
std::vector<std::string> ListFileNames(const std::filesystem::path& dir,
                                       const std::function<bool(std::string_view name)>& wanted);


// Writes `text` to `path` readable by its owner only (created 0600, then renamed into place).
bool WriteOwnerOnlyFile(const std::filesystem::path& path, std::string_view text);

}  // namespace plat
