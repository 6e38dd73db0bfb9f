// Bytes, files, WAV fixtures and waiting, for tests and benchmarks.
#include "test_files.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace vts::test {

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

void PutLe16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutLe32(Bytes& b, std::uint32_t v) {
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}

void PutTag(Bytes& b, const char* fourCharacters) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(fourCharacters[i]));
}

std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(b, at)) |
         (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16);
}

void SetLe16(Bytes& b, std::size_t at, std::uint16_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  SetLe16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
  SetLe16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.push_back(e.path().filename().string());
  return names;
}

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::uint64_t>(size);
}

void AppendFmtChunk(Bytes& b, const WavSpec& s) {
  const std::uint16_t align =
      s.blockAlign >= 0 ? std::uint16_t(s.blockAlign) : std::uint16_t(s.channels * s.bits / 8);
  PutTag(b, "fmt ");
  PutLe32(b, s.fmtSize);
  PutLe16(b, s.tag);
  PutLe16(b, s.channels);
  PutLe32(b, s.rate);
  PutLe32(b, s.rate * align);
  PutLe16(b, align);
  PutLe16(b, s.bits);
  for (std::uint32_t i = 16; i < s.fmtSize; ++i) b.push_back(0);
  if (s.fmtSize & 1) b.push_back(0);
}

Bytes MakeWav(const WavSpec& s, const Bytes& pcm) {
  Bytes body;
  PutTag(body, "WAVE");
  auto list = [&] {
    PutTag(body, "LIST");
    PutLe32(body, 18);
    PutTag(body, "INFO");
    PutTag(body, "ISFT");
    PutLe32(body, 5);
    // The text "data" in it catches a byte scan taking the LIST for the sound.
    for (char c : {'d', 'a', 't', 'a', '\0', '\0'}) body.push_back(std::uint8_t(c));  // odd, padded
  };
  if (s.listBeforeFmt) list();
  AppendFmtChunk(body, s);
  if (s.listBeforeData) list();
  if (!s.noData) {
    PutTag(body, "data");
    PutLe32(body, s.declaredDataBytes >= 0 ? std::uint32_t(s.declaredDataBytes)
                                           : std::uint32_t(pcm.size()));
    body.insert(body.end(), pcm.begin(), pcm.end());
    if (pcm.size() & 1) body.push_back(0);
  }
  if (s.listAfterData) list();
  if (!s.trailer.empty()) {
    PutTag(body, "LIST");
    PutLe32(body, std::uint32_t(s.trailer.size()));
    body.insert(body.end(), s.trailer.begin(), s.trailer.end());
  }
  Bytes file;
  PutTag(file, "RIFF");
  PutLe32(file, std::uint32_t(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes Pcm16(const std::vector<std::int16_t>& samples) {
  Bytes b;
  b.reserve(samples.size() * 2);
  for (std::int16_t v : samples) PutLe16(b, static_cast<std::uint16_t>(v));
  return b;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples) {
  WriteBytes(path, MakeWav(WavSpec{}, Pcm16(samples)));
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

long CurrentThreadOsId() { return static_cast<long>(::syscall(SYS_gettid)); }

bool ThreadSleeps(long osThreadId) {
  std::ifstream in("/proc/self/task/" + std::to_string(osThreadId) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t paren = stat.rfind(')');  // the name may hold anything
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S';
}

std::uint64_t TimesAsleep(long osThreadId) {
  std::ifstream in("/proc/self/task/" + std::to_string(osThreadId) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stoull(line.substr(24));
  return 0;
}

}  // namespace vts::test
