// Chunk-list and chunk-text side files.
#include "tracks/side_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

#include "platform/files.h"

namespace vts {
namespace {

constexpr char16_t kBom = 0xFEFF;
constexpr char16_t kCr = 0x0D;
constexpr char16_t kLf = 0x0A;

std::uint32_t Saturate(std::uint64_t v) {
  return v > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                       : static_cast<std::uint32_t>(v);
}

// Appends UTF-8 `s` as UTF-16; invalid bytes become U+FFFD.
void AppendUtf8(std::u16string& out, const std::uint8_t* s, std::size_t n) {
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = s[i];
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    const std::size_t need = b < 0x80           ? 0
                             : (b >> 5) == 0x06 ? 1
                             : (b >> 4) == 0x0E ? 2
                             : (b >> 3) == 0x1E ? 3
                                                : 9;
    if (need == 0) {
      c = b;
    } else if (need <= 3 && n - i > need) {
      char32_t v = b & (0x3F >> need);
      bool ok = true;
      for (std::size_t k = 1; k <= need && ok; ++k) {
        ok = (s[i + k] & 0xC0) == 0x80;
        v = (v << 6) | (s[i + k] & 0x3F);
      }
      if (ok && v >= kMin[need] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        c = v;
        len = need + 1;
      }
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
}

// Length of at most `limit` bytes of UTF-8 that does not end inside a character.
std::size_t CutUtf8(const std::uint8_t* s, std::size_t n, std::size_t limit) {
  if (n <= limit) return n;
  std::size_t cut = limit;
  // Back off over continuation bytes to the start of the character that would be split.
  std::size_t back = 0;
  while (cut > 0 && back < 3 && (s[cut] & 0xC0) == 0x80) {
    --cut;
    ++back;
  }
  if ((s[cut] & 0xC0) == 0x80) return limit;  // not UTF-8 anyway: plain byte cut
  return cut;
}

// Splits `units` (already terminated) into lines at CR; a LF right after a CR belongs to the
// break, a LF right before it is dropped. Lines past kMaxSideFileChunks set `cut` instead.
template <typename Unit, typename MakeText>
std::vector<std::u16string> SplitLines(const std::vector<Unit>& units, MakeText makeText,
                                       bool* cut) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  const std::size_t n = units.size();
  if (cut) *cut = false;
  while (start < n) {
    std::size_t cr = start;
    while (cr < n && units[cr] != kCr) ++cr;
    if (cr >= n) break;  // text behind the last CR is not a line
    if (lines.size() == kMaxSideFileChunks) {
      if (cut) *cut = true;
      break;
    }
    std::size_t end = cr;
    if (end > start && units[end - 1] == kLf) --end;
    lines.push_back(makeText(units.data() + start, end - start));
    start = cr + 1;
    if (start < n && units[start] == kLf) ++start;
  }
  return lines;
}

// Ends the body with a line break unless it ends with CR or CR LF already.
template <typename Unit>
void Terminate(std::vector<Unit>& units) {
  const std::size_t n = units.size();
  const bool endsWithBreak =
      (n >= 1 && units[n - 1] == kCr) || (n >= 2 && units[n - 2] == kCr && units[n - 1] == kLf);
  if (!endsWithBreak) {
    units.push_back(static_cast<Unit>(kCr));
    units.push_back(static_cast<Unit>(kLf));
  }
}

// Reads the whole regular file at `path`, refusing sizes over `maxBytes`.
SideFileStatus ReadWholeFile(const std::string& path, std::uint64_t maxBytes,
                             std::vector<std::uint8_t>& out) {
  plat::ReadFileOptions options;
  options.maxBytes = static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, SIZE_MAX));
  switch (plat::ReadWholeFile(path, &out, options)) {
    case plat::ReadFileStatus::kOk:
      return SideFileStatus::Ok;
    case plat::ReadFileStatus::kOpenFailed:
    case plat::ReadFileStatus::kNotRegular:
      return SideFileStatus::OpenFailed;
    case plat::ReadFileStatus::kTooLarge:
      return SideFileStatus::TooLarge;
    case plat::ReadFileStatus::kReadFailed:
      break;
  }
  return SideFileStatus::ReadFailed;
}

CifRecord CifRecordAt(const std::uint8_t* p) {
  CifRecord r;
  r.startMs = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
              std::uint32_t{p[3]} << 24;
  r.lengthMs = std::uint32_t{p[4]} | std::uint32_t{p[5]} << 8 | std::uint32_t{p[6]} << 16 |
               std::uint32_t{p[7]} << 24;
  return r;
}

}  // namespace

std::uint32_t MsToFrames(std::uint32_t ms, std::uint32_t samplesPerSec) {
  return Saturate(std::uint64_t{samplesPerSec} * ms / 1000);
}

