// Anonymous page mappings for large buffers that grow: growing one remaps the pages instead
// of copying the bytes.
#pragma once

#include <cstddef>

namespace vts::plat {

// The large page: a mapping whose size is a multiple of it can be backed by them throughout.
constexpr std::size_t kLargePageBytes = 2 * 1024 * 1024;

// Zero-filled private pages; null on failure. Large pages are asked for where the kernel
// has them.
void* MapPages(std::size_t bytes);
// Grows (or shrinks) a mapping, perhaps to another address; null on failure (the old
// mapping then stays as it was).
void* ResizePages(void* pages, std::size_t oldBytes, std::size_t newBytes);
void UnmapPages(void* pages, std::size_t bytes);

}  // namespace vts::plat
