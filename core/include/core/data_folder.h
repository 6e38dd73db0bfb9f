// The data folder: the common application-data folder + "/" + the product-variant name.
// It holds "RecorderPaths.json", "URLList.txt", "MixerData.bin" and the wave-device settings.
#pragma once

#include <string>

namespace vts {

// The data folder's path (no trailing "/"), created with its parents when missing. A folder
// that cannot be created is not reported; the file operations that follow fail instead.
std::string GetDataFolder();

// GetDataFolder() + "/" + fileName.
std::string GetDataFilePath(const std::string& fileName);

// Opens the data folder to every user when it is a folder shared by the users of the machine,
// i.e. when it lies outside the user's home: group and others may read, write and enter it,
// and files made in it later get the same rights (a default ACL). A data folder inside the
// home stays the user's own, since a world-writable folder there would let other users plant
// files. Every failure is ignored. Called once per start, right after the folder is created.
void GrantDataFolderAccess(const std::string& folder);

// True when `path` lies inside the user's home folder ($HOME, else the password entry).
bool IsInsideHome(const std::string& path);

}  // namespace vts
