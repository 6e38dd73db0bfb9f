// Test and benchmark helpers for bytes and files: little-endian fields, whole-file reads and
// writes, WAV fixtures, and waiting for a condition. No GoogleTest in here, so the benchmark
// programs use it too.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vts::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& s);

// Little-endian fields: appended, read and overwritten in place.
void PutLe16(Bytes& b, std::uint32_t v);
void PutLe32(Bytes& b, std::uint32_t v);
void PutTag(Bytes& b, const char* fourCharacters);
std::uint16_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
void SetLe16(Bytes& b, std::size_t at, std::uint16_t v);
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v);

// Whole files; a missing file reads as empty.
std::string ReadFile(const std::string& path);
Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);
// The names in a folder (without "." and ".."), in no particular order; none when missing.
std::vector<std::string> FolderEntries(const std::string& folder);
std::uint64_t FileSize(const std::string& path);  // 0 when missing

// A WAV file as some program may have written it (the defaults: 16-bit mono PCM at 44100 Hz
// with a 44-byte header).
struct WavSpec {
  std::uint16_t tag = 1;
  std::uint16_t channels = 1;
  std::uint32_t rate = 44100;
  std::uint16_t bits = 16;
  int blockAlign = -1;         // -1: channels x bits / 8
  std::uint32_t fmtSize = 16;  // 18: with cbSize
  bool listBeforeFmt = false;  // a small "LIST" chunk whose text holds "data"
  bool listBeforeData = false;
  bool listAfterData = false;
  std::int64_t declaredDataBytes = -1;  // -1: the real size
  bool noData = false;
  Bytes trailer;  // when not empty: a "LIST" chunk of these bytes after everything
};
Bytes MakeWav(const WavSpec& spec, const Bytes& pcm);
// The "fmt " chunk for these parameters (padded to an even size).
void AppendFmtChunk(Bytes& b, const WavSpec& spec);
// Samples as little-endian bytes.
Bytes Pcm16(const std::vector<std::int16_t>& samples);
// A 16-bit mono 44100 Hz WAV file of the samples.
void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples);

// Polls until pred holds; false when the time is up first.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The calling thread's id as the system knows it, and whether that thread of this process
// sleeps now (blocked on a lock or waiting): with a lock held, a thread seen asleep after it
// set out for that lock waits for it.
long CurrentThreadOsId();
bool ThreadSleeps(long osThreadId);
// How often that thread has gone to sleep so far (it blocked or waited): a thread that sleeps
// with a higher count than before has woken and gone back to its wait meanwhile.
std::uint64_t TimesAsleep(long osThreadId);

}  // namespace vts::test
