// Path functions.
#include "core/paths.h"

#include <cctype>
#include <vector>

#include "platform/files.h"

namespace vts {
namespace {

size_t NameStart(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string_view FileName(std::string_view path) { return path.substr(NameStart(path)); }

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// "*" any run, "?" any one byte, everything else literal (also "[" and "\\"), ASCII case folded.
bool Matches(std::string_view pat, std::string_view name) {
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == '?' || Fold(pat[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

}  // namespace

void ReplaceExtension(std::string& path, std::string_view ext) {
  size_t start = NameStart(path);
  size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && dot >= start) {
    path.resize(dot + 1);
  } else {
    path += '.';
  }
  path += ext;
}

std::string OldVersionPath(std::string_view path) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot < NameStart(path)) dot = path.size();
  std::string old(path.substr(0, dot));
  old += " - Old";
  old += path.substr(dot);
  return old;
}

std::string GetFileNameOfPath(std::string_view path) { return std::string(FileName(path)); }

std::string GetExtensionOfPath(std::string_view path) {
  std::string_view name = FileName(path);
  size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return std::string();
  return std::string(name.substr(dot + 1));
}

bool ExtensionEquals(std::string_view path, std::string_view upperExt) {
  std::string ext = GetExtensionOfPath(path);
  if (ext.empty() && FileName(path).find('.') == std::string_view::npos) return false;
  if (ext.size() > 63) return false;
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == upperExt;
}

bool ResolveWildcardPath(std::string& pattern) {
  size_t start = NameStart(pattern);
  std::string folder =
      start == 0 ? std::string(".") : pattern.substr(0, start == 1 ? 1 : start - 1);
  std::string namePattern = pattern.substr(start);
  if (namePattern.empty()) return false;

  if (!HasWildcard(namePattern)) {
    plat::FileStatus st;
    if (plat::StatPath(pattern, &st)) return true;
  }
  std::vector<std::string> names;
  if (!plat::ListFolder(folder, &names)) return false;
  std::vector<std::string> matches;
  for (const std::string& n : names)
    if (Matches(namePattern, n)) matches.push_back(n);
  if (matches.empty()) return false;
  std::string best = matches.front();
  for (const std::string& m : matches) {
    if (m == namePattern) {
      best = m;
      break;
    }
    if (m < best) best = m;
  }
  pattern.resize(start);
  pattern += best;
  return true;
}

}  // namespace vts
