// Settings files of the data folder: reading without exceptions, writing whole and atomically.
#include "core/settings_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "core/data_folder.h"

namespace vts {

namespace settings_text {

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    char32_t cp;
    std::size_t extra;
    if (b0 < 0x80) {
      cp = b0;
      extra = 0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1F;
      extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0F;
      extra = 2;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07;
      extra = 3;
    } else {
      return std::nullopt;
    }
    if (extra > 0 && i + extra >= text.size()) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return std::nullopt;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return std::nullopt;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace settings_text

namespace {

using settings_text::Utf16ToUtf8;
using settings_text::Utf8ToUtf16;

// Deeper documents are refused at load: writing them back would recurse without bound.
constexpr std::size_t kMaxJsonDepth = 64;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string& out, std::size_t limit) {
  char buffer[16384];
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof buffer, limit - out.size());
    const ssize_t n = ::read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// The whole content of a regular file; none when it cannot be opened or read.
std::optional<std::string> ReadRegularFile(const std::string& path) {
  return ReadWholeFile(path, UINT64_MAX);
}

std::optional<SettingsJson> ParseJson(const std::string& text, std::size_t maxDepth) {
  bool tooDeep = false;
  SettingsJson::parser_callback_t limit = [&](int depth, SettingsJson::parse_event_t,
                                              SettingsJson&) {
    if (static_cast<std::size_t>(depth) > maxDepth) tooDeep = true;
    return !tooDeep;
  };
  SettingsJson value =
      SettingsJson::parse(text, maxDepth == SIZE_MAX ? nullptr : limit, /*allow_exceptions=*/false);
  if (value.is_discarded() || tooDeep) return std::nullopt;
  return value;
}

// dump(4) plus a newline; none when the document holds text that is not UTF-8.
std::optional<std::string> DumpText(const SettingsJson& value) {
  try {
    std::string text = value.dump(4);
    text.push_back('\n');
    return text;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A string member of an object, or null when absent or of another type.
const SettingsJson* StringMember(const SettingsJson& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return nullptr;
  return &*it;
}

// The name as the core keeps it: no trailing NUL (older writers stored the terminator).
std::optional<std::u16string> DeviceNameFromJson(const SettingsJson& value) {
  auto name = Utf8ToUtf16(value.get_ref<const std::string&>());
  if (!name) return std::nullopt;
  while (!name->empty() && name->back() == u'\0') name->pop_back();
  return name;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAllBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string WaveDeviceSettingsFileName(std::uint32_t position) {
  switch (position) {
    case 1:
      return "VoxtrailstudySt1.ini";
    case 2:
      return "VoxtrailstudySt2.ini";
    default:
      return "Voxtrailstudy.ini";
  }
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::uint64_t maxBytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return std::nullopt;
  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size));
  // One byte past the limit shows a file that grew beyond it while being read.
  const std::size_t limit = maxBytes >= SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(maxBytes) + 1;
  if (!ReadAll(fd.get(), text, limit) || text.size() > maxBytes) return std::nullopt;
  return text;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};

  std::string tempPath;
  int raw = -1;
  for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u.%08x", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    tempPath = path + suffix;
    // 0666 under the umask, as a plain file creation gives.
    raw = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return false;
  }
  if (raw < 0) return false;
  Fd fd(raw);
  const bool written = WriteAllBytes(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  const bool closed = ::close(fd.release()) == 0;
  if (!written || !closed || ::rename(tempPath.c_str(), path.c_str()) != 0) {
    ::unlink(tempPath.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here no longer affects the content.
  Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

// --- wave-device settings ---------------------------------------------------------------

bool ReadWaveDeviceSettings(std::u16string& outputName, std::u16string& inputName,
                            const std::string& path) {
  const auto text = ReadRegularFile(path);
  if (!text) return false;
  const auto document = ParseJson(*text, SIZE_MAX);
  if (!document) return false;
  if (!document->is_object()) return true;
  const auto wave = document->find("Wave");
  if (wave == document->end()) return true;
  if (const SettingsJson* out = StringMember(*wave, "WaveDeviceOut")) {
    if (auto name = DeviceNameFromJson(*out)) outputName = std::move(*name);
  }
  if (const SettingsJson* in = StringMember(*wave, "WaveDeviceIn")) {
    if (auto name = DeviceNameFromJson(*in)) inputName = std::move(*name);
  }
  return true;
}

std::optional<std::string> WaveDeviceSettingsText(std::u16string_view outputName,
                                                  std::u16string_view inputName) {
  auto out = Utf16ToUtf8(outputName);
  auto in = Utf16ToUtf8(inputName);
  if (!out || !in) return std::nullopt;
  SettingsJson document = SettingsJson::object();
  SettingsJson& wave = document["Wave"];
  wave = SettingsJson::object();
  wave["WaveDeviceOut"] = std::move(*out);
  wave["WaveDeviceIn"] = std::move(*in);
  return DumpText(document);
}

bool WriteWaveDeviceSettings(std::u16string_view outputName, std::u16string_view inputName,
                             const std::string& path) {
  const auto text = WaveDeviceSettingsText(outputName, inputName);
  return text && WriteFileAtomically(path, *text);
}

// --- RecorderPaths.json --------------------------------------------------------------------

SettingsJson LoadRecorderPaths(const std::string& path) {
  const auto text = ReadRegularFile(path);
  if (!text) return nullptr;
  auto document = ParseJson(*text, kMaxJsonDepth);
  if (!document) return nullptr;
  return std::move(*document);
}

bool WriteRecorderPaths(const SettingsJson& document, const std::string& path) {
  const auto text = DumpText(document);
  return text && WriteFileAtomically(path, *text);
}

std::optional<std::u16string> GetLastOpenPath(const SettingsJson& document) {
  if (!document.is_object()) return std::nullopt;
  const auto main = document.find("Main");
  if (main == document.end() || !main->is_object()) return std::nullopt;
  const auto units = main->find("LastOpenPath");
  if (units == main->end() || !units->is_array()) return std::nullopt;
  std::u16string path;
  for (const auto& unit : *units) {
    std::uint64_t value;
    if (unit.is_number_unsigned()) {
      value = unit.get<std::uint64_t>();
    } else if (unit.is_number_integer()) {
      const auto signedValue = unit.get<std::int64_t>();
      if (signedValue < 0) return std::nullopt;
      value = static_cast<std::uint64_t>(signedValue);
    } else {
      return std::nullopt;
    }
    if (value > 0xFFFF) return std::nullopt;
    if (value == 0) break;
    path.push_back(static_cast<char16_t>(value));
  }
  if (path.empty()) return std::nullopt;
  return path;
}

void SetLastOpenPath(SettingsJson& document, std::u16string_view path) {
  if (!document.is_object()) document = SettingsJson::object();
  SettingsJson& main = document["Main"];
  if (!main.is_object()) main = SettingsJson::object();
  SettingsJson units = SettingsJson::array();
  const std::size_t used = std::min(path.size(), kLastOpenPathUnits - 1);
  for (std::size_t i = 0; i < kLastOpenPathUnits; ++i)
    units.push_back(static_cast<std::uint32_t>(i < used ? path[i] : 0));
  main["LastOpenPath"] = std::move(units);
}

// --- URLList.txt ----------------------------------------------------------------------------

std::optional<std::u16string> LoadUrlList(const std::string& path) {
  // A missing list is created empty, as the first start leaves it.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > kUrlListMaxBytes || size < 2) return std::nullopt;
  std::string bytes;
  // One byte more than the size checked, so a file that grew meanwhile is noticed.
  if (!ReadAll(fd.get(), bytes, static_cast<std::size_t>(kUrlListMaxBytes) + 1))
    return std::nullopt;
  if (bytes.size() > kUrlListMaxBytes || bytes.size() < 2) return std::nullopt;
  if (static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
    return std::nullopt;
  std::u16string text;
  const std::size_t units = (bytes.size() - 2) / 2;
  text.resize(units);
  for (std::size_t i = 0; i < units; ++i) {
    const auto lo = static_cast<unsigned char>(bytes[2 + 2 * i]);
    const auto hi = static_cast<unsigned char>(bytes[3 + 2 * i]);
    text[i] = static_cast<char16_t>(lo | (hi << 8));
  }
  return text;
}

bool WriteUrlList(std::u16string_view text, const std::string& path) {
  std::string bytes;
  bytes.reserve(2 + 2 * text.size());
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0xFE));
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return WriteFileAtomically(path, bytes);
}

// --- the settings the core keeps --------------------------------------------------------

DataFolderSettings LoadDataFolderSettings(const std::string& dataFolder) {
  DataFolderSettings settings;
  settings.pathsFilePath = dataFolder + "/" + kRecorderPathsFileName;
  settings.pathsDocument = LoadRecorderPaths(settings.pathsFilePath);
  settings.urlList = LoadUrlList(dataFolder + "/" + kUrlListFileName);
  return settings;
}

DataFolderSettings LoadDataFolderSettings() { return LoadDataFolderSettings(GetDataFolder()); }

bool SaveDataFolderSettings(const DataFolderSettings& settings, const std::string& waveSettingsPath,
                            std::u16string_view outputName, std::u16string_view inputName) {
  bool ok = !settings.pathsFilePath.empty() &&
            WriteRecorderPaths(settings.pathsDocument, settings.pathsFilePath);
  if (!waveSettingsPath.empty())
    ok = WriteWaveDeviceSettings(outputName, inputName, waveSettingsPath) && ok;
  return ok;
}

}  // namespace vts
