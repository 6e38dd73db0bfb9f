// Path functions on UTF-8 paths with "/" as the separator. Only ResolveWildcardPath touches
// the file system. The extension of a path is always taken from its file name (the part
// after the last "/", or the whole path when it has none), never from a folder name.
#pragma once

#include <string>
#include <string_view>

namespace vts {

// Replaces the file name's extension with `ext` (given without the full stop), or appends
// "." + ext when the name has none: "/a/take.wav" + "cif" -> "/a/take.cif".
void ReplaceExtension(std::string& path, std::string_view ext);

// The name a file keeps when a Save-As replaces it: " - Old" before the file name's last "."
// (at its end when it has none): "/a/lesson.vxb" -> "/a/lesson - Old.vxb".
std::string OldVersionPath(std::string_view path);

// The file name with its extension: the text after the last "/" (the whole path without one).
std::string GetFileNameOfPath(std::string_view path);

// The file name's extension without the full stop, case unchanged; empty when it has none.
std::string GetExtensionOfPath(std::string_view path);

// Looks the pattern up (wildcards "*" and "?" in the file-name part; names compare without
// regard to case, as on the original file system). On a match the file-name part is replaced
// by the name found on disk and true is returned; otherwise the pattern stays and false is
// returned. With a plain path it is a file-exists test. An exact-case match wins; among several
// matches the first in byte order is taken.
bool ResolveWildcardPath(std::string& pattern);

// True when the file name's extension, upper-cased, equals `upperExt` exactly ("MP3", "WAV").
// No extension, or one longer than 63 bytes: false.
bool ExtensionEquals(std::string_view path, std::string_view upperExt);

}  // namespace vts
