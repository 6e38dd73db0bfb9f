// Known per-machine folders, in place of the Windows shell folders.
//
// With VOXTRAILSTUDY_ROOT set, every folder lies below that root:
//   <root>/data       common application-data folder
//   <root>/documents  My Documents
//   <root>/tmp        the temporary folder
//   <root>/c          what "c:\" stands for
//   <root>/registry   the registry store
//   <root>/xdg-data   desktop entries and MIME files (XDG data home)
//   <root>/run        runtime folder (pipes, locks, shared memory, window sockets)
//   <root>/config     the user settings of the libraries (Qt's file dialogs)
// Without it: XDG data home, XDG documents dir, $TMPDIR or a private /tmp/vts-<uid>,
// the home folder, ~/.local/state/voxtrailstudy/registry, XDG data home, and
// $XDG_RUNTIME_DIR/voxtrailstudy (or a private /tmp folder).
// Paths are UTF-8, without a trailing "/". Thread-safe.
#pragma once

#include <string>

namespace vts::plat {

std::string CommonAppDataFolder();
std::string DocumentsFolder();
std::string TempFolder();
std::string DriveCRoot();
std::string RegistryFolder();
std::string XdgDataHome();
std::string RuntimeFolder();  // created, mode 0700
// Where the libraries keep their own user settings: empty without a root (they keep their
// usual place then).
std::string LibrarySettingsFolder();

// Full path of the running program (/proc/self/exe) and its folder.
std::string ProgramPath();
std::string ProgramFolder();

// mkdir -p; true when the folder exists afterwards.
bool CreateFolderChain(const std::string& path, unsigned mode = 0755);

// Creates (if needed) a folder that must be private to the user: owned by us, mode 0700,
// not a symbolic link. False (and nothing created) when the path is someone else's.
bool EnsurePrivateFolder(const std::string& path);

}  // namespace vts::plat
