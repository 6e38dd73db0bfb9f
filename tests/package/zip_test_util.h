// Small helpers for the package tests: shell commands, fixture bytes and archive layout
// (bytes and files come from test_files.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace vts::test {

// Runs `cmd` with /bin/sh; returns the exit status and fills `out` with stdout (binary safe).
int Run(const std::string& cmd, std::string* out = nullptr);
// A shell-quoted argument.
std::string Q(const std::string& s);

// Deterministic pseudo-random bytes (incompressible) and speech-like text.
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextBytes(std::size_t n, std::uint32_t seed);

// Positions of the records of a well-formed archive.
struct ZipLayout {
  std::vector<std::size_t> local;    // local header of entry i
  std::vector<std::size_t> central;  // central record of entry i
  std::size_t end = 0;               // end record
};
ZipLayout ParseLayout(const Bytes& zip);

}  // namespace vts::test
