// The launcher's settings file, arguments, recorder command lines and desktop entry.
#include "launcher/launcher_settings.h"

#include <cctype>

#include "core/data_folder.h"
#include "core/file_associations.h"
#include "core/product_name.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/utf.h"

namespace vts::launcher {
namespace {

constexpr std::string_view kCrLf = "\r\n";

bool StartsLine(std::string_view text, std::size_t at) { return at == 0 || text[at - 1] == '\n'; }

// The first place at or after `from` where `needle` begins a line.
std::size_t FindAtLineStart(std::string_view text, std::string_view needle, std::size_t from) {
  for (std::size_t at = text.find(needle, from); at != std::string_view::npos;
       at = text.find(needle, at + 1)) {
    if (StartsLine(text, at)) return at;
  }
  return std::string_view::npos;
}

void ReadKey(std::string_view text, std::string_view key, std::string& value) {
  const std::optional<std::size_t> section = FindMainSection(text);
  if (!section) return;
  // The section ends where a line begins with "[" (a "[" inside a value does not end it).
  std::size_t end = FindAtLineStart(text, "[", *section);
  if (end == std::string_view::npos) end = text.size();
  const std::size_t at = FindAtLineStart(text, key, *section);
  if (at == std::string_view::npos || at >= end) return;
  const std::size_t valueStart = at + key.size();
  if (valueStart >= text.size() || text[valueStart] != '=') return;  // no blanks before "="
  const std::size_t lineEnd = text.find(kCrLf, valueStart + 1);
  if (lineEnd == std::string_view::npos) return;
  const std::size_t length = lineEnd - (valueStart + 1);
  if (length > kMaxFolderBytes) return;
  value.assign(text.substr(valueStart + 1, length));
}

bool Storable(const std::string& value) {
  return value.size() <= kMaxFolderBytes && value.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string PathIniPath() { return GetDataFilePath(kPathIniFileName); }

std::optional<std::size_t> FindMainSection(std::string_view text) {
  for (std::size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at + 1)) {
    if (text.substr(at + 1, 4) == "Main") return at + 1;
  }
  return std::nullopt;
}

void ParsePathIni(std::string_view text, DefaultFolders& folders) {
  text = text.substr(0, text.find('\0'));
  ReadKey(text, "PathSave", folders.save);
  ReadKey(text, "PathOpen", folders.open);
}

bool ReadPathIni(const std::string& path, DefaultFolders& folders) {
  std::string text;
  plat::ReadFileOptions options;
  options.maxBytes = kMaxPathIniBytes;
  if (plat::ReadWholeFile(path, &text, options) != plat::ReadFileStatus::kOk) return false;
  ParsePathIni(text, folders);
  return true;
}

std::string PathIniText(const DefaultFolders& folders) {
  const std::string save = Storable(folders.save) ? folders.save : std::string();
  const std::string open = Storable(folders.open) ? folders.open : std::string();
  return "[Main]\r\nPathSave=" + save + "\r\nPathOpen=" + open + "\r\n\r\n";
}

bool WritePathIni(const std::string& path, const DefaultFolders& folders) {
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) plat::CreateFolderChain(path.substr(0, slash));
  return plat::WriteFileAtomically(path, PathIniText(folders), plat::kModeUnderUmask);
}

LauncherArguments ParseLauncherArguments(const std::vector<std::string>& arguments) {
  LauncherArguments out;
  for (const std::string& a : arguments) {
    if (a.find("setup") != std::string::npos) out.setup = true;
    if (a.find("/PXN") != std::string::npos) out.pxn = true;
  }
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
    if (*it == "setup" || *it == "/PXN") continue;
    // Longer than the recorder's command line can carry: dropped whole, never cut.
    if (!it->empty() && plat::Utf8ToUtf16(*it).size() <= kMaxFileArgumentUnits) out.file = *it;
    break;
  }
  return out;
}

std::vector<std::vector<std::string>> RecorderArgumentLists(const LauncherArguments& arguments) {
  std::vector<std::vector<std::string>> lists =
      arguments.pxn ? std::vector<std::vector<std::string>>{{"/_p"}, {"/_s"}}
                    : std::vector<std::vector<std::string>>{{"/Pos:1"}, {"/Pos:2"}};
  if (arguments.file)
    for (auto& list : lists) list.push_back(*arguments.file);
  return lists;
}

std::string RecorderPath(const std::string& programFolder) {
  return programFolder + "/" + GetProductNameUtf8();
}

std::string DocumentsDefaultFolder() {
  const std::string folder = plat::DocumentsFolder() + "/" + GetProductNameUtf8();
  plat::CreateFolderChain(folder);
  return folder;
}

std::string LauncherDesktopEntryFileName() {
  std::string stem = GetProductNameUtf8();
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stem + "-start.desktop";
}

std::string LauncherDesktopEntryText(const std::string& launcherPath) {
  const std::string n = GetProductNameUtf8();
  const std::string exec = DesktopExecQuote(launcherPath);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         n +
         " (two positions)\n"
         "Exec=" +
         exec +
         " %f\n"
         "Terminal=false\n"
         "Categories=AudioVideo;Audio;Education;\n"
         "Actions=DefaultFolders;\n"
         "\n"
         "[Desktop Action DefaultFolders]\n"
         "Name=Default folders\n"
         "Exec=" +
         exec + " setup\n";
}

}  // namespace vts::launcher
