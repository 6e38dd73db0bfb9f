// File associations in the registry store and the XDG desktop entry / MIME type.
#include "core/file_associations.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/product_name.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace vts {
namespace {

using plat::Hive;

const char* const kExtensions[] = {".vxb", ".mp3", ".wav"};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void SetBothViews(Hive hive, const std::string& key, const std::string& data) {
  plat::RegSetString(hive, key, "", data, 0);
  plat::RegSetString(hive, key, "", data, plat::KEY_WOW64_64KEY);
}

// Writes the file only when its text differs; true when it was written.
bool WriteIfChanged(const std::string& path, const std::string& text) {
  std::string old;
  if (plat::ReadWholeFile(path, &old) == plat::ReadFileStatus::kOk && old == text) return false;
  std::string folder = path.substr(0, path.find_last_of('/'));
  if (!plat::CreateFolderChain(folder)) return false;
  return plat::WriteFileAtomically(path, text, plat::kModeUnderUmask);
}

std::string FileStem() { return Lower(GetProductNameUtf8()); }

// The desktop's index tools run at every start on the UI thread: a tool that hangs (a busy
// or broken desktop) must not keep the window from showing.
constexpr std::chrono::seconds kDesktopToolLimit{3};

void RunDesktopTool(const std::string& program, const std::vector<std::string>& args) {
  if (plat::RunQuietlyAndWait(program, args, kDesktopToolLimit) == plat::ToolRun::kLeftRunning) {
    WriteLog(LOG_MAIN, program + " still runs after " + std::to_string(kDesktopToolLimit.count()) +
                           " s; it is left to finish on its own");
  }
}

}  // namespace

std::string DesktopExecQuote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      out += "\\\\";  // the backslash itself is escaped once more by the string rules
      out += c;
    } else if (c == '%') {
      out += "%%";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool WriteDesktopEntry(const std::string& fileName, const std::string& text) {
  const std::string folder = plat::XdgDataHome() + "/applications";
  if (!WriteIfChanged(folder + "/" + fileName, text)) return false;
  RunDesktopTool("update-desktop-database", {folder});
  return true;
}

void RegisterOpenWithMru(const std::string& extension) {
  const std::string n = GetProductNameUtf8();
  const std::string exe = n + ".exe";
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" +
                          extension + "\\OpenWithList";
  if (!plat::RegCreateKey(Hive::HKEY_CURRENT_USER, key)) return;

  std::string mru;
  char highest = 0;
  for (const plat::RegValue& v : plat::RegListValues(Hive::HKEY_CURRENT_USER, key)) {
    if (Lower(v.data) == Lower(exe)) return;
    if (Lower(v.name) == "mrulist") mru = v.data;
    if (v.name.size() == 1 && std::isalpha(static_cast<unsigned char>(v.name[0]))) {
      char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(v.name[0])));
      if (letter > highest) highest = letter;
    }
  }
  if (highest == 'z') return;  // no letter left
  const char next = highest ? static_cast<char>(highest + 1) : 'a';
  const std::string name(1, next);
  if (!plat::RegSetString(Hive::HKEY_CURRENT_USER, key, name, exe)) return;
  plat::RegSetString(Hive::HKEY_CURRENT_USER, key, "MRUList", Lower(mru + name));
}

void RegisterFileTypes(const std::string& programPath) {
  const std::string n = GetProductNameUtf8();
  const std::string e = programPath.empty() ? plat::ProgramPath() : programPath;
  const std::string d = n + ".Document";
  const std::string command = "\"" + e + "\" \"%1\"";
  const std::string icon = "\"" + e + "\", 0";
  {
    // Each store is written once, and only when a value changed.
    plat::RegBatch batch;

    for (const char* x : kExtensions) RegisterOpenWithMru(x);
    for (const char* x : kExtensions) SetBothViews(Hive::HKEY_CLASSES_ROOT, x, d);
    plat::RegSetString(Hive::HKEY_CURRENT_USER,
                       "Software\\Classes\\Applications\\" + n + ".exe\\shell\\open\\command", "",
                       command);
    SetBothViews(Hive::HKEY_CLASSES_ROOT, d + "\\shell\\open\\command", command);
    SetBothViews(Hive::HKEY_CLASSES_ROOT, d + "\\DefaultIcon", icon);

    // Capabilities; without the right to write HKEY_LOCAL_MACHINE these fail silently.
    const Hive lm = Hive::HKEY_LOCAL_MACHINE;
    const std::string caps = "Software\\Norvath\\" + n + "\\Capabilities";
    plat::RegSetString(lm, "Software\\Classes\\" + d + "\\Shell\\open\\command", "", command);
    plat::RegSetString(lm, "Software\\Classes\\" + d + "\\DefaultIcon", "", icon);
    plat::RegSetString(lm, caps, "ApplicationDescription", n + " language training tool");
    plat::RegSetString(lm, caps, "ApplicationName", n);
    plat::RegSetString(lm, caps + "\\FileAssociations", ".mp3", d);
    plat::RegSetString(lm, caps + "\\FileAssociations", ".wav", d);
    plat::RegSetString(lm, caps + "\\FileAssociations", ".vxb", d);
    plat::RegSetString(lm, "Software\\RegisteredApplications", n, caps);
  }
  // The association-changed notice and the default-program request: the desktop's own files,
  // written after the stores are unlocked (the desktop's tools may take seconds).
  RegisterDesktopIntegration(e);
}

std::string DesktopEntryPath() {
  return plat::XdgDataHome() + "/applications/" + FileStem() + ".desktop";
}

std::string MimePackagePath() {
  return plat::XdgDataHome() + "/mime/packages/" + FileStem() + "-vxb.xml";
}

void RegisterDesktopIntegration(const std::string& programPath) {
  const std::string n = GetProductNameUtf8();
  const std::string vxbType = "application/x-" + FileStem() + "-vxb";

  std::string mime =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" +
      vxbType +
      "\">\n"
      "    <comment>" +
      n +
      " package</comment>\n"
      "    <glob pattern=\"*.vxb\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  // The .wav and .mp3 types put the recorder in their open-with lists.
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      n +
      "\n"
      "Comment=" +
      n +
      " language training tool\n"
      "Exec=" +
      DesktopExecQuote(programPath) +
      " %f\n"
      "Terminal=false\n"
      "Categories=AudioVideo;Audio;Education;\n"
      "MimeType=" +
      vxbType + ";audio/x-wav;audio/wav;audio/vnd.wave;audio/mpeg;audio/x-mp3;\n";

  if (WriteIfChanged(MimePackagePath(), mime))
    RunDesktopTool("update-mime-database", {plat::XdgDataHome() + "/mime"});
  WriteDesktopEntry(FileStem() + ".desktop", entry);
}

}  // namespace vts
