// The window bus's bytes as a program outside this one reads and writes them (the classroom
// link's page in docs/ describes them): the registration file of a window and the request and
// reply of one connection. Plain functions, for the bus itself and its tests.
//
// Threading: plain functions and value types.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/window_bus.h"

namespace vts::plat::bus_wire {

constexpr std::uint32_t kRequestMagic = 0x31575456;  // "VTW1"
constexpr std::uint32_t kReplyMagic = 0x31525456;    // "VTR1"
constexpr std::size_t kRequestHeaderBytes = 56;
constexpr std::size_t kReplyBytes = 16;
constexpr std::uint16_t kKindPost = 1;
constexpr std::uint16_t kKindSend = 2;
constexpr std::uint16_t kFlagCopyData = 1;

enum ReplyStatus : std::uint32_t {
  kStatusOk = 0,
  kStatusQueueFull = 1,
  kStatusNoWindow = 2,
  kStatusBadRequest = 3,
};

constexpr std::size_t kMaxClassBytes = 256;
constexpr std::size_t kMaxTextUnits = 1024;

// A window id as its files name it: 16 lower-case hex digits.
std::string IdName(WindowId id);
// The id of a file name "<16 hex digits><suffix>"; false for any other name or id 0.
bool ParseIdName(const std::string& name, const char* suffix, WindowId* id);

// What "<id>.win" holds.
struct Registration {
  WindowId id = 0;
  std::uint32_t pid = 0;
  std::uint64_t startTime = 0;  // field 22 of /proc/<pid>/stat
  std::uint64_t createdNs = 0;  // CLOCK_REALTIME at registration; FindWindow takes the newest
  std::string className;
  std::u16string text;
};
std::string FormatRegistration(const Registration& r);
// False for anything but a whole registration ("created" and unknown keys may be missing).
bool ParseRegistration(const std::string& s, Registration* r);

// One request: a post (answered once queued) or a send (answered with the handler's result).
struct Request {
  std::uint16_t kind = kKindPost;
  WindowId target = 0;
  std::uint32_t message = 0;
  std::uint32_t senderPid = 0;  // what the sender says; the receiver takes the kernel's
  std::uint64_t wParam = 0;
  std::uint64_t lParam = 0;
  bool copyData = false;  // WM_COPYDATA: dwData and the payload travel along
  std::uint64_t dwData = 0;
  std::vector<std::uint8_t> payload;
};
std::vector<std::uint8_t> EncodeRequest(const Request& r);
// Checks a request's first kRequestHeaderBytes bytes; the whole request's size in *total.
bool CheckRequestHeader(std::span<const std::uint8_t> head, std::size_t* total);
// The request in `bytes` (a head that passed the check and all of its payload).
Request DecodeRequest(std::span<const std::uint8_t> bytes);

std::array<std::uint8_t, kReplyBytes> EncodeReply(std::uint32_t status, LRESULT result);
// False when `reply` is not a reply frame.
bool DecodeReply(std::span<const std::uint8_t> reply, std::uint32_t* status, LRESULT* result);

}  // namespace vts::plat::bus_wire
