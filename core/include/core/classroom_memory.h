// The classroom framework's shared memories and mutex, as the recorder uses them: the
// student-work target path taken from "PXN_USB_SHAREDMEM" under "GP_MYRECORDMUTEX", and the
// path of a sent work written to "VOXTRAILSTUDY_SHAREDMEM".
//
// Threading: any thread; the framework's side is guarded by the named mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vts {

constexpr const char* kUsbSharedMemoryName = "PXN_USB_SHAREDMEM";
constexpr const char* kStudySharedMemoryName = "VOXTRAILSTUDY_SHAREDMEM";
constexpr const char* kRecordMutexName = "GP_MYRECORDMUTEX";
// The mutex is tried this often, for at most this long.
constexpr std::chrono::milliseconds kRecordMutexRetry{10};
constexpr std::chrono::milliseconds kRecordMutexWait{2000};

// Takes the target path of `position` out of "PXN_USB_SHAREDMEM" (the slot is zeroed) and
// returns it cut to 259 UTF-16 units. False, with a log line, when the mapping is missing,
// too small or kept locked exclusively by another process (tried again next time) or the
// mutex stayed taken. Neither the mapping nor the mutex is waited for longer than 2 s.
bool TakeStudentWorkTarget(std::uint32_t position, std::string* path);

enum class SentWorkResult { kWritten, kNoMapping, kTooSmall };
// Writes `path` as UTF-16LE with its NUL at offset 0 of "VOXTRAILSTUDY_SHAREDMEM", when the
// mapping exists and the text fits. kNoMapping (with a log line of the reason) also when
// another process kept the mapping locked exclusively for 2 s.
SentWorkResult WriteSentWorkPath(const std::u16string& path);

}  // namespace vts
