// Chunk record: memory of the loaded PCM.
#include "tracks/chunk_info.h"

#include <cstdlib>

namespace vts {

CChunkInfo::~CChunkInfo() { Unload(); }

void CChunkInfo::Unload() {
  std::free(data);
  data = nullptr;
  dataSize = 0;
  dataCapacity = 0;
  playOffset = 0;
}

bool CChunkInfo::Reserve(std::uint64_t bytes, std::uint32_t step) {
  if (bytes <= dataCapacity && data != nullptr) return true;
  std::uint64_t capacity = dataCapacity;
  while (capacity < bytes || capacity == 0) capacity += step;
  if (capacity > UINT32_MAX) return false;  // sizes are 32-bit throughout the track
  void* grown = std::realloc(data, static_cast<std::size_t>(capacity));
  if (grown == nullptr) return false;
  data = static_cast<std::uint8_t*>(grown);
  dataCapacity = static_cast<std::uint32_t>(capacity);
  return true;
}

}  // namespace vts
