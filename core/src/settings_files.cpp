// Settings files of the data folder: reading without exceptions, writing whole and atomically.
#include "core/settings_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "core/data_folder.h"
#include "platform/files.h"
#include "platform/utf.h"

namespace vts {

namespace {

// Deeper documents are refused at load: writing them back would recurse without bound.
constexpr std::size_t kMaxJsonDepth = 64;

// The whole content of a regular file; none when it cannot be opened or read.
std::optional<std::string> ReadRegularFile(const std::string& path) {
  std::string text;
  if (plat::ReadWholeFile(path, &text) != plat::ReadFileStatus::kOk) return std::nullopt;
  return text;
}

std::optional<SettingsJson> ParseJson(const std::string& text, std::size_t maxDepth) {
  bool tooDeep = false;
  SettingsJson::parser_callback_t limit = [&](int depth, SettingsJson::parse_event_t,
                                              SettingsJson&) {
    if (static_cast<std::size_t>(depth) > maxDepth) tooDeep = true;
    return !tooDeep;
  };
  SettingsJson value =
      SettingsJson::parse(text, maxDepth == SIZE_MAX ? nullptr : limit, /*allow_exceptions=*/false);
  if (value.is_discarded() || tooDeep) return std::nullopt;
  return value;
}

// dump(4) plus a newline; none when the document holds text that is not UTF-8.
std::optional<std::string> DumpText(const SettingsJson& value) {
  try {
    std::string text = value.dump(4);
    text.push_back('\n');
    return text;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A string member of an object, or null when absent or of another type.
const SettingsJson* StringMember(const SettingsJson& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return nullptr;
  return &*it;
}

// The name as the core keeps it: no trailing NUL (older writers stored the terminator).
std::optional<std::u16string> DeviceNameFromJson(const SettingsJson& value) {
  auto name = plat::Utf8ToUtf16(value.get_ref<const std::string&>(), plat::InvalidUtf::kRefuse);
  if (!name) return std::nullopt;
  while (!name->empty() && name->back() == u'\0') name->pop_back();
  return name;
}

}  // namespace

std::string WaveDeviceSettingsFileName(std::uint32_t position) {
  switch (position) {
    case 1:
      return "VoxtrailstudySt1.ini";
    case 2:
      return "VoxtrailstudySt2.ini";
    default:
      return "Voxtrailstudy.ini";
  }
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  // 0666 under the umask, as a plain file creation gives.
  return plat::WriteFileAtomically(path, bytes, plat::kModeUnderUmask);
}

// --- wave-device settings ---------------------------------------------------------------

bool ReadWaveDeviceSettings(std::u16string& outputName, std::u16string& inputName,
                            const std::string& path) {
  const auto text = ReadRegularFile(path);
  if (!text) return false;
  const auto document = ParseJson(*text, SIZE_MAX);
  if (!document) return false;
  if (!document->is_object()) return true;
  const auto wave = document->find("Wave");
  if (wave == document->end()) return true;
  if (const SettingsJson* out = StringMember(*wave, "WaveDeviceOut")) {
    if (auto name = DeviceNameFromJson(*out)) outputName = std::move(*name);
  }
  if (const SettingsJson* in = StringMember(*wave, "WaveDeviceIn")) {
    if (auto name = DeviceNameFromJson(*in)) inputName = std::move(*name);
  }
  return true;
}

std::optional<std::string> WaveDeviceSettingsText(std::u16string_view outputName,
                                                  std::u16string_view inputName) {
  auto out = plat::Utf16ToUtf8(outputName, plat::InvalidUtf::kRefuse);
  auto in = plat::Utf16ToUtf8(inputName, plat::InvalidUtf::kRefuse);
  if (!out || !in) return std::nullopt;
  SettingsJson document = SettingsJson::object();
  SettingsJson& wave = document["Wave"];
  wave = SettingsJson::object();
  wave["WaveDeviceOut"] = std::move(*out);
  wave["WaveDeviceIn"] = std::move(*in);
  return DumpText(document);
}

bool WriteWaveDeviceSettings(std::u16string_view outputName, std::u16string_view inputName,
                             const std::string& path) {
  const auto text = WaveDeviceSettingsText(outputName, inputName);
  return text && WriteFileAtomically(path, *text);
}

// --- RecorderPaths.json --------------------------------------------------------------------

SettingsJson LoadRecorderPaths(const std::string& path) {
  const auto text = ReadRegularFile(path);
  if (!text) return nullptr;
  auto document = ParseJson(*text, kMaxJsonDepth);
  if (!document) return nullptr;
  return std::move(*document);
}

bool WriteRecorderPaths(const SettingsJson& document, const std::string& path) {
  const auto text = DumpText(document);
  return text && WriteFileAtomically(path, *text);
}

std::optional<std::u16string> GetLastOpenPath(const SettingsJson& document) {
  if (!document.is_object()) return std::nullopt;
  const auto main = document.find("Main");
  if (main == document.end() || !main->is_object()) return std::nullopt;
  const auto units = main->find("LastOpenPath");
  if (units == main->end() || !units->is_array()) return std::nullopt;
  std::u16string path;
  for (const auto& unit : *units) {
    std::uint64_t value;
    if (unit.is_number_unsigned()) {
      value = unit.get<std::uint64_t>();
    } else if (unit.is_number_integer()) {
      const auto signedValue = unit.get<std::int64_t>();
      if (signedValue < 0) return std::nullopt;
      value = static_cast<std::uint64_t>(signedValue);
    } else {
      return std::nullopt;
    }
    if (value > 0xFFFF) return std::nullopt;
    if (value == 0) break;
    path.push_back(static_cast<char16_t>(value));
  }
  if (path.empty()) return std::nullopt;
  return path;
}

void SetLastOpenPath(SettingsJson& document, std::u16string_view path) {
  if (!document.is_object()) document = SettingsJson::object();
  SettingsJson& main = document["Main"];
  if (!main.is_object()) main = SettingsJson::object();
  SettingsJson units = SettingsJson::array();
  const std::size_t used = std::min(path.size(), kLastOpenPathUnits - 1);
  for (std::size_t i = 0; i < kLastOpenPathUnits; ++i)
    units.push_back(static_cast<std::uint32_t>(i < used ? path[i] : 0));
  main["LastOpenPath"] = std::move(units);
}

// --- URLList.txt ----------------------------------------------------------------------------

std::optional<std::u16string> LoadUrlList(const std::string& path) {
  // A missing list is created as an empty list in the file's own form, the byte-order mark
  // alone, and gives no text (as the first start leaves it).
  if (!plat::PathExists(path)) {
    WriteUrlList(u"", path);
    return std::nullopt;
  }
  std::string bytes;
  plat::ReadFileOptions limit;
  limit.maxBytes = kUrlListMaxBytes;
  if (plat::ReadWholeFile(path, &bytes, limit) != plat::ReadFileStatus::kOk) return std::nullopt;
  if (bytes.size() < 2) return std::nullopt;
  if (static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
    return std::nullopt;
  std::u16string text;
  const std::size_t units = (bytes.size() - 2) / 2;
  text.resize(units);
  for (std::size_t i = 0; i < units; ++i) {
    const auto lo = static_cast<unsigned char>(bytes[2 + 2 * i]);
    const auto hi = static_cast<unsigned char>(bytes[3 + 2 * i]);
    text[i] = static_cast<char16_t>(lo | (hi << 8));
  }
  return text;
}

bool WriteUrlList(std::u16string_view text, const std::string& path) {
  std::string bytes;
  bytes.reserve(2 + 2 * text.size());
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0xFE));
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return WriteFileAtomically(path, bytes);
}

// --- the settings the core keeps --------------------------------------------------------

DataFolderSettings LoadDataFolderSettings(const std::string& dataFolder) {
  DataFolderSettings settings;
  settings.pathsFilePath = dataFolder + "/" + kRecorderPathsFileName;
  settings.pathsDocument = LoadRecorderPaths(settings.pathsFilePath);
  settings.urlList = LoadUrlList(dataFolder + "/" + kUrlListFileName);
  return settings;
}

DataFolderSettings LoadDataFolderSettings() { return LoadDataFolderSettings(GetDataFolder()); }

bool SaveDataFolderSettings(const DataFolderSettings& settings, const std::string& waveSettingsPath,
                            std::u16string_view outputName, std::u16string_view inputName) {
  bool ok = !settings.pathsFilePath.empty() &&
            WriteRecorderPaths(settings.pathsDocument, settings.pathsFilePath);
  if (!waveSettingsPath.empty())
    ok = WriteWaveDeviceSettings(outputName, inputName, waveSettingsPath) && ok;
  return ok;
}

}  // namespace vts
