// Hostile input against the real recorder program, started from its command line in a private
// root, offscreen, on the private sound server: every bad lesson file is told in a box (or,
// where it still plays, cut down and logged), the program keeps running, its peak memory stays
// within 100 MB of an idle start, and nothing is written outside the root. Bad registry stores
// are moved aside and the associations written anew.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "package/zip.h"
#include "platform/registry.h"
#include "pulse_util.h"
#include "recorder_process.h"
#include "test_env.h"

using namespace std::chrono_literals;

namespace vts::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void Put(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A WAV of 0.5 s of quiet noise, 44100 Hz mono; `tag` 3 makes it float (not playable here).
Bytes Wav(std::uint16_t tag = 1) {
  const std::uint32_t dataBytes = 44100;
  Bytes b = Text("RIFF");
  Put(b, 36 + dataBytes, 4);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<std::uint8_t>(c));
  Put(b, 16, 4);
  Put(b, tag, 2);
  Put(b, 1, 2);
  Put(b, 44100, 4);
  Put(b, 88200, 4);
  Put(b, 2, 2);
  Put(b, 16, 2);
  for (char c : std::string("data")) b.push_back(static_cast<std::uint8_t>(c));
  Put(b, dataBytes, 4);
  for (std::uint32_t i = 0; i < dataBytes; ++i) b.push_back(static_cast<std::uint8_t>((i * 7) % 5));
  return b;
}

// An archive of the given entries; an entry named "@sparse:<bytes>" is that many zeros read
// from a sparse file (the deflated bomb stays small).
bool Zip(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& entries,
         const std::string& scratch) {
  ZipHandle* h = CreateZipWriter(path);
  if (!h) return false;
  bool ok = true;
  for (const auto& [name, data] : entries) {
    ZipSource source = ZipSource::FromMemory(data.data(), data.size());
    if (data.empty() && name.find('#') != std::string::npos) {
      const std::string zeros = scratch + "/zeros";
      const int fd = ::open(zeros.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      ok &= fd >= 0 && ::ftruncate(fd, std::stoll(name.substr(name.find('#') + 1))) == 0;
      ::close(fd);
      source = ZipSource::FromFile(zeros);
    }
    ok &= AddZipEntryInternal(h->writer, name.substr(0, name.find('#')), source) == ZR_OK;
  }
  ok &= CloseZipWriter(h) == ZR_OK;
  ::unlink((scratch + "/zeros").c_str());
  return ok;
}

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
  }
  return names;
}

// Waits (a generous minute) until `file` holds `text` while the program runs.
bool WaitForText(pid_t pid, const std::string& file, const std::string& text) {
  const auto until = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < until) {
    if (ReadText(file).find(text) != std::string::npos) return true;
    if (!StillRunning(pid)) return false;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

// The program of one case; killed at the end whatever happened (a box may be up, and how the
// program ends is tested elsewhere).
struct Running {
  pid_t pid;
  ~Running() {
    if (pid > 0 && StillRunning(pid)) {
      kill(pid, SIGKILL);
      WaitForExit(pid);
    }
  }
};

// The peak once it has stayed the same for a second (at most a minute): the idle figure.
std::uint64_t SteadyPeak(pid_t pid) {
  const auto until = std::chrono::steady_clock::now() + 60s;
  std::uint64_t last = PeakMemoryBytes(pid);
  int same = 0;
  while (same < 20 && std::chrono::steady_clock::now() < until && StillRunning(pid)) {
    std::this_thread::sleep_for(50ms);
    const std::uint64_t now = PeakMemoryBytes(pid);
    same = now == last ? same + 1 : 0;
    last = now;
  }
  return last;
}

class HostileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(PulseTestServer().empty()) << "the private PulseAudio server is not running";
  }
};

