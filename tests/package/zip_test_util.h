// Small helpers for the package tests: files, shell commands and archive byte surgery.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vts::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ToBytes(const std::string& s);

// Runs `cmd` with /bin/sh; returns the exit status and fills `out` with stdout (binary safe).
int Run(const std::string& cmd, std::string* out = nullptr);
// A shell-quoted argument.
std::string Q(const std::string& s);

// Deterministic pseudo-random bytes (incompressible) and speech-like text.
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextBytes(std::size_t n, std::uint32_t seed);

std::uint16_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
void SetLe16(Bytes& b, std::size_t at, std::uint16_t v);
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v);

// Positions of the records of a well-formed archive.
struct ZipLayout {
  std::vector<std::size_t> local;    // local header of entry i
  std::vector<std::size_t> central;  // central record of entry i
  std::size_t end = 0;               // end record
};
ZipLayout ParseLayout(const Bytes& zip);

}  // namespace vts::test
