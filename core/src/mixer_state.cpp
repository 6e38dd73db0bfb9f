// The endpoint mixer state: "MixerData.bin" and the levels it pins.
#include "core/mixer_state.h"

#include <algorithm>
#include <cmath>

#include "audio/endpoint.h"
#include "core/log.h"
#include "core/settings_files.h"
#include "platform/files.h"
#include "platform/utf.h"

namespace vts {
namespace {

constexpr std::size_t kIdBytes = kMixerIdUnits * 2;
// Offsets within a set.
constexpr std::size_t kEntryId[4] = {0, 272, 532, 792};
constexpr std::size_t kEntryVolume[4] = {256, 528, 788, 1048};
constexpr std::size_t kMicLine = 260, kLineInLine = 264, kWaveLine = 268, kReserved = 1052;

void PutU32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetU32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
         std::uint32_t(at[3]) << 24;
}

std::uint32_t& LineField(MixerSet& set, std::uint32_t kind) {
  return kind == 1 ? set.micLine : kind == 2 ? set.lineInLine : set.waveLine;
}

std::u16string Wide(const std::string& utf8) { return plat::Utf8ToUtf16(utf8); }
std::string Utf8(const std::u16string& wide) { return plat::Utf16ToUtf8(wide); }

// An endpoint id as the block keeps it: one that cannot end in a NUL within 128 units is
// not kept (it would be cut into another endpoint's id).
std::u16string KeptId(const std::string& id) {
  std::u16string wide = Wide(id);
  return wide.size() < kMixerIdUnits ? wide : std::u16string();
}

// A level as whole percent, truncated. The server keeps volumes in 1/65536 steps, so a level
// set as 59 % reads back as 58.9996 %: a hundredth of a percent below a whole one counts.
std::uint32_t Percent(float level) {
  const double percent = std::clamp(double(level), 0.0, 1.0) * 100.0 + 0.01;
  return std::min<std::uint32_t>(100, static_cast<std::uint32_t>(percent));
}

}  // namespace

const std::array<MixerLineName, 9> kMixerLineNames = {{
    {1, u"Pink In"},
    {1, u"Mic"},
    {1, u"Front Mic"},
    {1, u"Microfono"},
    {2, u"Line-In"},
    {2, u"Line In"},
    {2, u"Blue In"},
    {2, u"Linea in ingresso"},
    {0, u"Wave"},
}};

bool MixerSet::operator==(const MixerSet& o) const {
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].id != o.entries[i].id || entries[i].volume != o.entries[i].volume) return false;
  return micLine == o.micLine && lineInLine == o.lineInLine && waveLine == o.waveLine &&
         reserved == o.reserved;
}

std::array<std::uint8_t, kMixerBlockBytes> EncodeMixerBlock(const MixerBlock& block) {
  std::array<std::uint8_t, kMixerBlockBytes> bytes{};
  for (std::size_t s = 0; s < 2; ++s) {
    std::uint8_t* set = bytes.data() + s * kMixerSetBytes;
    const MixerSet& m = block.sets[s];
    for (std::size_t e = 0; e < 4; ++e) {
      const std::u16string& id = m.entries[e].id;
      if (id.size() < kMixerIdUnits) {
        for (std::size_t i = 0; i < id.size(); ++i) {
          set[kEntryId[e] + 2 * i] = static_cast<std::uint8_t>(id[i] & 0xFF);
          set[kEntryId[e] + 2 * i + 1] = static_cast<std::uint8_t>(id[i] >> 8);
        }
      }
      PutU32(set + kEntryVolume[e], m.entries[e].volume);
    }
    PutU32(set + kMicLine, m.micLine);
    PutU32(set + kLineInLine, m.lineInLine);
    PutU32(set + kWaveLine, m.waveLine);
    PutU32(set + kReserved, m.reserved);
  }
  return bytes;
}

MixerBlock DecodeMixerBlock(const std::uint8_t* bytes) {
  MixerBlock block;
  for (std::size_t s = 0; s < 2; ++s) {
    const std::uint8_t* set = bytes + s * kMixerSetBytes;
    MixerSet& m = block.sets[s];
    for (std::size_t e = 0; e < 4; ++e) {
      std::u16string id;
      for (std::size_t i = 0; i < kMixerIdUnits; ++i) {
        const char16_t unit =
            static_cast<char16_t>(set[kEntryId[e] + 2 * i] | set[kEntryId[e] + 2 * i + 1] << 8);
        if (unit == 0) break;
        id.push_back(unit);
      }
      m.entries[e].id = std::move(id);
      m.entries[e].volume = GetU32(set + kEntryVolume[e]);
    }
    m.micLine = GetU32(set + kMicLine);
    m.lineInLine = GetU32(set + kLineInLine);
    m.waveLine = GetU32(set + kWaveLine);
    m.reserved = GetU32(set + kReserved);
  }
  return block;
}

CMixerState::CMixerState(std::shared_ptr<audio::EndpointBackend> backend)
    : m_backend(backend ? std::move(backend) : audio::DefaultBackend()) {}

