// The registry store, in place of the Windows registry: three hives, the default and the
// 64-bit view, REG_SZ values. Each hive (and view) is one JSON file in the registry folder,
// rewritten atomically (temp file + rename) under an flock, so two processes never lose each
// other's writes. Key paths use "\" as in the registry; key and value names compare without
// regard to ASCII case; values keep their insertion order, which is the enumeration order.
//
// HKEY_LOCAL_MACHINE lives where an ordinary user cannot write (without VOXTRAILSTUDY_ROOT:
// /var/lib/voxtrailstudy/registry; with it: <root>/registry/machine); its writes then fail.
// HKEY_CURRENT_USER has one view (as on Windows, it is not redirected); the other hives keep
// the 64-bit view apart from the default one.
//
// Thread-safe; every call outside a batch (RegBatch) reads the file afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vts::plat {

enum class Hive { HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE };

constexpr unsigned KEY_WOW64_64KEY = 0x0100;
constexpr std::uint32_t REG_SZ = 1;

struct RegValue {
  std::string name;  // "" is the key's default value
  std::uint32_t type = REG_SZ;
  std::string data;  // UTF-8 text
  // The value's size as the registry reports it: UTF-16 length with its NUL, in bytes.
  std::uint32_t SizeBytes() const;
};

// Creates the key and its parents. False when the hive cannot be written.
bool RegCreateKey(Hive hive, const std::string& keyPath, unsigned flags = 0);
bool RegKeyExists(Hive hive, const std::string& keyPath, unsigned flags = 0);

// Creates the key if needed and sets a REG_SZ value (name "" = default value). An existing
// value keeps its place in the order. False when the hive cannot be written.
bool RegSetString(Hive hive, const std::string& keyPath, const std::string& name,
                  const std::string& data, unsigned flags = 0);

std::optional<std::string> RegGetString(Hive hive, const std::string& keyPath,
                                        const std::string& name, unsigned flags = 0);

// The value at `index` in insertion order; false past the end or when the key is missing.
bool RegEnumValue(Hive hive, const std::string& keyPath, std::uint32_t index, RegValue* out,
                  unsigned flags = 0);

// All values of a key in order (empty when it is missing).
std::vector<RegValue> RegListValues(Hive hive, const std::string& keyPath, unsigned flags = 0);

// Every key path of a hive's view that exists, in creation order (for checks and tests).
std::vector<std::string> RegListKeys(Hive hive, unsigned flags = 0);

// The file that holds a hive's view.
std::string RegistryFile(Hive hive, unsigned flags = 0);

// While one lives on a thread, that thread's registry calls read each store file once, keep
// it locked (other processes wait) and write it, when something changed, once as the batch
// ends: many values set as one step. A nested batch joins the outer one. The values are
// visible to the thread at once; a failed write at the end is not reported.
class RegBatch {
 public:
  RegBatch();
  ~RegBatch();
  RegBatch(const RegBatch&) = delete;
  RegBatch& operator=(const RegBatch&) = delete;

 private:
  bool owner_ = false;
};

// How many times this process has written a store file (each write is one atomic replacement).
std::uint64_t RegStoreWrites();

}  // namespace vts::plat
