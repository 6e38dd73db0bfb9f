// A track's private folder of temporary chunk files, below the user's temporary folder.
//
// The folder is emptied at start, so it must be ours: owned by the user, mode 0700, not a
// symbolic link. Every level of the chain is checked; a folder that fails the check is
// never used (and never emptied).
#pragma once

#include <cstdint>
#include <string>

namespace vts {

// Makes "<temp>/Voxtrailstudy/TempSnd/<name>/" private and returns it with a trailing "/";
// empty (and the reason in *why) when a level cannot be made or is not ours.
std::string MakeTrackTempFolder(const std::string& name, std::string* why = nullptr);

// Deletes every non-folder entry of `folder` (failures ignored). Does nothing unless the
// folder is ours (see above). Returns the number of entries deleted.
int ClearPrivateFolder(const std::string& folder);

// Creates a new empty file "<prefix><hex>.tmp" with a name unused in `folder` and returns its
// name (no folder part); empty when no name could be had (errno tells why).
std::string CreateUniqueTempFile(const std::string& folder, const std::string& prefix);

// Writes `size` bytes to a file created anew (mode 0600). False on any failure, a short
// write (full disk) included; a partly written file is left for the next attempt.
bool WriteWholeFile(const std::string& path, const void* data, std::uint64_t size);

}  // namespace vts
