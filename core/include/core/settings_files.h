// Settings files of the data folder: the wave-device settings file (JSON under an ".ini"
// name), "RecorderPaths.json" and "URLList.txt".
//
// Every file is written whole and atomically: the text is built first, then written to a
// temporary file beside the target and renamed over it, so a text that cannot be encoded
// never truncates the old file and two recorders ending together never leave a torn one.
// Reading never throws: broken or hand-edited files load as "no file" or, for single
// members of the wrong type, as if that member were missing.
//
// The functions hold no state; callers on any thread may use them on different paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace vts {

// JSON documents keep their members in the order written (and in a file's own order).
using SettingsJson = nlohmann::ordered_json;

inline constexpr char kRecorderPathsFileName[] = "RecorderPaths.json";
inline constexpr char kUrlListFileName[] = "URLList.txt";

// "LastOpenPath" is stored as this many UTF-16 code units: the text, then zeros.
inline constexpr std::size_t kLastOpenPathUnits = 1024;
// "URLList.txt" larger than this many bytes is not loaded.
inline constexpr std::uint64_t kUrlListMaxBytes = 0x100000;

// "Voxtrailstudy.ini", "VoxtrailstudySt1.ini", "VoxtrailstudySt2.ini" for positions 0, 1, 2
// (the fixed base name, whatever the variant). Other positions get the position-0 name.
std::string WaveDeviceSettingsFileName(std::uint32_t position);

// --- wave-device settings ---------------------------------------------------------------

// Reads {"Wave":{"WaveDeviceOut":…,"WaveDeviceIn":…}}. True when the file opened and is
// valid JSON; only names that the file holds as strings replace the given ones (a stored
// trailing NUL is dropped). False, with both names unchanged, when the file does not open
// or is not valid JSON.
bool ReadWaveDeviceSettings(std::u16string& outputName, std::u16string& inputName,
                            const std::string& path);

// The file's text: dump with indent 4 and one newline. None when a name is not valid
// UTF-16 (an unpaired surrogate), since it could not be read back unchanged.
std::optional<std::string> WaveDeviceSettingsText(std::u16string_view outputName,
                                                  std::u16string_view inputName);

// Writes the file anew (atomically). False when the text cannot be built or written; the
// former file is then left as it was.
bool WriteWaveDeviceSettings(std::u16string_view outputName, std::u16string_view inputName,
                             const std::string& path);

// --- RecorderPaths.json --------------------------------------------------------------------

// The document of the file; null when the file is missing, unreadable or not valid JSON.
SettingsJson LoadRecorderPaths(const std::string& path);

// Writes the document as dump with indent 4 plus a newline ("null" for a null document).
// False when it cannot be written (or holds text that is not UTF-8); the former file stays.
bool WriteRecorderPaths(const SettingsJson& document, const std::string& path);

// "Main"/"LastOpenPath": the text up to the first zero unit. None when the member is
// missing, not an array of 16-bit unsigned numbers, or holds an empty text.
std::optional<std::u16string> GetLastOpenPath(const SettingsJson& document);

// Sets "Main"/"LastOpenPath" to exactly 1024 units: the path (cut to 1023 units so that a
// zero always ends it) followed by zeros. A document or "Main" that is not an object is
// replaced by one.
void SetLastOpenPath(SettingsJson& document, std::u16string_view path);

// --- URLList.txt ----------------------------------------------------------------------------

// The text after the byte-order mark FF FE (an odd last byte is dropped). A missing file is
// created holding the mark alone (an empty list) and gives none. None also for an empty,
// unmarked or larger than 1 MiB file; an empty text for a file that holds only the mark.
std::optional<std::u16string> LoadUrlList(const std::string& path);

// Writes FF FE and the text in UTF-16LE, replacing the former content (atomically).
bool WriteUrlList(std::u16string_view text, const std::string& path);

// --- the settings the core keeps from start to end ---------------------------------------

// What the core loads from the data folder at start and writes back at the end.
struct DataFolderSettings {
  std::string pathsFilePath;              // full path of "RecorderPaths.json"
  SettingsJson pathsDocument;             // null when the file was missing or broken
  std::optional<std::u16string> urlList;  // "URLList.txt" without its mark; none if not loaded

  // The URL list's length in UTF-16 units (0 when not loaded).
  std::uint32_t UrlListLength() const {
    return urlList ? static_cast<std::uint32_t>(urlList->size()) : 0;
  }
};

// Start: loads "RecorderPaths.json" and "URLList.txt" from `dataFolder` (which must exist).
DataFolderSettings LoadDataFolderSettings(const std::string& dataFolder);
// The same from the data folder of this machine (created when missing).
DataFolderSettings LoadDataFolderSettings();

// End: writes "RecorderPaths.json" and then the wave-device settings file at
// `waveSettingsPath` (skipped when that path is empty). True when both were written.
bool SaveDataFolderSettings(const DataFolderSettings& settings, const std::string& waveSettingsPath,
                            std::u16string_view outputName, std::u16string_view inputName);

// --- helpers ---------------------------------------------------------------------------------

// Writes `bytes` to a fresh temporary file in the target's folder and renames it over
// `path`. False (and no temporary left behind) when any step fails.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace vts