bool CMixerState::SerializeMixerState(bool save, const std::string& path) {
  if (!path.empty()) m_path = path;
  if (save) {
    if (m_path.empty()) return false;
    std::string bytes(kMixerFileBytes, '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(bytes.data());
    PutU32(out, kMixerDataVersion);
    const auto block = EncodeMixerBlock(m_block);
    std::copy(block.begin(), block.end(), out + 4);
    if (!WriteFileAtomically(m_path, bytes)) {
      WriteLog(LOG_MAIN, "Mixer state: " + m_path + " could not be written");
      return false;
    }
    return true;
  }

  auto fresh = [this] {
    BuildMixerDefaults();
    ApplyMixerLevels(false, 0);
    ApplyMixerLevels(false, 1);
  };
  // Only the first 2116 bytes count; a file far larger is no mixer state.
  std::string file;
  plat::ReadFileOptions options;
  options.maxBytes = 1 << 20;
  if (plat::ReadWholeFile(m_path, &file, options) != plat::ReadFileStatus::kOk) {
    fresh();
    return false;
  }
  std::array<std::uint8_t, kMixerFileBytes> bytes{};
  const std::size_t got = std::min(file.size(), bytes.size());
  std::copy_n(reinterpret_cast<const std::uint8_t*>(file.data()), got, bytes.begin());
  if (got < 4 || GetU32(bytes.data()) != kMixerDataVersion) {
    fresh();
    return false;
  }
  bool loaded = got == kMixerFileBytes;
  if (loaded) {
    m_block = DecodeMixerBlock(bytes.data() + 4);
  } else {
    BuildMixerDefaults();
  }
  ApplyMixerLevels(loaded, 0);
  ApplyMixerLevels(loaded, 1);
  return true;
}

void CMixerState::BuildMixerDefaults() {
  m_block = MixerBlock{};
  if (!m_backend) return;
  audio::EndpointBackend& b = *m_backend;
  MixerSet& s0 = m_block.sets[0];
  MixerSet& s1 = m_block.sets[1];

  if (auto render = b.GetDefaultEndpoint(DataFlow::Render)) s0.entries[0].id = KeptId(render->id);
  for (const audio::EndpointInfo& e : b.EnumerateEndpoints(DataFlow::Render)) {
    const std::u16string id = KeptId(e.id);
    if (!id.empty() && id != s0.entries[0].id) {
      s1.entries[0].id = id;
      break;
    }
  }
  if (s1.entries[0].id.empty()) s1.entries[0].id = s0.entries[0].id;

  const std::vector<audio::EndpointInfo> captures = b.EnumerateEndpoints(DataFlow::Capture);
  if (auto capture = b.GetDefaultEndpoint(DataFlow::Capture)) {
    s0.entries[1].id = KeptId(capture->id);
    s0.entries[3].id.clear();
    s0.entries[2].id.clear();
    for (const audio::EndpointInfo& e : captures) {
      if (Wide(e.name) == kVirtualCableCaptureName) {
        s0.entries[2].id = KeptId(e.id);
        break;
      }
    }
  }
  for (const audio::EndpointInfo& e : captures) {
    const std::u16string id = KeptId(e.id);
    if (!id.empty() && id != s0.entries[1].id) {
      s1.entries[1].id = id;
      s1.entries[2].id.clear();
      s1.entries[3].id.clear();
      break;
    }
  }
  if (s1.entries[1].id.empty())
    for (int i = 1; i < 4; ++i) s1.entries[i].id = s0.entries[i].id;
}

void CMixerState::ApplyMixerLevels(bool loaded, int set) {
  if (set < 0 || set > 1) return;
  if (m_backend) {
    for (MixerEndpoint& entry : m_block.sets[set].entries) {
      if (entry.id.empty()) continue;
      std::unique_ptr<audio::EndpointVolume> volume =
          audio::OpenEndpointVolume(*m_backend, Utf8(entry.id));
      if (!volume) continue;  // gone: its remembered values stay
      if (loaded) {
        // A value beyond 100 % is no level; it is left alone.
        if (entry.volume <= 100)
          volume->SetMasterVolumeLevelScalar(static_cast<float>(entry.volume) / 100.0f);
        volume->SetMute(false);
      } else {
        float level = 0.0f;
        if (volume->GetMasterVolumeLevelScalar(&level) == audio::Status::Ok)
          entry.volume = Percent(level);
      }
    }
  }
  SetEndpointLineLevels(loaded, set);
}

void CMixerState::SetEndpointLineLevels(bool loaded, int set) {
  if (set < 0 || set > 1 || !m_backend) return;
  MixerSet& s = m_block.sets[set];
  if (s.entries[0].id.empty()) return;
  for (const audio::EndpointInfo& line : m_backend->AdapterLines(Utf8(s.entries[0].id))) {
    const std::u16string name = Wide(line.name);
    for (const MixerLineName& row : kMixerLineNames) {
      if (name.find(row.name) == std::u16string::npos) continue;
      std::unique_ptr<audio::EndpointVolume> volume =
          audio::OpenEndpointVolume(*m_backend, line.id);
      if (!volume) continue;
      std::uint32_t& field = LineField(s, row.kind);
      if (loaded) {
        // 0 is the line's lowest level; a value beyond 100 % is left alone.
        if (field <= 100) volume->SetMasterVolumeLevelScalar(static_cast<float>(field) / 100.0f);
      } else {
        float level = 0.0f;
        if (volume->GetMasterVolumeLevelScalar(&level) == audio::Status::Ok) field = Percent(level);
      }
    }
  }
}

}  // namespace vts
