// The ".vxb" package file on top of the ZIP container: unpacking it into a track's temporary
// folder, writing it from a track's texts, MP3 and chunk list, and packing a folder. Writing
// never destroys an existing package before the new one is complete: the archive is written
// to a temporary file beside the target and renamed over it only when every step succeeded.
//
// Plain file work; call from the load or save thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vts {

// Extracts every entry whose file name has an extension to `folder`/`title` + that extension
// (lower-cased; any earlier file of that name is replaced), skips folder entries and names
// without an extension, then renames `title`.mpa to `title`.mp3. An entry whose data is damaged
// is skipped. The whole unpacking fails, leaving no file of the failing entry, when an entry
// would inflate to more than kMaxPackageEntryBytes and more than kMaxPackageEntryRatio times
// its compressed size (a bomb, not sound: MP3 barely compresses), or when a file cannot be
// written whole (a full disk). Returns the MP3's path, or "" when the package cannot be
// opened, fails as above, or holds no ".mpa". `error` (optional) gets a reason.
inline constexpr std::uint64_t kMaxPackageEntryBytes = 64ull << 20;
inline constexpr std::uint64_t kMaxPackageEntryRatio = 50;

std::string UnpackPackage(const std::string& packagePath, const std::string& folder,
                          const std::string& title, std::string* error = nullptr);

struct PackageParts {
  std::string title;                        // entry names: title.txt, title.mpa, title.cif
  bool hasTexts = false;                    // whether the texts entry is written
  std::span<const std::uint8_t> texts;      // the ".txt" body
  std::string mpaPath;                      // the encoded MP3 file; deleted once added
  std::span<const std::uint8_t> chunkList;  // the ".cif" body; empty: no ".cif" entry
  // Not empty: a package at the target keeps this second name once the new one is
  // complete (plat::KeepOldVersion), right before the new one replaces it.
  std::string oldVersionPath;
};

// Writes the package at `packagePath` with the entries texts (when present), MP3, chunk list,
// in this order. False with `error` set when anything failed; the previous file at
// `packagePath` is then untouched and no partial file remains. The MP3 file is removed in
// both cases.
bool WritePackage(const std::string& packagePath, const PackageParts& parts,
                  std::string* error = nullptr);

// Packs the files of `folder` (sorted by name, no sub-folders): ".mp3" files under the name
// with ".mpa", ".wav" files left out, every other file under its own name.
bool BuildPackageFromFolder(const std::string& folder, const std::string& packagePath,
                            std::string* error = nullptr);

}  // namespace vts
