// Known folders: XDG locations by default, everything below VOXTRAILSTUDY_ROOT when it is set.
#include "platform/known_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace vts::plat {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string StripTrailingSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string Root() { return StripTrailingSlash(Env("VOXTRAILSTUDY_ROOT")); }

std::string Home() {
  std::string h = Env("HOME");
  if (h.empty()) {
    if (passwd* pw = getpwuid(getuid())) h = pw->pw_dir ? pw->pw_dir : "";
  }
  if (h.empty()) h = "/";
  return StripTrailingSlash(h);
}

// An absolute XDG variable, else the default below the home folder.
std::string XdgDir(const char* var, const char* fallbackBelowHome) {
  std::string v = Env(var);
  if (!v.empty() && v[0] == '/') return StripTrailingSlash(v);
  return Home() + "/" + fallbackBelowHome;
}

// XDG_DOCUMENTS_DIR from the environment or from user-dirs.dirs, else ~/Documents.
std::string XdgDocuments() {
  std::string v = Env("XDG_DOCUMENTS_DIR");
  if (!v.empty() && v[0] == '/') return StripTrailingSlash(v);
  std::ifstream in(XdgDir("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = "XDG_DOCUMENTS_DIR=";
    auto pos = line.find(key);
    if (pos == std::string::npos || line.find_first_not_of(" \t") != pos) continue;
    std::string value = line.substr(pos + key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = Home() + value.substr(5);
    if (!value.empty() && value[0] == '/') return StripTrailingSlash(value);
  }
  return Home() + "/Documents";
}

// A private per-user folder under /tmp. When the usual name is taken by someone else (or
// is a symbolic link), a fresh random one is made once for this process instead.
std::string PrivateTmpBelowTmp(const char* tag) {
  std::string p = "/tmp/vts-" + std::string(tag) + std::to_string(getuid());
  if (EnsurePrivateFolder(p)) return p;
  static std::mutex mutex;
  static std::map<std::string, std::string> fallbacks;
  std::lock_guard lock(mutex);
  auto it = fallbacks.find(p);
  if (it != fallbacks.end()) return it->second;
  std::string tmpl = p + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) return p;
  fallbacks[p] = tmpl;
  return tmpl;
}

}  // namespace

bool CreateFolderChain(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    size_t next = path.find('/', pos + 1);
    cur = path.substr(0, next);
    if (!cur.empty() && cur != "/") {
      if (mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) {
        struct stat st;
        if (stat(cur.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
      }
    }
    pos = next;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EnsurePrivateFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    std::string parent = path.substr(0, path.find_last_of('/'));
    if (!parent.empty() && !CreateFolderChain(parent)) return false;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (lstat(path.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 0777) != 0700 && chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

std::string LibrarySettingsFolder() {
  std::string root = Root();
  return root.empty() ? std::string() : root + "/config";
}

std::string CommonAppDataFolder() {
  std::string root = Root();
  if (!root.empty()) return root + "/data";
  return XdgDir("XDG_DATA_HOME", ".local/share");
}

std::string DocumentsFolder() {
  std::string root = Root();
  if (!root.empty()) return root + "/documents";
  return XdgDocuments();
}

std::string TempFolder() {
  std::string root = Root();
  if (!root.empty()) return root + "/tmp";
  std::string t = Env("TMPDIR");
  if (!t.empty() && t[0] == '/') return StripTrailingSlash(t);
  return PrivateTmpBelowTmp("");
}

std::string DriveCRoot() {
  std::string root = Root();
  if (!root.empty()) return root + "/c";
  return Home();
}

std::string RegistryFolder() {
  std::string root = Root();
  if (!root.empty()) return root + "/registry";
  return XdgDir("XDG_STATE_HOME", ".local/state") + "/voxtrailstudy/registry";
}

std::string XdgDataHome() {
  std::string root = Root();
  if (!root.empty()) return root + "/xdg-data";
  return XdgDir("XDG_DATA_HOME", ".local/share");
}

std::string RuntimeFolder() {
  std::string root = Root();
  std::string p;
  if (!root.empty()) {
    p = root + "/run";
  } else {
    std::string xdg = Env("XDG_RUNTIME_DIR");
    if (xdg.empty() || xdg[0] != '/') return PrivateTmpBelowTmp("run-");
    p = StripTrailingSlash(xdg) + "/voxtrailstudy";
  }
  EnsurePrivateFolder(p);
  return p;
}

std::string ProgramPath() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string ProgramFolder() {
  std::string p = ProgramPath();
  auto slash = p.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : p.substr(0, slash);
}

}  // namespace vts::plat