std::uint32_t FramesToMs(std::uint64_t frames, std::uint32_t samplesPerSec) {
  if (samplesPerSec == 0) return 0;
  // frames * 1000 cannot overflow for any frame count a u32 chunk list can add up to; beyond
  // that, saturate rather than wrap.
  if (frames > std::numeric_limits<std::uint64_t>::max() / 1000) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return Saturate(frames * 1000 / samplesPerSec);
}

std::uint32_t MsToFrameAtOrAfter(std::uint64_t ms, std::uint32_t samplesPerSec) {
  if (samplesPerSec == 0) return 0;
  if (ms > (std::numeric_limits<std::uint64_t>::max() - 999) / samplesPerSec)
    return std::numeric_limits<std::uint32_t>::max();
  return Saturate((std::uint64_t{samplesPerSec} * ms + 999) / 1000);
}

bool ParseCif(std::span<const std::uint8_t> body, std::vector<CifRecord>& records, bool* cut) {
  records.clear();
  if (cut) *cut = false;
  if (body.empty() || body.size() % 8 != 0 || body.size() > kMaxCifBytes) return false;
  const std::size_t count = std::min(body.size() / 8, kMaxSideFileChunks);
  if (cut) *cut = count < body.size() / 8;
  records.reserve(count);
  for (std::size_t i = 0; i < count * 8; i += 8) records.push_back(CifRecordAt(body.data() + i));
  return true;
}

SideFileStatus ReadCifFile(const std::string& path, std::vector<CifRecord>& records, bool* cut) {
  records.clear();
  if (cut) *cut = false;
  std::vector<std::uint8_t> body;
  const SideFileStatus st = ReadWholeFile(path, kMaxCifBytes, body);
  if (st != SideFileStatus::Ok) return st;
  if (body.empty()) return SideFileStatus::Empty;
  return ParseCif(body, records, cut) ? SideFileStatus::Ok : SideFileStatus::BadSize;
}

std::vector<std::uint8_t> BuildCifBody(std::span<const std::uint32_t> lengthsFrames,
                                       std::uint32_t samplesPerSec) {
  if (lengthsFrames.empty() || samplesPerSec == 0) return {};
  std::vector<CifRecord> records;
  records.reserve(lengthsFrames.size());
  // Each length is the distance between its truncated boundaries: a record ends where the
  // next begins, so no chunk loses a millisecond of its tail to the rounding.
  std::uint64_t sum = 0;
  std::uint64_t startMs = 0;
  for (std::uint32_t len : lengthsFrames) {
    sum += len;
    const std::uint64_t endMs = sum * 1000 / samplesPerSec;
    records.push_back(CifRecord{Saturate(startMs), Saturate(endMs - startMs)});
    startMs = endMs;
  }
  if (sum == 0) return {};
  return CifBodyOf(records);
}

