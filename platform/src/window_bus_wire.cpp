// The window bus's registration file and request/reply frames.
#include "platform/window_bus_wire.h"

#include <cstdio>
#include <cstring>

namespace vts::plat::bus_wire {
namespace {

// ---------------------------------------------------------------- little-endian fields

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
std::uint64_t GetU64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// ---------------------------------------------------------------- registration text

std::string Hex(const std::uint8_t* data, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (std::size_t i = 0; i < n; ++i) {
    s.push_back(digits[data[i] >> 4]);
    s.push_back(digits[data[i] & 15]);
  }
  return s;
}

bool Unhex(const std::string& s, std::vector<std::uint8_t>* out) {
  if (s.size() % 2) return false;
  out->clear();
  auto val = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < s.size(); i += 2) {
    int a = val(s[i]), b = val(s[i + 1]);
    if (a < 0 || b < 0) return false;
    out->push_back(static_cast<std::uint8_t>(a * 16 + b));
  }
  return true;
}

bool ParseNumber(const std::string& s, std::uint64_t* v) {
  if (s.empty() || s.size() > 20) return false;
  std::uint64_t x = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    x = x * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *v = x;
  return true;
}

}  // namespace

std::string IdName(WindowId id) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(id));
  return buf;
}

bool ParseIdName(const std::string& name, const char* suffix, WindowId* id) {
  std::size_t sl = std::strlen(suffix);
  if (name.size() != 16 + sl || name.compare(16, sl, suffix) != 0) return false;
  WindowId v = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    char c = name[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return false;
    v = (v << 4) | static_cast<WindowId>(d);
  }
  if (v == 0) return false;
  *id = v;
  return true;
}

std::string FormatRegistration(const Registration& r) {
  std::string s = "VTSWIN 1\n";
  s += "id " + IdName(r.id) + "\n";
  s += "pid " + std::to_string(r.pid) + "\n";
  s += "start " + std::to_string(r.startTime) + "\n";
  s += "created " + std::to_string(r.createdNs) + "\n";
  s += "class " +
       Hex(reinterpret_cast<const std::uint8_t*>(r.className.data()), r.className.size()) + "\n";
  std::vector<std::uint8_t> t;
  for (char16_t c : r.text) {
    t.push_back(static_cast<std::uint8_t>(c & 0xFF));
    t.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  s += "text " + Hex(t.data(), t.size()) + "\n";
  return s;
}

bool ParseRegistration(const std::string& s, Registration* r) {
  if (s.compare(0, 9, "VTSWIN 1\n") != 0) return false;
  std::size_t pos = 9;
  int seen = 0;
  while (pos < s.size()) {
    std::size_t nl = s.find('\n', pos);
    if (nl == std::string::npos) return false;
    std::string line = s.substr(pos, nl - pos);
    pos = nl + 1;
    std::size_t sp = line.find(' ');
    if (sp == std::string::npos) return false;
    std::string key = line.substr(0, sp), value = line.substr(sp + 1);
    std::uint64_t n = 0;
    std::vector<std::uint8_t> bytes;
    if (key == "id") {
      if (!ParseIdName(value, "", &r->id)) return false;
      seen |= 1;
    } else if (key == "pid") {
      if (!ParseNumber(value, &n) || n == 0 || n > 0xFFFFFFFFu) return false;
      r->pid = static_cast<std::uint32_t>(n);
      seen |= 2;
    } else if (key == "start") {
      if (!ParseNumber(value, &r->startTime)) return false;
      seen |= 4;
    } else if (key == "created") {
      if (!ParseNumber(value, &r->createdNs)) return false;
    } else if (key == "class") {
      if (!Unhex(value, &bytes) || bytes.size() > kMaxClassBytes) return false;
      r->className.assign(bytes.begin(), bytes.end());
      seen |= 8;
    } else if (key == "text") {
      if (!Unhex(value, &bytes) || bytes.size() % 2 || bytes.size() / 2 > kMaxTextUnits)
        return false;
      r->text.clear();
      for (std::size_t i = 0; i < bytes.size(); i += 2)
        r->text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      seen |= 16;
    }
  }
  return seen == 31;
}

std::vector<std::uint8_t> EncodeRequest(const Request& r) {
  const std::size_t payload = r.copyData ? r.payload.size() : 0;
  std::vector<std::uint8_t> frame(kRequestHeaderBytes + payload);
  std::uint8_t* p = frame.data();
  PutU32(p, kRequestMagic);
  PutU16(p + 4, r.kind);
  PutU16(p + 6, r.copyData ? kFlagCopyData : 0);
  PutU64(p + 8, r.target);
  PutU32(p + 16, r.message);
  PutU32(p + 20, r.senderPid);
  PutU64(p + 24, r.wParam);
  PutU64(p + 32, r.lParam);
  PutU64(p + 40, r.copyData ? r.dwData : 0);
  PutU32(p + 48, static_cast<std::uint32_t>(payload));
  PutU32(p + 52, 0);
  if (payload) std::memcpy(p + kRequestHeaderBytes, r.payload.data(), payload);
  return frame;
}

bool CheckRequestHeader(std::span<const std::uint8_t> head, std::size_t* total) {
  if (head.size() < kRequestHeaderBytes) return false;
  const std::uint8_t* p = head.data();
  if (GetU32(p) != kRequestMagic) return false;
  std::uint16_t kind = GetU16(p + 4), flags = GetU16(p + 6);
  if (kind != kKindPost && kind != kKindSend) return false;
  if (flags & ~kFlagCopyData) return false;
  std::uint32_t cb = GetU32(p + 48);
  if (!(flags & kFlagCopyData) && cb != 0) return false;
  if ((flags & kFlagCopyData) && kind != kKindSend) return false;
  // WM_COPYDATA's lParam is a pointer the bus makes itself: never take one from outside.
  if (((flags & kFlagCopyData) != 0) != (GetU32(p + 16) == WM_COPYDATA)) return false;
  if (cb > kMaxCopyDataBytes) return false;
  *total = kRequestHeaderBytes + cb;
  return true;
}

Request DecodeRequest(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  Request r;
  r.kind = GetU16(p + 4);
  r.copyData = (GetU16(p + 6) & kFlagCopyData) != 0;
  r.target = GetU64(p + 8);
  r.message = GetU32(p + 16);
  r.senderPid = GetU32(p + 20);
  r.wParam = GetU64(p + 24);
  r.lParam = GetU64(p + 32);
  if (r.copyData) {
    r.dwData = GetU64(p + 40);
    r.payload.assign(bytes.begin() + kRequestHeaderBytes, bytes.end());
  }
  return r;
}

std::array<std::uint8_t, kReplyBytes> EncodeReply(std::uint32_t status, LRESULT result) {
  std::array<std::uint8_t, kReplyBytes> out{};
  PutU32(out.data(), kReplyMagic);
  PutU32(out.data() + 4, status);
  PutU64(out.data() + 8, static_cast<std::uint64_t>(result));
  return out;
}

bool DecodeReply(std::span<const std::uint8_t> reply, std::uint32_t* status, LRESULT* result) {
  if (reply.size() != kReplyBytes || GetU32(reply.data()) != kReplyMagic) return false;
  *status = GetU32(reply.data() + 4);
  *result = static_cast<LRESULT>(GetU64(reply.data() + 8));
  return true;
}

}  // namespace vts::plat::bus_wire
