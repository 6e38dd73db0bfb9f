// Fuzzes the ".cif" and ".txt" parsers, and checks that texts survive a build and re-parse
// (with line breaks turned into spaces).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tracks/side_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> body(data, size);
  std::vector<vts::CifRecord> records;
  if (vts::ParseCif(body, records)) {
    if (records.size() != size / 8) __builtin_trap();
    std::vector<std::uint32_t> lengths;
    for (const auto& r : records) lengths.push_back(vts::MsToFrames(r.lengthMs, 44100));
    const auto cif = vts::BuildCifBody(lengths, 44100);
    if (!cif.empty() && cif.size() != size) __builtin_trap();
  }

  const std::vector<std::u16string> texts = vts::ParseTxt(body);
  for (const auto& t : texts) {
    if (t.size() > vts::kMaxChunkTextUnits) __builtin_trap();
    for (char16_t u : t) {
      if (u == u'\r') __builtin_trap();
    }
  }
  const std::vector<std::uint8_t> rebuilt = vts::BuildTxtBody(texts);
  std::vector<std::u16string> expected = texts;
  for (auto& t : expected) {
    for (auto& u : t) {
      if (u == u'\n') u = u' ';
    }
  }
  if (vts::ParseTxt(rebuilt) != expected) __builtin_trap();
  return 0;
}
