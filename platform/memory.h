#pragma once
// Hints to the system about large buffers.
#include <cstddef>

namespace plat {

// Asks that the whole 2 MB blocks inside [data, data + bytes) be backed by large pages when they
// are first written. Meant for buffers of many megabytes filled once from start to end: each
// first touch of a small page costs a fault, which on virtual machines is several times dearer
// than the write itself. Pages already written are not affected; a refusal is harmless.
void AdviseLargePages(const void* data, size_t bytes);

}  // namespace plat
