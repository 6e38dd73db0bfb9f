// Files and folders: reading a whole file as a single snapshot, replacing one atomically,
// renaming without overwriting, facts about a path, listing and removing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fd.h"

namespace vts::plat {

enum class ReadFileStatus {
  kOk,
  kOpenFailed,  // missing or not readable
  kNotRegular,  // a folder, device, pipe ...
  kTooLarge,    // over the caller's limit
  kReadFailed,  // a read error, or the file changed size while being read
};

struct ReadFileOptions {
  std::size_t maxBytes = SIZE_MAX;
  bool followSymlink = true;  // false: a symbolic link at path is refused
};

// Reads the whole regular file at path into out (cleared on failure). Never blocks on a pipe
// or device at path.
ReadFileStatus ReadWholeFile(const std::string& path, std::string* out,
                             const ReadFileOptions& options = {});
ReadFileStatus ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* out,
                             const ReadFileOptions& options = {});

// Creation mode of a replacement file: an exact mode, or what a plain creation gives
// (0666 under the process's umask).
constexpr int kModeUnderUmask = -1;

// A new version of the file at path, written under a temporary name in the same folder and
// put in place by Commit(): readers see the old file or the complete new one, never a part.
// Destroying it without a successful Commit() removes the temporary file and leaves the old
// file as it was. One thread at a time.
class FileReplacement {
 public:
  FileReplacement() = default;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement() { Discard(); }

  // Creates the temporary file (mode: exact, or kModeUnderUmask). False (with the reason) when the
  // folder refuses it.
  bool Open(const std::string& path, int mode, std::string* error = nullptr);
  // The temporary file, for writers that take a path or a descriptor.
  const std::string& TempPath() const { return temp_; }
  int Fd() const { return fd_.get(); }

  bool Write(const void* data, std::size_t n);
  // Overwrites bytes already written (a header completed at the end).
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t n);
  // Syncs and closes the descriptor, for writers that go on by path; false when a write
  // error shows only now (a full disk).
  bool Finish();
  // Syncs the data, renames the temporary file over path and syncs the folder. On failure
  // the temporary file is removed and the old file stays.
  bool Commit(std::string* error = nullptr);
  // The file at path, when there is one, keeps a second name `oldPath` from the commit on
  // (see KeepOldVersion). Set before Commit.
  void KeepOldVersionAs(std::string oldPath) { keepOldAs_ = std::move(oldPath); }
  // Renames without syncing or closing, for a file used as shared memory: the descriptor
  // (and any lock on it) goes to fd.
  bool CommitKeepingOpen(UniqueFd* fd);
  void Discard();
  // Hands the temporary file to the caller, who removes it; nothing is renamed.
  std::string ReleaseTemp();

 private:
  bool RenameIntoPlace(std::string* error);

  std::string path_;
  std::string temp_;
  std::string keepOldAs_;
  UniqueFd fd_;
  bool failed_ = false;
};

// Gives the file at `path` the second name `oldPath`, so that it stays there when `path` is
// replaced next: a hard link, or, where the file system has none, a rename (then `path` is
// free until the caller puts its new file there). Never over an existing file: when
// `oldPath` is taken, the first free of `oldPath` with "[1]", "[2]", ... before its extension.
// False when nothing was done (no file at `path`, or an error).
bool KeepOldVersion(const std::string& path, const std::string& oldPath);

// Removes the temporary files that replacements (FileReplacement) of processes no longer
// running left in `folder`: regular files of this user named like theirs. The count removed.
int RemoveStaleReplacements(const std::string& folder);

// Replaces the file at path with bytes as one step (see FileReplacement).
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         int mode = 0644, std::string* error = nullptr);
bool WriteFileAtomically(const std::string& path, std::string_view bytes, int mode = 0644,
                         std::string* error = nullptr);

// True when the file at path can be opened for reading now.
bool CanOpenForReading(const std::string& path);

// True when something (of any kind) is at path.
bool PathExists(const std::string& path);

// Renames from to to, failing (with errno EEXIST) when something is at to already.
bool RenameNoReplace(const std::string& from, const std::string& to);

// ---- facts about paths

enum class FileKind { kRegular, kFolder, kSymlink, kOther };

struct FileStatus {
  FileKind kind = FileKind::kOther;
  std::uint64_t size = 0;
  unsigned mode = 0;             // permission bits
  bool ownedByThisUser = false;  // owned by the process's effective user
  std::int64_t accessTime = 0;   // seconds since 1970
  std::int64_t modificationTime = 0;
  std::int64_t changeTime = 0;
};

// Facts about path (about a symbolic link itself unless followSymlink); false when absent.
bool StatPath(const std::string& path, FileStatus* status, bool followSymlink = true);
bool StatFd(int fd, FileStatus* status);
// A name in an open folder, not following a symbolic link.
bool StatIn(int folderFd, const std::string& name, FileStatus* status);

// The names in a folder, without "." and ".."; false when it cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>* names);

bool RemoveFile(const std::string& path);
bool SetFileMode(const std::string& path, unsigned mode);
// Sets the access and modification times (seconds since 1970) of an open file.
bool SetFileTimes(int fd, std::int64_t accessTime, std::int64_t modificationTime);

// Creates one folder; true when it exists as a folder afterwards.
bool CreateFolder(const std::string& path, unsigned mode = 0755);

// The process's current folder ("." when unknown).
std::string CurrentFolder();
// The path with symbolic links, "." and ".." resolved; the path itself when that fails.
std::string CanonicalPath(const std::string& path);
// The user's home folder: $HOME, else the password database; empty when neither knows.
std::string HomeFolder();

// Opens a folder that must be private to this user: a folder (not a symbolic link) owned by
// us and closed to others. Invalid otherwise.
UniqueFd OpenPrivateFolder(const std::string& path);
// Removes the files (not the subfolders) of an open folder; the count removed.
int RemoveFilesIn(int folderFd);

// Opens a folder of ours to every user: mode 0777 and a default ACL giving everyone
// read, write and search on what is created in it. Nothing happens to a folder that is
// someone else's or a symbolic link.
void GrantEveryoneFullAccess(const std::string& folder);

}  // namespace vts::plat
