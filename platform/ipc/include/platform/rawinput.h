// The raw-input library and its loader. The library (librawinput.so, our own, standing in
// for "Rawinput.dll") lies beside the program and is loaded by its absolute path only, never
// through a library search path; it is never unloaded.
//
// Exported functions, C calling convention, results ignored by the recorder:
//   SelectRawInputDevices(window, UI thread id, process id, position, screen area)
//   UnsubscribeRawInputDevices(position)
//   DeinitializeRawInput()
// The library keeps the subscriptions and logs them to <runtime>/rawinput.log; it does not
// route input devices to positions.
//
// Threading: Load once (UI thread); the calls then from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace vts::plat {

// RECT: 16 bytes, passed by value.
struct RawInputRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};
static_assert(sizeof(RawInputRect) == 16);

// The library's file name and where the program looks for it (its own folder).
constexpr const char* kRawInputLibraryName = "librawinput.so";
std::string DefaultRawInputLibraryPath();

using SelectRawInputDevicesFn = int (*)(std::uint64_t window, std::uint32_t uiThreadId,
                                        std::uint32_t processId, std::uint32_t position,
                                        RawInputRect area);
using UnsubscribeRawInputDevicesFn = int (*)(std::uint32_t position);
using DeinitializeRawInputFn = int (*)();

class RawInputLibrary {
 public:
  enum class Status {
    NotLoaded,
    Loaded,          // the library and SelectRawInputDevices are there
    LibraryMissing,  // "Error loading RawInput.dll"
    SelectMissing,   // "Error initializing RawInput.dll"
  };

  // Loads the library from an absolute path (a relative one is refused as missing) and
  // looks up its functions. *detail gets the loader's reason on failure.
  Status Load(const std::string& absolutePath, std::string* detail = nullptr);
  Status GetStatus() const { return status_; }

  // Each returns false when the library or the function is missing (nothing is called).
  bool Select(std::uint64_t window, std::uint32_t uiThreadId, std::uint32_t processId,
              std::uint32_t position, const RawInputRect& area) const;
  bool Unsubscribe(std::uint32_t position) const;
  bool Deinitialize() const;

 private:
  Status status_ = Status::NotLoaded;
  void* handle_ = nullptr;  // never closed: the library stays loaded for the process
  SelectRawInputDevicesFn select_ = nullptr;
  UnsubscribeRawInputDevicesFn unsubscribe_ = nullptr;
  DeinitializeRawInputFn deinitialize_ = nullptr;
};

}  // namespace vts::plat
