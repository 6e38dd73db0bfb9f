// The classroom framework's shared memories and mutex.
#include "core/classroom_memory.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/stream_protocol.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "platform/utf.h"

namespace vts {

namespace {

// The USB mapping stays mapped for the life of the process once it opened; a failed open is
// tried again on the next request.
std::mutex g_usbLock;
std::unique_ptr<plat::SharedMemory> g_usb;

plat::SharedMemory* OpenUsbSharedMemory() {
  if (!g_usb) {
    std::string error;
    g_usb = plat::SharedMemory::OpenExisting(kUsbSharedMemoryName, &error);
    if (!g_usb) {
      WriteLog(LOG_MAIN, "PXN_USB_SHAREDMEM cannot be opened: " + error);
      return nullptr;
    }
  }
  return g_usb.get();
}

}  // namespace

bool TakeStudentWorkTarget(std::uint32_t position, std::string* path) {
  std::lock_guard usbLock(g_usbLock);
  plat::SharedMemory* usb = OpenUsbSharedMemory();
  if (!usb) return false;
  if (usb->Size() < kUsbSharedMemoryBytes) {
    WriteLog(LOG_MAIN, "PXN_USB_SHAREDMEM is too small: " + std::to_string(usb->Size()) + " bytes");
    g_usb.reset();
    return false;
  }
  plat::NamedMutex mutex(kRecordMutexName);
  const auto giveUp = std::chrono::steady_clock::now() + kRecordMutexWait;
  while (!mutex.TryLock()) {
    if (!mutex.IsValid() || std::chrono::steady_clock::now() >= giveUp) {
      WriteLog(LOG_MAIN, "GP_MYRECORDMUTEX stayed taken; the target path was not read");
      return false;
    }
    std::this_thread::sleep_for(kRecordMutexRetry);
  }
  std::string raw;
  const bool taken = TakeUsbSlot({usb->Data(), usb->Size()}, position, &raw);
  mutex.Unlock();
  if (!taken) return false;
  std::u16string wide = plat::Utf8ToUtf16(raw);
  if (wide.size() > kMaxTargetPathChars) {
    wide.resize(kMaxTargetPathChars);
    // Never half a surrogate pair.
    if ((wide.back() & 0xFC00) == 0xD800) wide.pop_back();
  }
  *path = plat::Utf16ToUtf8(wide);
  return true;
}

SentWorkResult WriteSentWorkPath(const std::u16string& path) {
  std::string error;
  auto memory = plat::SharedMemory::OpenExisting(kStudySharedMemoryName, &error);
  if (!memory) {
    WriteLog(LOG_MAIN, "VOXTRAILSTUDY_SHAREDMEM cannot be opened: " + error);
    return SentWorkResult::kNoMapping;
  }
  const std::size_t bytes = (path.size() + 1) * 2;
  if (bytes > memory->Size()) return SentWorkResult::kTooSmall;
  std::uint8_t* out = memory->Data();
  for (std::size_t i = 0; i <= path.size(); ++i) {
    const char16_t u = i < path.size() ? path[i] : u'\0';
    out[2 * i] = static_cast<std::uint8_t>(u);
    out[2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
  }
  return SentWorkResult::kWritten;
}

}  // namespace vts
