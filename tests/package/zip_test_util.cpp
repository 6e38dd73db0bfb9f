// Helpers for the package tests.
#include "zip_test_util.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vts::test {

int Run(const std::string& cmd, std::string* out) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
    if (out) out->append(buf, n);
  }
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string Q(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') {
      r += "'\\''";
    } else {
      r += c;
    }
  }
  return r + "'";
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = static_cast<std::uint8_t>(x);
  }
  return b;
}

Bytes TextBytes(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {"the ", "teacher ", "reads ",   "a ",  "sentence ",
                                       "and ", "student ", "repeats ", "it ", "slowly.\r\n"};
  Bytes b;
  std::uint32_t x = seed + 7;
  while (b.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 10];
    while (*w && b.size() < n) b.push_back(static_cast<std::uint8_t>(*w++));
  }
  return b;
}

ZipLayout ParseLayout(const Bytes& zip) {
  ZipLayout l;
  if (zip.size() < 22) throw std::runtime_error("too short");
  l.end = zip.size() - 22;
  while (Le32(zip, l.end) != 0x06054B50) {
    if (l.end == 0) throw std::runtime_error("no end record");
    --l.end;
  }
  const std::size_t count = Le16(zip, l.end + 10);
  std::size_t pos = Le32(zip, l.end + 16);
  for (std::size_t i = 0; i < count; ++i) {
    if (Le32(zip, pos) != 0x02014B50) throw std::runtime_error("bad central record");
    l.central.push_back(pos);
    l.local.push_back(Le32(zip, pos + 42));
    pos += 46 + Le16(zip, pos + 28) + Le16(zip, pos + 30) + Le16(zip, pos + 32);
  }
  return l;
}

}  // namespace vts::test
