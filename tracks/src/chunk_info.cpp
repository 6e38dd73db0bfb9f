// Chunk record: memory of the loaded PCM.
//
// A recording grows its chunk by 1 MiB steps for as long as it runs. Grown with realloc,
// every step past the allocator's mapping threshold can copy the whole chunk (tens of
// milliseconds at ten minutes), on the core thread, once per step. Large chunks therefore
// live in page mappings that grow by mremap, which moves no bytes.
#include "tracks/chunk_info.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/pages.h"

namespace vts {
namespace {

constexpr std::uint64_t kMapFrom = 256 * 1024;  // smaller blocks stay with malloc

// The bytes mapped for a capacity: whole large pages, so that a recording faults once per
// large page (the capacity itself keeps its steps).
std::size_t MappedBytes(std::uint64_t capacity) {
  const std::uint64_t grain = plat::kLargePageBytes;
  return static_cast<std::size_t>((capacity + grain - 1) / grain * grain);
}

}  // namespace

CChunkInfo::~CChunkInfo() { Unload(); }

void CChunkInfo::Unload() {
  if (data != nullptr) {
    if (dataMapped) {
      plat::UnmapPages(data, MappedBytes(dataCapacity));
    } else {
      std::free(data);
    }
  }
  data = nullptr;
  dataMapped = false;
  dataSize = 0;
  dataCapacity = 0;
  playOffset = 0;
}

void CChunkInfo::SwapSound(CChunkInfo& other) {
  std::swap(data, other.data);
  std::swap(dataMapped, other.dataMapped);
  std::swap(dataSize, other.dataSize);
  std::swap(dataCapacity, other.dataCapacity);
  std::swap(playOffset, other.playOffset);
}

bool CChunkInfo::Reserve(std::uint64_t bytes, std::uint32_t step) {
  if (bytes <= dataCapacity && data != nullptr) return true;
  std::uint64_t capacity = dataCapacity;
  while (capacity < bytes || capacity == 0) capacity += step;
  if (capacity > UINT32_MAX) return false;  // sizes are 32-bit throughout the track
  if (capacity < kMapFrom && !dataMapped) {
    void* grown = std::realloc(data, static_cast<std::size_t>(capacity));
    if (grown == nullptr) return false;
    data = static_cast<std::uint8_t*>(grown);
  } else if (dataMapped) {
    const std::size_t had = MappedBytes(dataCapacity), wanted = MappedBytes(capacity);
    if (wanted != had) {
      void* grown = plat::ResizePages(data, had, wanted);
      if (grown == nullptr) return false;
      data = static_cast<std::uint8_t*>(grown);
    }
  } else {
    void* mapped = plat::MapPages(MappedBytes(capacity));
    if (mapped == nullptr) return false;
    if (data != nullptr) {
      std::memcpy(mapped, data, dataSize);
      std::free(data);
    }
    data = static_cast<std::uint8_t*>(mapped);
    dataMapped = true;
  }
  dataCapacity = static_cast<std::uint32_t>(capacity);
  return true;
}

}  // namespace vts
