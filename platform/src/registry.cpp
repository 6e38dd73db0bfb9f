// The registry store: one JSON document per hive and view, read and rewritten under a lock.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/notice.h"
#include "platform/utf.h"

namespace vts::plat {
namespace {

using nlohmann::ordered_json;

std::mutex g_mutex;  // flock is per open file; this keeps threads of one process in line too
std::atomic<std::uint64_t> g_storeWrites{0};

// A store deeper than this, or larger, is not one this program wrote: writing it back would
// recurse without bound or fill the disk.
constexpr int kMaxStoreDepth = 64;
constexpr std::uintmax_t kMaxStoreBytes = 16u << 20;

bool IsStringOrAbsent(const ordered_json& object, const char* name) {
  auto it = object.find(name);
  return it == object.end() || it->is_string();
}

// Why a parsed document is not a store (empty when it is one). Every access below relies on it.
std::string StoreShapeProblem(const ordered_json& doc) {
  if (!doc.is_object()) return "not a JSON object";
  auto keys = doc.find("keys");
  if (keys == doc.end() || !keys->is_array()) return "no \"keys\" list";
  for (const auto& k : *keys) {
    if (!k.is_object()) return "a key that is not an object";
    auto path = k.find("path");
    if (path == k.end() || !path->is_string()) return "a key without a text path";
    auto values = k.find("values");
    if (values == k.end() || !values->is_array()) return "a key without a \"values\" list";
    for (const auto& v : *values) {
      if (!v.is_object()) return "a value that is not an object";
      auto name = v.find("name");
      if (name == v.end() || !name->is_string()) return "a value without a text name";
      if (!IsStringOrAbsent(v, "data")) return "a value whose data is not text";
      auto type = v.find("type");
      if (type != v.end() && !type->is_number_unsigned())
        return "a value whose type is not a number";
    }
  }
  return {};
}

// Reads the store at `path`: the document, or the reason it cannot be used.
bool ReadStore(const std::string& path, ordered_json* doc, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;  // no store yet
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::uintmax_t>(in.tellg());
  if (size > kMaxStoreBytes) {
    *why = "larger than " + std::to_string(kMaxStoreBytes >> 20) + " MiB";
    return false;
  }
  in.seekg(0);
  std::stringstream ss;
  ss << in.rdbuf();
  bool tooDeep = false;
  ordered_json::parser_callback_t limit = [&](int depth, ordered_json::parse_event_t,
                                              ordered_json&) {
    if (depth > kMaxStoreDepth) tooDeep = true;
    return !tooDeep;
  };
  ordered_json parsed = ordered_json::parse(ss.str(), limit, /*allow_exceptions=*/false);
  if (tooDeep) {
    *why = "nested deeper than " + std::to_string(kMaxStoreDepth) + " levels";
    return false;
  }
  if (parsed.is_discarded()) {
    *why = "not valid JSON";
    return false;
  }
  *why = StoreShapeProblem(parsed);
  if (!why->empty()) return false;
  *doc = std::move(parsed);
  return true;
}

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

// The lock on a folder of stores (one ".lock" beside them); flock is per open file, so a
// thread holds each folder's lock once however many of its stores it has open.
struct FolderLock {
  int fd = -1;
  bool exclusive = false;
  ~FolderLock() {
    if (fd >= 0) close(fd);  // releases the flock
  }
};

// Locks a folder of stores; null when it cannot be locked for the purpose.
std::shared_ptr<FolderLock> LockFolder(const std::string& folder, bool forWrite) {
  if (forWrite && !CreateFolderChain(folder, 0700)) return nullptr;
  auto lock = std::make_shared<FolderLock>();
  int fd =
      open((folder + "/.lock").c_str(), (forWrite ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (forWrite) return nullptr;
    return lock;  // nothing written there yet: nothing to wait for
  }
  flock(fd, forWrite ? LOCK_EX : LOCK_SH);
  lock->fd = fd;
  lock->exclusive = forWrite;
  return lock;
}

// A store read under its folder's lock and written back once by its holder.
struct OpenStore {
  std::string path;
  std::shared_ptr<FolderLock> lock;
  ordered_json doc;
  bool writable = false;
  bool dirty = false;

  bool Write() {
    g_storeWrites.fetch_add(1, std::memory_order_relaxed);
    return WriteFileAtomically(
        path, doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n",
        kModeUnderUmask);
  }
};

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

// Reads the store at `path` under `lock`, already held.
std::unique_ptr<OpenStore> ReadLocked(const std::string& path, std::shared_ptr<FolderLock> lock) {
  auto store = std::make_unique<OpenStore>();
  store->path = path;
  store->writable = lock->exclusive;
  store->lock = std::move(lock);
  std::string why;
  if (!ReadStore(path, &store->doc, &why)) {
    // Kept beside the store for a person to look at; the program goes on with an empty one.
    MoveUnreadableAside(path, why);
    store->doc = nullptr;
  }
  if (!store->doc.is_object()) {
    store->doc = ordered_json::object();
    store->doc["keys"] = ordered_json::array();
  }
  return store;
}

// Locks and reads the store at `path`; null when it cannot be opened for the purpose.
std::unique_ptr<OpenStore> OpenLocked(const std::string& path, bool forWrite) {
  auto lock = LockFolder(FolderOf(path), forWrite);
  if (!lock) return nullptr;
  return ReadLocked(path, std::move(lock));
}

// The batch of this thread, when one is open: its stores stay locked and read until it ends.
struct BatchStores {
  std::unique_lock<std::mutex> guard{g_mutex};
  std::vector<std::unique_ptr<OpenStore>> stores;

  // The batch locks a folder for writing even to read a store: it may write it later.
  std::shared_ptr<FolderLock> LockFor(const std::string& folder) {
    for (auto& s : stores) {
      if (FolderOf(s->path) == folder) return s->lock;
    }
    if (auto lock = LockFolder(folder, true)) return lock;
    return LockFolder(folder, false);
  }
};
thread_local BatchStores* t_batch = nullptr;

class LockedStore {
 public:
  LockedStore(Hive hive, unsigned flags, bool forWrite) {
    const std::string path = RegistryFile(hive, flags);
    if (!t_batch) {
      guard_ = std::unique_lock<std::mutex>(g_mutex);
      own_ = OpenLocked(path, forWrite);
      store_ = own_.get();
      return;
    }
    for (auto& s : t_batch->stores) {
      if (s->path == path) store_ = s.get();
    }
    if (!store_) {
      auto lock = t_batch->LockFor(FolderOf(path));
      if (!lock) return;
      t_batch->stores.push_back(ReadLocked(path, std::move(lock)));
      store_ = t_batch->stores.back().get();
    }
    if (forWrite && !store_->writable) store_ = nullptr;
  }
  bool ok() const { return store_ != nullptr; }

  ordered_json* FindKey(const std::string& keyPath) {
    std::string want = Fold(NormalizeKey(keyPath));
    for (auto& k : Doc()["keys"]) {
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
        Doc()["keys"].push_back(std::move(k));
        found = &Doc()["keys"].back();
      }
      if (next == std::string::npos) break;
      pos = next + 1;
    }
    return found;
  }

  ordered_json& Doc() { return store_->doc; }

  // Inside a batch the store is written when the batch ends.
  bool Save() {
    if (t_batch) {
      store_->dirty = true;
      return true;
    }
    return store_->Write();
  }

 private:
  std::unique_lock<std::mutex> guard_;
  std::unique_ptr<OpenStore> own_;
  OpenStore* store_ = nullptr;
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

RegBatch::RegBatch() {
  if (t_batch) return;  // nested: the outer batch writes
  t_batch = new BatchStores();
  owner_ = true;
}

RegBatch::~RegBatch() {
  if (!owner_) return;
  BatchStores* batch = t_batch;
  t_batch = nullptr;
  for (auto& s : batch->stores) {
    if (s->dirty) s->Write();
  }
  delete batch;
}

std::uint64_t RegStoreWrites() { return g_storeWrites.load(std::memory_order_relaxed); }

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
  const bool created = store.FindKey(keyPath) == nullptr;
  ordered_json* key = store.CreateKey(keyPath);
  std::string want = Fold(name);
  bool set = false;
  for (auto& v : (*key)["values"]) {
    if (Fold(v["name"].get<std::string>()) == want) {
      if (v.value("type", REG_SZ) == REG_SZ && v.value("data", "") == data && !created)
        return true;  // nothing changed: the store stays as it is
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
