// The build's product-variant name.
#pragma once

#include <string>

namespace vts {

// The variant's display name ("Voxtrailstudy", "Lectorine", "Parlanza") or "Unknown".
// Never null; the same pointer on every call and thread.
const char16_t* GetProductName();
// The same name in UTF-8, for file names and logs.
const std::string& GetProductNameUtf8();

}  // namespace vts
