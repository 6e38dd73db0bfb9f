// The product-variant name: a table from the build's variant key to its display name.
#include "core/product_name.h"

#include <unordered_map>

#include "platform/utf.h"

#ifndef VTS_VARIANT_KEY
#error "VTS_VARIANT_KEY must be defined by the build"
#endif

namespace vts {

const char16_t* GetProductName() {
  // Built once on first use; the static's initialisation is thread-safe.
  static const std::unordered_map<int, const char16_t*> names = {
      {0, u"Voxtrailstudy"},
      {1, u"Lectorine"},
      {2, u"Parlanza"},
  };
  static const char16_t* const name = [] {
    auto it = names.find(VTS_VARIANT_KEY);
    return it == names.end() ? u"Unknown" : it->second;
  }();
  return name;
}

const std::string& GetProductNameUtf8() {
  static const std::string name = plat::Utf16ToUtf8(GetProductName());
  return name;
}

}  // namespace vts
