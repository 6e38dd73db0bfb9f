// The registry store: one JSON document per hive and view, read and rewritten under a lock.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/utf.h"

namespace vts::plat {
namespace {

using nlohmann::ordered_json;

std::mutex g_mutex;  // flock is per open file; this keeps threads of one process in line too

std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "a\\b\\\\c\\" -> "a\\b\\c"
std::string NormalizeKey(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string MachineFolder() {
  const char* root = std::getenv("VOXTRAILSTUDY_ROOT");
  if (root && *root) return RegistryFolder() + "/machine";
  return "/var/lib/voxtrailstudy/registry";
}

const char* HiveName(Hive h) {
  switch (h) {
    case Hive::HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
    case Hive::HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    default:
      return "HKEY_LOCAL_MACHINE";
  }
}

class LockedStore {
 public:
  LockedStore(Hive hive, unsigned flags, bool forWrite)
      : guard_(g_mutex), path_(RegistryFile(hive, flags)) {
    std::string folder = path_.substr(0, path_.find_last_of('/'));
    if (forWrite && !CreateFolderChain(folder, 0700)) return;
    int fd = open((folder + "/.lock").c_str(), (forWrite ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC,
                  0600);
    if (fd < 0) {
      if (forWrite) return;
    } else {
      flock(fd, forWrite ? LOCK_EX : LOCK_SH);
      lockFd_ = fd;
    }
    ok_ = true;
    std::ifstream in(path_, std::ios::binary);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      doc_ = ordered_json::parse(ss.str(), nullptr, false);
    }
    if (!doc_.is_object() || !doc_.contains("keys") || !doc_["keys"].is_array()) {
      doc_ = ordered_json::object();
      doc_["keys"] = ordered_json::array();
    }
  }
  ~LockedStore() {
    if (lockFd_ >= 0) close(lockFd_);  // releases the flock
  }
  bool ok() const { return ok_; }

  ordered_json* FindKey(const std::string& keyPath) {
    std::string want = Fold(NormalizeKey(keyPath));
    for (auto& k : doc_["keys"]) {
      if (Fold(k["path"].get<std::string>()) == want) return &k;
    }
    return nullptr;
  }

  // Creates the key and every parent, in order.
  ordered_json* CreateKey(const std::string& keyPath) {
    std::string norm = NormalizeKey(keyPath);
    ordered_json* found = nullptr;
    size_t pos = 0;
    while (true) {
      size_t next = norm.find('\\', pos);
      std::string prefix = norm.substr(0, next);
      found = FindKey(prefix);
      if (!found) {
        ordered_json k = ordered_json::object();
        k["path"] = prefix;
        k["values"] = ordered_json::array();
        doc_["keys"].push_back(std::move(k));
        found = &doc_["keys"].back();
      }
      if (next == std::string::npos) break;
      pos = next + 1;
    }
    return found;
  }

  ordered_json& Doc() { return doc_; }

  bool Save() { return WriteFileAtomically(path_, doc_.dump(2) + "\n", kModeUnderUmask); }

 private:
  std::lock_guard<std::mutex> guard_;
  std::string path_;
  int lockFd_ = -1;
  bool ok_ = false;
  ordered_json doc_;
};

RegValue ToValue(const ordered_json& v) {
  RegValue r;
  r.name = v.value("name", "");
  r.type = v.value("type", REG_SZ);
  r.data = v.value("data", "");
  return r;
}

}  // namespace

std::uint32_t RegValue::SizeBytes() const {
  return static_cast<std::uint32_t>((Utf8ToUtf16(data).size() + 1) * 2);
}

std::string RegistryFile(Hive hive, unsigned flags) {
  std::string folder = hive == Hive::HKEY_LOCAL_MACHINE ? MachineFolder() : RegistryFolder();
  std::string view = (hive != Hive::HKEY_CURRENT_USER && (flags & KEY_WOW64_64KEY)) ? "-64" : "";
  return folder + "/" + HiveName(hive) + view + ".json";
}

bool RegCreateKey(Hive hive, const std::string& keyPath, unsigned flags) {
  LockedStore store(hive, flags, true);
  if (!store.ok()) return false;
  if (store.FindKey(keyPath)) return true;
  store.CreateKey(keyPath);
  return store.Save();
}

bool RegKeyExists(Hive hive, const std::string& keyPath, unsigned flags) {
  LockedStore store(hive, flags, false);
  return store.ok() && store.FindKey(keyPath) != nullptr;
}

bool RegSetString(Hive hive, const std::string& keyPath, const std::string& name,
                  const std::string& data, unsigned flags) {
  LockedStore store(hive, flags, true);
  if (!store.ok()) return false;
  ordered_json* key = store.CreateKey(keyPath);
  std::string want = Fold(name);
  bool set = false;
  for (auto& v : (*key)["values"]) {
    if (Fold(v["name"].get<std::string>()) == want) {
      v["type"] = REG_SZ;
      v["data"] = data;
      set = true;
      break;
    }
  }
  if (!set) {
    ordered_json v = ordered_json::object();
    v["name"] = name;
    v["type"] = REG_SZ;
    v["data"] = data;
    (*key)["values"].push_back(std::move(v));
  }
  return store.Save();
}

std::optional<std::string> RegGetString(Hive hive, const std::string& keyPath,
                                        const std::string& name, unsigned flags) {
  LockedStore store(hive, flags, false);
  if (!store.ok()) return std::nullopt;
  ordered_json* key = store.FindKey(keyPath);
  if (!key) return std::nullopt;
  std::string want = Fold(name);
  for (auto& v : (*key)["values"]) {
    if (Fold(v["name"].get<std::string>()) == want && v.value("type", REG_SZ) == REG_SZ)
      return v.value("data", "");
  }
  return std::nullopt;
}

bool RegEnumValue(Hive hive, const std::string& keyPath, std::uint32_t index, RegValue* out,
                  unsigned flags) {
  LockedStore store(hive, flags, false);
  if (!store.ok()) return false;
  ordered_json* key = store.FindKey(keyPath);
  if (!key || index >= (*key)["values"].size()) return false;
  *out = ToValue((*key)["values"][index]);
  return true;
}

std::vector<RegValue> RegListValues(Hive hive, const std::string& keyPath, unsigned flags) {
  std::vector<RegValue> out;
  LockedStore store(hive, flags, false);
  if (!store.ok()) return out;
  if (ordered_json* key = store.FindKey(keyPath)) {
    for (auto& v : (*key)["values"]) out.push_back(ToValue(v));
  }
  return out;
}

std::vector<std::string> RegListKeys(Hive hive, unsigned flags) {
  std::vector<std::string> out;
  LockedStore store(hive, flags, false);
  if (!store.ok()) return out;
  for (auto& k : store.Doc()["keys"]) out.push_back(k["path"].get<std::string>());
  return out;
}

}  // namespace vts::plat
