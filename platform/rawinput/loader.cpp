// Loads the raw-input library by absolute path and resolves its three functions.
#include <dlfcn.h>

#include "platform/known_folders.h"
#include "platform/rawinput.h"

namespace vts::plat {

std::string DefaultRawInputLibraryPath() { return ProgramFolder() + "/" + kRawInputLibraryName; }

RawInputLibrary::Status RawInputLibrary::Load(const std::string& absolutePath,
                                              std::string* detail) {
  if (status_ == Status::Loaded) return status_;
  if (absolutePath.empty() || absolutePath[0] != '/') {
    // A bare or relative name would make dlopen search; only the file beside us will do.
    if (detail) *detail = "not an absolute path: " + absolutePath;
    return status_ = Status::LibraryMissing;
  }
  void* h = dlopen(absolutePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (const char* e = dlerror(); e && detail) *detail = e;
    return status_ = Status::LibraryMissing;
  }
  handle_ = h;
  select_ = reinterpret_cast<SelectRawInputDevicesFn>(dlsym(h, "SelectRawInputDevices"));
  unsubscribe_ =
      reinterpret_cast<UnsubscribeRawInputDevicesFn>(dlsym(h, "UnsubscribeRawInputDevices"));
  deinitialize_ = reinterpret_cast<DeinitializeRawInputFn>(dlsym(h, "DeinitializeRawInput"));
  if (!select_) {
    if (detail) *detail = "SelectRawInputDevices not found in " + absolutePath;
    return status_ = Status::SelectMissing;
  }
  return status_ = Status::Loaded;
}

bool RawInputLibrary::Select(std::uint64_t window, std::uint32_t uiThreadId,
                             std::uint32_t processId, std::uint32_t position,
                             const RawInputRect& area) const {
  if (!select_) return false;
  select_(window, uiThreadId, processId, position, area);
  return true;
}

bool RawInputLibrary::Unsubscribe(std::uint32_t position) const {
  if (!unsubscribe_) return false;
  unsubscribe_(position);
  return true;
}

bool RawInputLibrary::Deinitialize() const {
  if (!deinitialize_) return false;
  deinitialize_();
  return true;
}

}  // namespace vts::plat
