// The launcher's own settings and decisions, without any window: its settings file
// "VoxtrailstudyPath.ini" (two default folders), its arguments, the two recorder command
// lines and its desktop entry. Plain computations and file reads; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vts::launcher {

inline constexpr char kPathIniFileName[] = "VoxtrailstudyPath.ini";
// A folder value holds at most this many bytes; a longer one is neither read nor written.
inline constexpr std::size_t kMaxFolderBytes = 259;
// A file argument longer than this (in UTF-16 units) is dropped, not cut.
inline constexpr std::size_t kMaxFileArgumentUnits = 1019;
// A larger settings file counts as unreadable.
inline constexpr std::uint64_t kMaxPathIniBytes = 64 * 1024;

// The two default folders (UTF-8); empty when not set.
struct DefaultFolders {
  std::string save;  // "PathSave": where exercises are saved
  std::string open;  // "PathOpen": where files are opened from
  bool operator==(const DefaultFolders&) const = default;
};

// "<common app data>/<variant>/VoxtrailstudyPath.ini"; the folder is created first.
std::string PathIniPath();

// Offset of the "Main" section's start in the text (just after its "["): the first "["
// directly followed by "Main" (so "[MainX]" counts too). None when there is none.
std::optional<std::size_t> FindMainSection(std::string_view text);

// Reads "PathSave" and "PathOpen" of the "Main" section into `folders`. A key counts only at
// the start of a line, directly followed by "="; the section ends at the next line that
// begins with "["; a value runs to the next CR LF and holds at most 259 bytes. A key that is
// missing or breaks a rule leaves its folder as it was. The text ends at its first NUL.
void ParsePathIni(std::string_view text, DefaultFolders& folders);

// Reads the file whole and parses it. True when the file was read whole, with or without the
// keys; false when it does not open, cannot be read whole or is larger than 64 KiB.
bool ReadPathIni(const std::string& path, DefaultFolders& folders);

// "[Main]" CR LF "PathSave=" save CR LF "PathOpen=" open CR LF CR LF. A value that could not
// be read back unchanged (over 259 bytes, or holding CR or LF) is written empty.
std::string PathIniText(const DefaultFolders& folders);

// Writes the text whole and atomically (folder created first). False when that fails.
bool WritePathIni(const std::string& path, const DefaultFolders& folders);

// What the launcher's arguments (those after the program name) ask for.
struct LauncherArguments {
  bool setup = false;               // an argument contains "setup"
  bool pxn = false;                 // an argument contains "/PXN"
  std::optional<std::string> file;  // the last argument that is not exactly "setup" or "/PXN"
};
LauncherArguments ParseLauncherArguments(const std::vector<std::string>& arguments);

// The arguments of the two recorder starts: {"/Pos:1", file} and {"/Pos:2", file}, or with
// pxn {"/_p", file} and {"/_s", file}; without a file only the switch.
std::vector<std::vector<std::string>> RecorderArgumentLists(const LauncherArguments& arguments);

// The recorder program beside the launcher: `programFolder` + "/" + the variant name.
std::string RecorderPath(const std::string& programFolder);

// "<documents>/<variant>": the default for an empty folder; created.
std::string DocumentsDefaultFolder();

// The launcher's desktop entry: "<variant in lower case>-start.desktop" and its text, with
// the launcher's path in Exec and an action "Default folders" that runs it with "setup".
std::string LauncherDesktopEntryFileName();
std::string LauncherDesktopEntryText(const std::string& launcherPath);

}  // namespace vts::launcher
