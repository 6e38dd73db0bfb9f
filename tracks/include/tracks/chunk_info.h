// One chunk of a track: where it lies in the track's sound, its temporary file and, while it
// is the current chunk, its PCM bytes.
#pragma once

#include <cstdint>
#include <string>

namespace vts {

struct CChunkInfo {
  CChunkInfo() = default;
  ~CChunkInfo();
  CChunkInfo(const CChunkInfo&) = delete;
  CChunkInfo& operator=(const CChunkInfo&) = delete;

  std::uint32_t start = 0;   // first frame in the track's source sound
  std::uint32_t length = 0;  // frames
  std::string fileName;      // temporary file in the track's folder, no folder part; empty:
                             // the sound comes from the source WAV file
  // PCM while loaded, null when unloaded. Set it to a malloc'd block (dataMapped false) or
  // let Reserve grow it; free it only with Unload().
  std::uint8_t* data = nullptr;
  std::uint32_t dataSize = 0;      // bytes of PCM in data
  std::uint32_t dataCapacity = 0;  // bytes allocated at data
  std::uint32_t playOffset = 0;    // byte offset of the next byte to hand to the engine
  std::u16string text;
  // True when `data` is a page mapping made by Reserve: a growing recording is then
  // remapped in place of being copied, so an append never copies the chunk.
  bool dataMapped = false;

  bool IsLoaded() const { return data != nullptr; }
  // Frees the PCM bytes (the chunk becomes unloaded).
  void Unload();
  // Exchanges the PCM bytes (and their play offsets) with `other`; no sample is copied.
  void SwapSound(CChunkInfo& other);
  // Makes room for at least `bytes` bytes, growing in steps of `step`; false when the memory
  // cannot be had (the chunk is unchanged then).
  bool Reserve(std::uint64_t bytes, std::uint32_t step);
};

// Capacity steps while recording or receiving.
constexpr std::uint32_t kChunkGrowStep = 0x100000;

}  // namespace vts
