// The program's file associations for ".vxb", ".mp3" and ".wav": the registry store's keys
// (open-with list, file class "<name>.Document", capabilities), and the Linux desktop's own
// mechanism for them: a desktop entry for the recorder and a MIME type for ".vxb" under the
// XDG data home. Every failure is silent; the program starts all the same.
#pragma once

#include <string>

namespace vts {

// Writes everything for the running program file (or `programPath` when given).
void RegisterFileTypes(const std::string& programPath = {});

// One extension's open-with list: adds "<name>.exe" under the next letter unless a value
// already holds it (any case). Enumerates every value; adds none when the next letter would
// pass "z".
void RegisterOpenWithMru(const std::string& extension);

// The desktop entry and the MIME type, rewritten only when their text changed; the desktop's
// caches are refreshed then (when the tools are installed).
void RegisterDesktopIntegration(const std::string& programPath);

// Writes a desktop entry of "<XDG data home>/applications/" (`fileName`, e.g. "x.desktop")
// only when its text changed, and refreshes the desktop's cache then. True when written.
bool WriteDesktopEntry(const std::string& fileName, const std::string& text);

// A program path as a desktop entry's Exec argument: quoted, reserved characters escaped.
std::string DesktopExecQuote(const std::string& path);

// Names of the files RegisterDesktopIntegration writes.
std::string DesktopEntryPath();
std::string MimePackagePath();

}  // namespace vts
