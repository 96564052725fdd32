#pragma once
// Hints to the system about large buffers.
#include <cstddef>
#include <string>

namespace plat {

// Asks that the whole 2 MB blocks inside [data, data + bytes) be backed by large pages when they
// are first written. Meant for buffers of many megabytes filled once from start to end: each
// first touch of a small page costs a fault, which on virtual machines is several times dearer
// than the write itself. Pages already written are not affected; a refusal is harmless.
void AdviseLargePages(const void* data, size_t bytes);

}  // namespace plat

namespace plat {

// Keeps the process's memory in RAM, so that a thread with timing duties never waits for a page
// to be read back from a busy disk or found again after the kernel reclaimed it: every page now
// and later stays once it has been touched, and the files mapped now (the program's code and its
// libraries) are read in whole. False, with the system's reason in `detail`, when refused.
bool LockProcessMemory(std::string* detail);
// Reads in and locks the files mapped since (a library loaded at run time). Nothing when the
// memory lock was not taken.
void LockMappedFiles();
// Touches `bytes` of the calling thread's stack below the caller, so that calls of that depth
// later never wait for a fresh page.
void PrefaultStack(size_t bytes);
// Touches every page of a buffer (its contents stay as they are).
void PrefaultBuffer(void* data, size_t bytes);

}  // namespace plat