TEST_F(HostileFiles, EachBadFileIsToldAndCostsNeitherTheProgramNorTheMachine) {
  const std::string product = VTS_VARIANT_NAME;
  const std::string files = MakeTempDir("hostile-files");
  const std::string scratch = MakeTempDir("scratch");

  // Idle: the program with nothing to open.
  std::uint64_t idlePeak = 0;
  {
    const std::string root = MakeTempDir("idle-root");
    const Running run{StartRecorder(RecorderStart{root, {}, MakeTempDir("idle-home")})};
    ASSERT_TRUE(WaitUntilRunning(run.pid, root));
    idlePeak = SteadyPeak(run.pid);
  }
  ASSERT_GT(idlePeak, 0u);

  Bytes manyLines = {0xFF, 0xFE};
  for (int i = 0; i < 2'470'000; ++i) manyLines.insert(manyLines.end(), {'\r', 0, '\n', 0});
  Bytes manyRecords;
  for (std::uint32_t i = 0; i < 1'000'000; ++i) {
    Put(manyRecords, i, 4);
    Put(manyRecords, 1, 4);
  }
  Bytes truncated = Wav();
  truncated.resize(30);
  Bytes noise(64 * 1024);
  std::uint32_t x = 1;
  for (auto& byte : noise) byte = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);

  // Ten seconds of sound as MP3 (its WAV is about ten times larger).
  Bytes lessonMp3;
  {
    Bytes wav = Wav();
    const std::uint32_t pcm = 20 * 44100;
    wav.resize(44);
    for (std::uint32_t i = 0; i < pcm; ++i)
      wav.push_back(static_cast<std::uint8_t>((i * 37) % 251));
    for (int k : {4, 40}) {
      const std::uint32_t v = k == 4 ? 36 + pcm : pcm;
      for (int b = 0; b < 4; ++b) wav[k + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    WriteFile(scratch + "/lesson.wav", wav);
    ASSERT_EQ(std::system(("lame --quiet -m m -b 64 '" + scratch + "/lesson.wav' '" + scratch +
                           "/lesson.mp3'")
                              .c_str()),
              0);
    lessonMp3 = Text(ReadText(scratch + "/lesson.mp3"));
    ::unlink((scratch + "/lesson.wav").c_str());
    ::unlink((scratch + "/lesson.mp3").c_str());
  }
  ASSERT_GT(lessonMp3.size(), 40000u);

  struct Case {
    const char* file;
    std::function<void(const std::string&)> make;  // writes the file (and side files)
    std::string told;  // the text that must reach the main log: a box, or the cut
    std::string log = "DispanoServ.log";
    rlim_t fileLimit = 0;  // > 0: no file of the program may grow past it (a full disk)
  };
  auto bytes = [&](const char* name, Bytes b) {
    return [name, b](const std::string& dir) { WriteFile(dir + "/" + name, b); };
  };
  auto box = [&](const char* name, const std::string& why) {
    return "Message box " + product + ": \"" + name + "\" could not be opened: " + why;
  };
  const Case cases[] = {
      {"empty.wav", bytes("empty.wav", {}), box("empty.wav", "the file cannot be read")},
      {"truncated.wav", bytes("truncated.wav", truncated), box("truncated.wav", "")},
      {"float.wav", bytes("float.wav", Wav(3)), box("float.wav", "the WAV file is not PCM")},
      {"noise.mp3", bytes("noise.mp3", noise), box("noise.mp3", "the MP3 could not be decoded")},
      {"empty.vxb", bytes("empty.vxb", {}), box("empty.vxb", "the package cannot be opened")},
      {"slip.vxb",
       [&](const std::string& dir) {
         ASSERT_TRUE(Zip(dir + "/slip.vxb",
                         {{"../../evil.mpa", Wav()}, {"/abs/evil.cif", Text("12345678")}},
                         scratch));
       },
       box("slip.vxb", "the package holds no sound")},
      {"bomb.vxb",
       [&](const std::string& dir) {
         ASSERT_TRUE(Zip(dir + "/bomb.vxb", {{"x.cif", Text("12345678")}, {"x.mpa#1073741824", {}}},
                         scratch));
       },
       box("bomb.vxb", "the entry \"x.mpa\" would unpack to 1024 MiB")},
      {"lines.wav",
       [&](const std::string& dir) {
         WriteFile(dir + "/lines.wav", Wav());
         WriteFile(dir + "/lines.txt", manyLines);
       },
       "only its first 65535 lines are used", "WavManager.log"},
      {"records.wav",
       [&](const std::string& dir) {
         WriteFile(dir + "/records.wav", Wav());
         WriteFile(dir + "/records.cif", manyRecords);
       },
       "only its first 65535 chunks are used", "WavManager.log"},
      // A disk that fills: the package's sound cannot be unpacked, or its WAV not decoded.
      {"full-unpack.vxb",
       [&](const std::string& dir) {
         ASSERT_TRUE(Zip(dir + "/full-unpack.vxb", {{"x.mpa", lessonMp3}}, scratch));
       },
       box("full-unpack.vxb", "the entry \"x.mpa\" could not be written"), "DispanoServ.log",
       lessonMp3.size() / 2},
      {"full-decode.mp3", bytes("full-decode.mp3", lessonMp3),
       box("full-decode.mp3", "the MP3 could not be decoded"), "DispanoServ.log",
       lessonMp3.size() * 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    c.make(files);
    const std::set<std::string> before = Listing(files);
    const std::string root = MakeTempDir("root");
    const std::string home = MakeTempDir("home");  // HOME and TMPDIR: must stay empty
    std::optional<FileSizeLimit> limit;            // the program inherits it, and SIGXFSZ ignored
    if (c.fileLimit) limit.emplace(c.fileLimit);
    const Running run{StartRecorder(RecorderStart{root, {files + "/" + c.file}, home})};
    limit.reset();
    const pid_t pid = run.pid;
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntilRunning(pid, root));
    const std::string log = root + "/data/" + product + "/Logs/" + c.log;
    EXPECT_TRUE(WaitForText(pid, log, c.told)) << ReadText(log);
    EXPECT_TRUE(StillRunning(pid));
    const std::uint64_t peak = PeakMemoryBytes(pid);
    EXPECT_LT(peak, idlePeak + (100u << 20)) << "idle " << idlePeak << ", with the file " << peak;
    kill(pid, SIGKILL);
    WaitForExit(pid);
    EXPECT_EQ(Listing(files), before) << "nothing written beside the file";
    EXPECT_EQ(Listing(home), std::set<std::string>{}) << "nothing written outside the root";
    EXPECT_EQ(Listing(scratch), std::set<std::string>{});
    if (c.fileLimit) {
      EXPECT_EQ(Listing(root + "/tmp/Voxtrailstudy/TempSnd/Master0"), std::set<std::string>{})
          << "no partial file stays";
    }
  }
  // The slip's names lead nowhere outside the unpacking folder.
  EXPECT_EQ(access((files + "/../evil.mpa").c_str(), F_OK), -1);
  EXPECT_EQ(access((TestRoot() + "/evil.mpa").c_str(), F_OK), -1);
}

TEST_F(HostileFiles, BadRegistryStoresMoveAsideAndTheAssociationsAreWrittenAnew) {
  const std::string product = VTS_VARIANT_NAME;
  const struct {
    const char* what;
    std::string store;
  } cases[] = {
      {"path of a wrong type", R"({"keys":[{"path":5,"values":[]}]})"},
      {"keys that are not objects", R"({"keys":[1,2,3]})"},
      {"200,000 nested arrays", std::string(200000, '[')},
      {"not JSON", "\x01\x02 not a store"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string root = MakeTempDir("registry-root");
    ASSERT_EQ(mkdir((root + "/registry").c_str(), 0700), 0);
    const std::string store = root + "/registry/HKEY_CURRENT_USER.json";
    WriteFile(store, Bytes(c.store.begin(), c.store.end()));
    const Running run{StartRecorder(RecorderStart{root, {}, MakeTempDir("home")})};
    const pid_t pid = run.pid;
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntilRunning(pid, root)) << "the program did not start";
    EXPECT_TRUE(StillRunning(pid));
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitForExit(pid), 0);

    int aside = 0;
    for (const std::string& name : Listing(root + "/registry")) {
      if (name.rfind("HKEY_CURRENT_USER.json.unreadable-", 0) == 0) {
        ++aside;
        EXPECT_EQ(ReadText(root + "/registry/" + name), c.store) << "kept as it was";
      }
    }
    EXPECT_EQ(aside, 1);
    EXPECT_NE(ReadText(MainLogPath(root)).find("HKEY_CURRENT_USER.json\" cannot be read"),
              std::string::npos);
    setenv("VOXTRAILSTUDY_ROOT", root.c_str(), 1);
    const auto values = plat::RegListValues(
        plat::Hive::HKEY_CURRENT_USER,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.vxb\\OpenWithList");
    setenv("VOXTRAILSTUDY_ROOT", TestRoot().c_str(), 1);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].data, product + ".exe");
  }
}

}  // namespace
}  // namespace vts::test
