// The endpoint mixer state: "MixerData.bin" in the data folder remembers two sets of up to
// four sound endpoints (id and master volume in percent) and, per set, three line values of
// the sound adapter behind the set's output endpoint (microphone, line-in, wave). The core
// loads it at construction, which sets every remembered endpoint to its volume, unmutes it
// and sets the line values; without a valid file a fresh block is built from the present
// devices and their levels are read into it. The core saves it at destruction, so every
// start restores the levels read when the file was made.
//
// The adapter of an output endpoint is its sound card; its lines are that card's capture
// endpoints, named by their active port; a line's value is that endpoint's volume x 100.
// Threading: the thread that constructs and destroys the core; nothing else touches it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vts::audio {
class EndpointBackend;
}

namespace vts {

inline constexpr char kMixerDataFileName[] = "MixerData.bin";
inline constexpr std::uint32_t kMixerDataVersion = 2;
inline constexpr std::size_t kMixerSetBytes = 1056;
inline constexpr std::size_t kMixerBlockBytes = 2 * kMixerSetBytes;
inline constexpr std::size_t kMixerFileBytes = 4 + kMixerBlockBytes;
inline constexpr std::size_t kMixerIdUnits = 128;  // NUL included
// The capture endpoint a virtual audio cable gives, remembered in set 0 entry 2.
inline constexpr char16_t kVirtualCableCaptureName[] = u"CABLE Output (VB-Audio Virtual Cable)";

struct MixerEndpoint {
  std::u16string id;         // empty: no endpoint
  std::uint32_t volume = 0;  // percent
};

struct MixerSet {
  std::array<MixerEndpoint, 4> entries;
  std::uint32_t micLine = 0;     // percent
  std::uint32_t lineInLine = 0;  // percent
  std::uint32_t waveLine = 0;    // percent
  std::uint32_t reserved = 0;
  bool operator==(const MixerSet& other) const;
};

struct MixerBlock {
  std::array<MixerSet, 2> sets;
  bool operator==(const MixerBlock& other) const = default;
};

// The block's 2112 bytes, little-endian; an id of 128 units or more is stored empty (it
// could not end in a NUL).
std::array<std::uint8_t, kMixerBlockBytes> EncodeMixerBlock(const MixerBlock& block);
// Ids are read up to their NUL, at most 128 units.
MixerBlock DecodeMixerBlock(const std::uint8_t* bytes);

// One row of the line-name table: a line kind (0 wave, 1 microphone, 2 line-in) and a
// name searched as a case-sensitive part of a line's name.
struct MixerLineName {
  std::uint32_t kind;
  const char16_t* name;
};
extern const std::array<MixerLineName, 9> kMixerLineNames;

class CMixerState {
 public:
  // Works on `backend` (the process's default backend when null).
  explicit CMixerState(std::shared_ptr<audio::EndpointBackend> backend = nullptr);

  // save false: loads `path` (a non-empty path replaces the stored one) and applies it, or
  // builds and reads a fresh block; true when the file held version 2. save true: writes
  // the block (atomically, 2116 bytes) to the stored path; true when it was written.
  bool SerializeMixerState(bool save, const std::string& path);
  // The block from the present devices; every volume and line value 0.
  void BuildMixerDefaults();
  // loaded: the set's values are set on the devices (and each endpoint unmuted); else the
  // devices' present values are read into the set. Ends with SetEndpointLineLevels.
  void ApplyMixerLevels(bool loaded, int set);
  void SetEndpointLineLevels(bool loaded, int set);

  const MixerBlock& Block() const { return m_block; }
  MixerBlock& Block() { return m_block; }
  const std::string& Path() const { return m_path; }

 private:
  std::shared_ptr<audio::EndpointBackend> m_backend;
  std::string m_path;
  MixerBlock m_block;
};

}  // namespace vts
