// Anonymous page mappings over mmap/mremap.
#include "platform/pages.h"

#include <sys/mman.h>

namespace vts::plat {

void* MapPages(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Filled a little at a time (a recording): large pages take one fault where small ones
  // take 512, each dear on a virtual machine. Only advice; it holds through ResizePages.
  ::madvise(p, bytes, MADV_HUGEPAGE);
  return p;
}

void* ResizePages(void* pages, std::size_t oldBytes, std::size_t newBytes) {
  void* p = ::mremap(pages, oldBytes, newBytes, MREMAP_MAYMOVE);
  return p == MAP_FAILED ? nullptr : p;
}

void UnmapPages(void* pages, std::size_t bytes) {
  if (pages) ::munmap(pages, bytes);
}

}  // namespace vts::plat
