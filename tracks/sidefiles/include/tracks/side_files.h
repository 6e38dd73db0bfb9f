// The chunk-list (".cif") and chunk-text (".txt") side files: parsing, building, reading and
// writing. The track object's ReadChunkList / BuildChunkList / WriteChunkList /
// ReadChunkTexts / BuildChunkTexts call these and keep the chunk list itself.
//
// ".cif": 8-byte records {u32 start ms, u32 length ms}, little-endian, no header.
// ".txt": UTF-16LE, byte-order mark, then each chunk's text followed by CR LF; a file without
// the mark is read as 8-bit text (UTF-8 here, where the Windows program had the OEM page).
//
// Pure functions and plain file I/O; safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vts {

struct CifRecord {
  std::uint32_t startMs = 0;
  std::uint32_t lengthMs = 0;
};

// Largest ".cif" a track reads: 1,048,576 chunks. Larger files are refused, not allocated.
inline constexpr std::uint64_t kMaxCifBytes = 8ull * 1024 * 1024;
// Largest ".txt" read; one byte more is refused.
inline constexpr std::uint64_t kMaxTxtBytes = 10'000'000;
// A text read from a ".txt" is cut to this many UTF-16 units (8-bit files: bytes before
// conversion), never inside a character.
inline constexpr std::size_t kMaxChunkTextUnits = 1023;

// Most chunks a side file makes: records or lines beyond it are dropped (`cut` tells).
inline constexpr std::size_t kMaxSideFileChunks = 65535;

// frames = samplesPerSec * ms / 1000 and ms = frames * 1000 / samplesPerSec, in unsigned 64-bit
// arithmetic with truncating division; results beyond u32 saturate at 0xFFFFFFFF, and a rate
// of 0 gives 0.
std::uint32_t MsToFrames(std::uint32_t ms, std::uint32_t samplesPerSec);
std::uint32_t FramesToMs(std::uint64_t frames, std::uint32_t samplesPerSec);
// The first frame at or after `ms` (the division rounds up), saturating like MsToFrames. A
// chunk boundary read this way and written again with FramesToMs stays in its millisecond,
// so a chunk list survives any number of writes and reads.
std::uint32_t MsToFrameAtOrAfter(std::uint64_t ms, std::uint32_t samplesPerSec);

enum class SideFileStatus {
  Ok,
  OpenFailed,  // missing or unreadable file
  Empty,       // ".cif" of 0 bytes: the track refuses it, the video manager takes an empty list
  BadSize,     // ".cif": not a multiple of 8
  TooLarge,    // over kMaxCifBytes / kMaxTxtBytes
  ReadFailed,  // read error or the file changed size while being read
};

// The records of a ".cif" body; false (and no records) for a size of 0 or not a multiple of 8,
// or over kMaxCifBytes. At most kMaxSideFileChunks records; `cut` says whether more stood there.
bool ParseCif(std::span<const std::uint8_t> body, std::vector<CifRecord>& records,
              bool* cut = nullptr);
SideFileStatus ReadCifFile(const std::string& path, std::vector<CifRecord>& records,
                           bool* cut = nullptr);

// The ".cif" body for chunks of the given lengths in frames: starts are the running sums of
// the lengths (contiguous from 0, whatever the chunks' own starts say), and each record's
// length reaches the next record's start (both ends in whole milliseconds). Empty when there are
// no chunks, when the lengths add up to 0 frames, or when the rate is 0.
std::vector<std::uint8_t> BuildCifBody(std::span<const std::uint32_t> lengthsFrames,
                                       std::uint32_t samplesPerSec);

// The ".txt" body: FF FE, then every text followed by CR LF. A line break inside a text
// (CR LF, a lone CR or a lone LF) is written as one space, so the file keeps one line per chunk.
std::vector<std::uint8_t> BuildTxtBody(std::span<const std::u16string> texts);

// The texts of a ".txt" body, line i for chunk i. Never fails: a body of fewer than 2 bytes is
// an 8-bit text. A trailing odd byte of a UTF-16 body is ignored. The caller appends chunks
// when there are more lines than chunks and leaves chunks beyond the last line unchanged.
// At most kMaxSideFileChunks lines; `cut` says whether more stood there.
std::vector<std::u16string> ParseTxt(std::span<const std::uint8_t> body, bool* cut = nullptr);
SideFileStatus ReadTxtFile(const std::string& path, std::vector<std::u16string>& texts,
                           bool* cut = nullptr);

// The ".cif" body of the records as they stand (no check that they follow each other).
std::vector<std::uint8_t> CifBodyOf(std::span<const CifRecord> records);

// The chunk list of a sound from which the time [cutStartMs, cutEndMs) was cut out: the
// starts after it move back by its length, a chunk it reaches into shrinks, and a chunk it
// covers whole goes; `gone` gets the indices of the chunks that went, in order.
std::vector<CifRecord> CutCifRecords(std::span<const CifRecord> records, std::uint32_t cutStartMs,
                                     std::uint32_t cutEndMs, std::vector<std::size_t>* gone);

// The ".txt" body without the lines at the indices `lines` (ascending); every other byte
// stays as it was, in the file's own encoding (UTF-16 with its mark, or 8-bit).
std::vector<std::uint8_t> RemoveTxtLines(std::span<const std::uint8_t> body,
                                         std::span<const std::size_t> lines);

// The side file `dotExt` (".cif", ".txt") beside a sound file, as a load looks for it: the
// path up to the file name's last "." (all of it when the name has none), then `dotExt`.
std::string SideFileBeside(const std::string& soundPath, const char* dotExt);

// The side files of a sound file that was cut in place: the ".cif" at `cifPath` is cut as
// CutCifRecords does, and the ".txt" at `txtPath` loses the lines of the chunks that went.
// A missing or unreadable ".cif" is left alone. False when a file could not be rewritten
// (it then stays as it was).
bool CutSideFiles(const std::string& cifPath, const std::string& txtPath,
                  std::uint32_t cutStartMs, std::uint32_t cutEndMs);

// Writes `bytes` to `path` safely: into a temporary file in the same folder, flushed to disk,
// then renamed over `path`. On failure `path` is untouched and no temporary file remains.
bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace vts
