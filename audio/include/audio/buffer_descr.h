// Sound buffers as they travel between the engine's threads, the tracks and the core thread:
// the descriptor, its shared byte block, the 48-byte header in front of the samples, the
// engine's two thread messages and the shared engine state block.
//
// Threading: a descriptor has one owner at a time (maker, then engine, then the receiver of
// the message); the data block's reference count is atomic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vts {

// Thread messages posted by a sound engine to its owner thread (wParam: CBufferDescr* or 0).
constexpr std::uint32_t WM_SOUND_OUT = 0x400 + 0x8F;  // a playback buffer is finished
constexpr std::uint32_t WM_SOUND_IN =
    0x400 + 0x90;  // a captured block, or 0: a capture stream ended
// A stream ended because its device went away (the sound server, say); wParam the
// direction (DataFlow), lParam the engine's tag. Posted after the stream's own end.
constexpr std::uint32_t WM_SOUND_LOST = 0x400 + 0x93;
// Posted by a track to its owner thread, in line with its engine's blocks: a running
// recording goes on in another chunk (wParam its index, lParam the engine's tag).
constexpr std::uint32_t WM_RECORDING_MOVES = 0x400 + 0x94;
// Commands to an engine's playback thread (wParam 6/11/12 play lParam, 9 release lParam).
constexpr std::uint32_t WM_ENGINE_COMMAND = 0x470;

// Every sound block the system makes carries this kind.
constexpr std::uint32_t kSoundBlockKind = 6;
// Header encodings.
constexpr std::uint32_t kEncodingPcm16 = 0;  // interleaved signed 16-bit
constexpr std::uint32_t kEncodingFloat = 1;  // interleaved 32-bit float (captured blocks)
// Size of the header in front of the samples, and the slack a captured block carries for
// aligning it to 16 bytes.
constexpr std::uint32_t kSoundHeaderBytes = 48;
constexpr std::uint32_t kCapturedBlockExtraBytes = 64;

// The byte block of one buffer; freed with delete[] when the last reference goes.
struct CBufferData {
  std::uint8_t* data = nullptr;
  std::uint32_t size = 0;

  CBufferData() = default;
  explicit CBufferData(std::uint32_t bytes) : data(new std::uint8_t[bytes]), size(bytes) {}
  ~CBufferData() { delete[] data; }
  CBufferData(const CBufferData&) = delete;
  CBufferData& operator=(const CBufferData&) = delete;
};

// The first 48 bytes of every sound payload: twelve little-endian 32-bit words.
struct SoundBlockHeader {
  std::uint32_t channels;       // 0
  std::uint32_t samplesPerSec;  // 1
  std::uint32_t userValue;      // 2: captured: the engine's user value of the stream id
  std::uint32_t sender;         // 3: playback: identifies the making track; captured: stream id
  std::uint32_t reserved;       // 4
  std::uint32_t streamIndex;    // 5: captured: the capture stream's index
  std::uint32_t encoding;       // 6: kEncodingPcm16 or kEncodingFloat
  std::uint32_t frames;         // 7: sample frames behind the header
  std::uint32_t bitsPerSample;  // 8
  std::uint32_t reserved9;      // 9
  std::uint32_t timestampLo;    // 10-11: playback: millisecond tick when made (u64)
  std::uint32_t timestampHi;

  std::uint64_t Timestamp() const { return (std::uint64_t(timestampHi) << 32) | timestampLo; }
  void SetTimestamp(std::uint64_t ms) {
    timestampLo = std::uint32_t(ms);
    timestampHi = std::uint32_t(ms >> 32);
  }
};
static_assert(sizeof(SoundBlockHeader) == 48);
static_assert(offsetof(SoundBlockHeader, frames) == 28);
static_assert(offsetof(SoundBlockHeader, timestampLo) == 40);

// One buffer in flight (plain structure, fields in this order).
struct CBufferDescr {
  std::uint32_t kind = 0;  // kSoundBlockKind for every sound block; 0 at creation
  std::uint32_t size =
      0;  // bytes of the data block (playback: samples + 48; captured: samples + 64)
  std::uint32_t used = 0;  // captured: sample bytes written; playback: frames consumed
  std::uint32_t reserved1 = 0;
  std::uint32_t ownerId = 0;         // the making track's owner id; 0 in captured blocks
  std::int32_t trackIndex = 0;       // 0 Master, 1 Student; -1 in captured blocks
  std::vector<std::uint32_t> spare;  // always empty
  std::uint32_t origin = 0;          // 0 playback, 2 captured
  std::uint32_t reserved2 = 0;
  std::uint32_t reserved3 = 0;
  std::shared_ptr<CBufferData> data;
  std::uint32_t holdCount = 0;  // 1 after creation
  std::int32_t index = 0;       // -1 after creation
  std::uint32_t reserved4 = 0;
};

// A descriptor with every field zero except size, index -1, holdCount 1 and a fresh data
// block of `size` uninitialised bytes. Throws std::bad_alloc when memory runs out.
CBufferDescr* MakeBufferDescr(std::uint32_t size);

// Ends a descriptor's journey: drops its data reference and deletes it. Null is ignored.
void ReleaseBufferDescr(CBufferDescr* descr);

// The first address at or after `p` that is a multiple of 16.
std::uint8_t* AlignUp16(std::uint8_t* p);

// Header of a playback buffer: the first byte of the data block.
SoundBlockHeader* PlaybackHeader(const CBufferDescr& descr);
// Header of a captured block (and of blocks a track makes from one): the first 16-byte
// aligned address inside the data block.
SoundBlockHeader* CapturedHeader(const CBufferDescr& descr);
// The samples directly behind a header.
inline std::uint8_t* SamplesBehind(SoundBlockHeader* header) {
  return reinterpret_cast<std::uint8_t*>(header) + kSoundHeaderBytes;
}

// The block the core creates and hands to every track, the video manager, the video window
// and every engine; all of them only keep the pointer.
constexpr std::uint32_t kEngineStateMagic = 0xC0FFEE99u;
struct EngineStateBlock {
  std::uint32_t magic = kEngineStateMagic;
  std::array<std::vector<std::uint32_t>, 20> lists1;
  std::array<std::vector<std::uint32_t>, 20> lists2;
  std::recursive_mutex lock;
  std::uint32_t word = 0;
};

}  // namespace vts
