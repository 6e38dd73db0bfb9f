// The package file: unpacking, writing through a temporary file, packing a folder.
#include "package/package_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "package/zip.h"
#include "platform/files.h"
#include "platform/utf.h"
#include "zip_internal.h"

namespace vts {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string ZipError(const char* what, ZipResult rc) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s (archive error 0x%X)", what, static_cast<unsigned>(rc));
  return buf;
}

// The extension of the last part of a path ("" when it has none), lower-cased.
std::string LowerExtension(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = file.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// Runs `fill` on a new archive at a temporary path and renames it over `path` on success.
template <typename Fill>
bool WriteArchiveReplacing(const std::string& path, std::string* error, Fill fill,
                           const std::string& oldVersionPath = {}) {
  plat::FileReplacement file;
  if (!oldVersionPath.empty()) file.KeepOldVersionAs(oldVersionPath);
  if (!file.Open(path, 0644) || !file.Finish()) {
    SetError(error, "cannot create a file in the folder of " + path);
    return false;
  }
  const std::string& temp = file.TempPath();
  ZipHandle* h = CreateZipWriter(temp);
  if (!h) {
    SetError(error, "cannot create " + temp);
    return false;
  }
  bool ok = fill(h);
  const ZipResult closed = CloseZipWriter(h);
  if (ok && closed != ZR_OK) {
    SetError(error, ZipError("the archive could not be completed", closed));
    ok = false;
  }
  if (ok && !file.Commit()) {
    SetError(error, "cannot replace " + path);
    ok = false;
  }
  return ok;
}

}  // namespace

std::string UnpackPackage(const std::string& packagePath, const std::string& folder,
                          const std::string& title, std::string* error) {
  ZipResult rc = ZR_OK;
  ZipHandle* h = OpenZipReaderFile(packagePath, &rc);
  if (!h) {
    SetError(error, ZipError("the package cannot be opened", rc));
    return {};
  }
  const std::string base = folder + "/" + title;
  bool failed = false;
  for (int i = 0; !failed; ++i) {
    ZipEntryInfo info;
    if (GetZipEntryInfo(h, i, info) != ZR_OK) break;
    if (info.attributes & kFileAttrDirectory) continue;
    const auto utf8 = plat::Utf16ToUtf8(info.name, plat::InvalidUtf::kRefuse);
    if (!utf8 || !IsSafeZipEntryName(*utf8)) continue;  // as the reader's extraction refuses it
    const std::string ext = LowerExtension(*utf8);
    if (ext.empty()) continue;
    // The reader never produces more than the declared size, so the declared sizes bind.
    const std::uint64_t inflated = info.uncompressedSize;
    if (inflated > kMaxPackageEntryBytes &&
        inflated > kMaxPackageEntryRatio * std::uint64_t{info.compressedSize}) {
      SetError(error, "the entry \"" + *utf8 + "\" would unpack to " +
                          std::to_string(inflated >> 20) + " MiB from " +
                          std::to_string(info.compressedSize >> 10) +
                          " KiB; it is not a lesson's sound");
      failed = true;
      break;
    }
    const std::string target = base + ext;
    plat::SetFileMode(target, 0644);
    plat::RemoveFile(target);
    plat::UniqueFd fd =
        plat::OpenFile(target, plat::kOpenWrite | plat::kOpenCreate | plat::kOpenExclusive, 0644);
    if (!fd) continue;  // as a failed extraction: the entry is skipped
    int writeErrno = 0;
    rc = ReadZipEntryData(h, i, [&](std::span<const std::uint8_t> piece) {
      errno = 0;
      if (zipdetail::WriteAll(fd.get(), piece.data(), piece.size())) return true;
      writeErrno = errno != 0 ? errno : EIO;
      return false;
    });
    if (!fd.Close() && rc == ZR_OK) {
      writeErrno = errno;
      rc = ZR_WRITE;
    }
    if (rc == ZR_OK) continue;
    plat::RemoveFile(target);  // never leave part of an entry behind
    if (writeErrno != 0) {
      SetError(error,
               "the entry \"" + *utf8 + "\" could not be written: " + std::strerror(writeErrno));
      failed = true;
    }
  }
  CloseZipReader(h);
  if (failed) {
    for (const char* ext : {".mpa", ".cif", ".txt"}) plat::RemoveFile(base + ext);
    return {};
  }
  const std::string mp3 = base + ".mp3";
  if (std::rename((base + ".mpa").c_str(), mp3.c_str()) != 0) {
    SetError(error, "the package holds no sound");
    return {};
  }
  return mp3;
}

bool WritePackage(const std::string& packagePath, const PackageParts& parts, std::string* error) {
  const bool ok = WriteArchiveReplacing(packagePath, error, [&](ZipHandle* h) {
    if (parts.hasTexts) {
      const ZipResult rc =
          AddZipEntryInternal(h->writer, parts.title + ".txt",
                              ZipSource::FromMemory(parts.texts.data(), parts.texts.size()));
      if (rc != ZR_OK) {
        SetError(error, ZipError("the texts could not be added", rc));
        return false;
      }
    }
    ZipResult rc =
        AddZipEntryInternal(h->writer, parts.title + ".mpa", ZipSource::FromFile(parts.mpaPath));
    if (rc != ZR_OK) {
      SetError(error, ZipError("the sound could not be added", rc));
      return false;
    }
    if (!parts.chunkList.empty()) {
      rc = AddZipEntryInternal(
          h->writer, parts.title + ".cif",
          ZipSource::FromMemory(parts.chunkList.data(), parts.chunkList.size()));
      if (rc != ZR_OK) {
        SetError(error, ZipError("the chunk list could not be added", rc));
        return false;
      }
    }
    return true;
  }, parts.oldVersionPath);
  plat::RemoveFile(parts.mpaPath);
  return ok;
}

bool BuildPackageFromFolder(const std::string& folder, const std::string& packagePath,
                            std::string* error) {
  std::vector<std::string> all;
  if (!plat::ListFolder(folder, &all)) {
    SetError(error, "cannot read the folder " + folder);
    return false;
  }
  std::vector<std::string> names;
  for (const std::string& n : all) {
    plat::FileStatus st;
    if (plat::StatPath(folder + "/" + n, &st) && st.kind == plat::FileKind::kRegular)
      names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return WriteArchiveReplacing(packagePath, error, [&](ZipHandle* h) {
    for (const std::string& n : names) {
      const std::string ext = LowerExtension(n);
      if (ext == ".wav") continue;
      if (folder + "/" + n == packagePath) continue;  // an older copy of the package itself
      const std::string entry = ext == ".mp3" ? n.substr(0, n.size() - 4) + ".mpa" : n;
      const ZipResult rc =
          AddZipEntryInternal(h->writer, entry, ZipSource::FromFile(folder + "/" + n));
      if (rc != ZR_OK) {
        SetError(error, ZipError(("the file " + n + " could not be added").c_str(), rc));
        return false;
      }
    }
    return true;
  });
}

}  // namespace vts