std::vector<std::uint8_t> BuildTxtBody(std::span<const std::u16string> texts) {
  std::uint64_t size = 2;
  for (const std::u16string& t : texts) size += 2 * std::uint64_t{t.size()} + 4;
  std::vector<std::uint8_t> body;
  body.reserve(static_cast<std::size_t>(size));
  auto put = [&body](char16_t u) {
    body.push_back(static_cast<std::uint8_t>(u & 0xFF));
    body.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  put(kBom);
  for (const std::u16string& t : texts) {
    for (std::size_t i = 0; i < t.size(); ++i) {
      char16_t u = t[i];
      if (u == kCr) {
        if (i + 1 < t.size() && t[i + 1] == kLf) ++i;
        u = u' ';
      } else if (u == kLf) {
        u = u' ';
      }
      put(u);
    }
    put(kCr);
    put(kLf);
  }
  return body;
}

std::vector<std::u16string> ParseTxt(std::span<const std::uint8_t> body, bool* cut) {
  if (body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE) {
    std::vector<char16_t> units;
    units.reserve(body.size() / 2 + 2);
    for (std::size_t i = 2; i + 1 < body.size(); i += 2) {
      units.push_back(static_cast<char16_t>(body[i] | (body[i + 1] << 8)));
    }
    Terminate(units);
    return SplitLines(
        units,
        [](const char16_t* s, std::size_t n) {
          if (n > kMaxChunkTextUnits) {
            n = kMaxChunkTextUnits;
            // Keep a surrogate pair whole: drop a high surrogate whose partner was cut off.
            if (s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
          }
          return std::u16string(s, n);
        },
        cut);
  }
  std::vector<std::uint8_t> bytes(body.begin(), body.end());
  Terminate(bytes);
  return SplitLines(
      bytes,
      [](const std::uint8_t* s, std::size_t n) {
        std::u16string text;
        AppendUtf8(text, s, CutUtf8(s, n, kMaxChunkTextUnits));
        return text;
      },
      cut);
}

SideFileStatus ReadTxtFile(const std::string& path, std::vector<std::u16string>& texts, bool* cut) {
  texts.clear();
  if (cut) *cut = false;
  std::vector<std::uint8_t> body;
  const SideFileStatus st = ReadWholeFile(path, kMaxTxtBytes, body);
  if (st != SideFileStatus::Ok) return st;
  texts = ParseTxt(body, cut);
  return SideFileStatus::Ok;
}

std::vector<std::uint8_t> CifBodyOf(std::span<const CifRecord> records) {
  std::vector<std::uint8_t> body(records.size() * 8);
  std::uint8_t* p = body.data();
  for (const CifRecord& r : records) {
    for (int k = 0; k < 4; ++k) {
      p[k] = static_cast<std::uint8_t>(r.startMs >> (8 * k));
      p[4 + k] = static_cast<std::uint8_t>(r.lengthMs >> (8 * k));
    }
    p += 8;
  }
  return body;
}

std::vector<CifRecord> CutCifRecords(std::span<const CifRecord> records, std::uint32_t cutStartMs,
                                     std::uint32_t cutEndMs, std::vector<std::size_t>* gone) {
  if (gone) gone->clear();
  std::vector<CifRecord> out;
  out.reserve(records.size());
  const std::uint64_t first = cutStartMs, end = std::max(cutStartMs, cutEndMs);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::uint64_t s = records[i].startMs;
    const std::uint64_t e = s + records[i].lengthMs;
    const std::uint64_t before = first < s ? std::min(end, s) - first : 0;
    const std::uint64_t lo = std::max(first, s), hi = std::min(end, e);
    const std::uint64_t inside = hi > lo ? hi - lo : 0;
    if (records[i].lengthMs > 0 && inside == records[i].lengthMs) {
      if (gone) gone->push_back(i);
      continue;
    }
    out.push_back(CifRecord{static_cast<std::uint32_t>(s - before),
                            static_cast<std::uint32_t>(records[i].lengthMs - inside)});
  }
  return out;
}

std::vector<std::uint8_t> RemoveTxtLines(std::span<const std::uint8_t> body,
                                         std::span<const std::size_t> lines) {
  // Lines end at CR, with a LF right after it, as ParseTxt reads them.
  const bool utf16 = body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE;
  const std::size_t unit = utf16 ? 2 : 1;
  auto unitAt = [&](std::size_t at) -> unsigned {
    return utf16 ? body[at] | (body[at + 1] << 8) : body[at];
  };
  std::vector<std::uint8_t> out(body.begin(), body.begin() + (utf16 ? 2 : 0));
  std::size_t at = out.size(), index = 0, next = 0;
  while (at < body.size()) {
    std::size_t end = at;
    while (end + unit <= body.size() && unitAt(end) != kCr) end += unit;
    if (end + unit <= body.size()) {
      end += unit;  // the CR
      if (end + unit <= body.size() && unitAt(end) == kLf) end += unit;
    } else {
      end = body.size();  // the last line, without a break (or an odd last byte)
    }
    while (next < lines.size() && lines[next] < index) ++next;
    if (next == lines.size() || lines[next] != index) out.insert(out.end(), body.begin() + at, body.begin() + end);
    at = end;
    ++index;
  }
  return out;
}

bool CutSideFiles(const std::string& cifPath, const std::string& txtPath,
                  std::uint32_t cutStartMs, std::uint32_t cutEndMs) {
  // Every record, also past the ones a track reads: the file keeps what it holds.
  std::vector<std::uint8_t> cif;
  if (ReadWholeFile(cifPath, kMaxCifBytes, cif) != SideFileStatus::Ok || cif.empty() ||
      cif.size() % 8 != 0)
    return true;
  std::vector<CifRecord> records;
  records.reserve(cif.size() / 8);
  for (std::size_t i = 0; i < cif.size(); i += 8) records.push_back(CifRecordAt(cif.data() + i));
  std::vector<std::size_t> gone;
  const std::vector<std::uint8_t> cutCif =
      CifBodyOf(CutCifRecords(records, cutStartMs, cutEndMs, &gone));
  bool ok = true;
  if (cutCif != cif) ok = ReplaceFileContents(cifPath, cutCif);
  std::vector<std::uint8_t> txt;
  if (ok && !gone.empty() && ReadWholeFile(txtPath, kMaxTxtBytes, txt) == SideFileStatus::Ok)
    ok = ReplaceFileContents(txtPath, RemoveTxtLines(txt, gone));
  return ok;
}

std::string SideFileBeside(const std::string& soundPath, const char* dotExt) {
  const std::size_t slash = soundPath.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = soundPath.rfind('.');
  if (dot == std::string::npos || dot < nameAt) dot = soundPath.size();
  return soundPath.substr(0, dot) + dotExt;
}

bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes) {
  return plat::WriteFileAtomically(path, bytes, 0644);
}

}  // namespace vts
