// Named logs: line format, trimming at the limit on whole lines, the folder rule, the log
// thread's writes (tick, final write at stop, unknown ids dropped), and the rate-limited log.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "core/log_manager.h"
#include "core/product_name.h"
#include "platform/known_folders.h"
#include "test_env.h"
#include "test_files.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

using ::vts::test::ReadFile;

bool WaitFor(const std::function<bool()>& done) { return ::vts::test::WaitUntil(done, 20s); }

const char* const kFileNames[] = {
    "DispanoUDPNetwork.log", "DispanoTCPNetwork.log", "DispanoServ.log",  "DispanoScreen.log",
    "DispanoSound.log",      "DispanoUpdate.log",     "DispanoLogic.log", "DispanoInput.log",
    "UDPDumpIn.log",         "UDPDumpOut.log",        "Kestrin.log",      "WavManager.log",
};

// A line of exactly `size` bytes with CR LF, numbered.
std::string FixedLine(int n, size_t size) {
  std::string s = "L" + std::to_string(n) + " ";
  s.resize(size - 2, 'x');
  return s + "\r\n";
}

}  // namespace

TEST(LogLine, HasTheDateTimeFormatAndEndsInCrLf) {
  std::string line = FormatLogLine("abc");
  std::regex re(R"(^\d\d\.\d\d\.\d{4} \| \d\d:\d\d:\d\d:\d{3} \| abc\r\n$)");
  EXPECT_TRUE(std::regex_match(line, re)) << line;
  EXPECT_EQ(FormatLogLine("").substr(FormatLogLine("").size() - 5), " | \r\n");
}

TEST(LogLine, OverlongTextIsCutToTheBufferAndKeepsItsLineEnd) {
  std::string text(10000, 'a');
  text[4060] = '\xC3';  // a two-byte character across the cut must not be split
  text[4061] = '\xA9';
  std::string line = FormatLogLine(text.c_str());
  EXPECT_LE(line.size(), kLogLineBufferBytes - 1);
  EXPECT_GE(line.size(), kLogLineBufferBytes - 8);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  std::string body = line.substr(0, line.size() - 2);
  EXPECT_NE(static_cast<unsigned char>(body.back()) & 0xC0, 0xC0u);
}

TEST(LogFile, TrimmingDropsTheOldestQuarterOnWholeLines) {
  std::string dir = test::MakeTempDir("trim");
  CLogFile log(dir + "/t.log", "T");
  const size_t kLine = 100;
  const int kFits = static_cast<int>((kLogLimitBytes - 1) / kLine);  // lines that fit with the NUL
  for (int i = 0; i < kFits; ++i) log.AppendLine(FixedLine(i, kLine));
  ASSERT_EQ(log.Text().size(), kFits * kLine);

  log.AppendLine(FixedLine(kFits, kLine));
  // The cut starts at a quarter of the used length and ends after the next CR LF.
  size_t quarter = (kFits * kLine) / 4;
  int firstKept = static_cast<int>(quarter / kLine) + 1;
  const std::string& text = log.Text();
  EXPECT_EQ(text.substr(0, kLine), FixedLine(firstKept, kLine));
  EXPECT_EQ(text.size(), (kFits + 1 - firstKept) * kLine);
  EXPECT_EQ(text.substr(text.size() - kLine), FixedLine(kFits, kLine));

  log.Flush();
  EXPECT_EQ(ReadFile(dir + "/t.log"), text);
}

TEST(LogFile, TrimmingIgnoresLoneLineFeedsInsideLines) {
  std::string dir = test::MakeTempDir("trim2");
  CLogFile log(dir + "/t.log", "T");
  // Each line carries a lone LF and a lone CR in its text.
  std::string body = "head\nmid\rtail";
  int n = 0;
  while (log.Text().size() < kLogLimitBytes - 4096) log.Write((body + std::to_string(n++)).c_str());
  while (log.Text().size() >= kLogLimitBytes - 4096)
    log.Write((body + std::to_string(n++)).c_str());
  const std::string& text = log.Text();
  EXPECT_TRUE(std::regex_search(text.substr(0, 40), std::regex(R"(^\d\d\.\d\d\.\d{4} \| )")))
      << text.substr(0, 40);
  EXPECT_LT(text.size(), kLogLimitBytes);
}

TEST(LogFile, StartsEmptyAndWritesItsTextOnFlushAndDestruction) {
  std::string dir = test::MakeTempDir("lf");
  std::string path = dir + "/a.log";
  std::ofstream(path) << "left over from an earlier run\r\n";
  {
    CLogFile log(path, "A");
    EXPECT_EQ(ReadFile(path), "");
    log.AppendLine("one\r\n");
    log.Flush();
    EXPECT_EQ(ReadFile(path), "one\r\n");
    log.TruncateFile();
    EXPECT_EQ(ReadFile(path), "");
    log.AppendLine("two\r\n");
  }
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
}

// A disk that takes no more (here: the process's file-size limit, which binds root too): a
// rewrite that cannot put the whole text down keeps the file as it was, and the next one
// that can writes everything.
TEST(LogFile, ARewriteThatCannotBeWrittenWholeKeepsWhatTheFileHad) {
  for (const rlim_t room : {rlim_t(0), rlim_t(5), rlim_t(60)}) {
    SCOPED_TRACE(room);
    const std::string path = test::MakeTempDir("lf") + "/a.log";
    CLogFile log(path, "A");
    log.AppendLine("one\r\n");
    log.Flush();
    for (int i = 0; i < 3; ++i) log.AppendLine(FixedLine(i, 40));
    const std::string whole = log.Text();
    {
      test::FileSizeLimit full(room);
      ASSERT_TRUE(full.ok());
      log.Flush();
    }
    EXPECT_EQ(ReadFile(path), "one\r\n");
    log.Flush();
    EXPECT_EQ(ReadFile(path), whole);
    log.TruncateFile();
    EXPECT_EQ(ReadFile(path), "") << "the file at the path is the one emptied";
  }
}

TEST(LogFolder, FolderRule) {
  const std::string base = plat::CommonAppDataFolder() + "/";
  struct Case {
    const char* program;
    const char* folder;
  } cases[] = {
      {"/opt/Lectorine/Lectorine", "Lectorine"},
      {"/opt/x/Debug/Lectorine", "Mentavo"},
      {"/opt/x/RELEASE/Lectorine", "Mentavo"},
      {"/opt/x/ReLeAsE/Lectorine", "Mentavo"},
      {"/opt/x/Debugger/Lectorine", "Debugger"},
      {"/Lectorine", "Mentavo"},
      {"Lectorine", "Mentavo"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LogFolderForProgram(c.program), base + c.folder + "/Logs") << c.program;
  EXPECT_EQ(GetLogFolder(), LogFolderForProgram(plat::ProgramPath()));
}

TEST(LogThread, WritesTwelveFilesOnTickAndAtStopDroppingUnknownIds) {
  std::string folder = test::MakeTempDir("logs") + "/deep/chain/Logs";  // parents are created
  plat::CreateFolderChain(folder);
  std::ofstream(folder + "/DispanoSound.log") << "old text\r\n";
  InitLogging(LogOptions{50ms, folder});
  for (const char* name : kFileNames) EXPECT_EQ(ReadFile(folder + "/" + name), "") << name;

  WriteLog(LOG_SOUND, "hello sound");
  WriteLog(1, "id one is no log");
  WriteLog(99, "nor is 99");
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(folder + "/DispanoSound.log").find("hello sound") != std::string::npos;
  }));

  WriteLog(LOG_WAVE_MANAGER, std::string("the very last line"));
  StopLogging();  // final write, well before the next tick would matter
  std::string wave = ReadFile(folder + "/WavManager.log");
  EXPECT_NE(wave.find("| the very last line\r\n"), std::string::npos) << wave;
  for (const char* name : kFileNames) {
    std::string content = ReadFile(folder + "/" + name);
    EXPECT_EQ(content.find("id one"), std::string::npos);
    EXPECT_EQ(content.find("nor is 99"), std::string::npos);
  }
  WriteLog(LOG_SOUND, "after stop");  // dropped, no crash
  StopLogging();                      // harmless twice
  EXPECT_EQ(ReadFile(folder + "/DispanoSound.log").find("after stop"), std::string::npos);
}

TEST(LogThread, EveryLineFromManyThreadsReachesTheFileInSenderOrder) {
  std::string folder = test::MakeTempDir("logs2");
  InitLogging(LogOptions{10000ms, folder});
  constexpr int kThreads = 6, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i)
        WriteLog(LOG_MAIN, "t" + std::to_string(t) + " n" + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(FlushLogs());
  std::string text = ReadFile(folder + "/DispanoServ.log");
  StopLogging();
  std::vector<int> next(kThreads, 0);
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  std::regex re(R"(^\d\d\.\d\d\.\d{4} \| \d\d:\d\d:\d\d:\d{3} \| t(\d) n(\d+)\r$)");
  while (std::getline(lines, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, re)) << line;
    int t = std::stoi(m[1]);
    ASSERT_EQ(std::stoi(m[2]), next[t]++);
    ++count;
  }
  EXPECT_EQ(count, kThreads * kEach);
}

TEST(LogThread, WithoutLoggingWritesAreDroppedAndFlushReportsIt) {
  WriteLog(LOG_MAIN, "nobody listens");
  EXPECT_FALSE(FlushLogs(100ms));
}

// Lines wait to be taken in batches; none may be lost at a stop, whether a batch was just
// taken, is about to be, or not yet.
TEST(LogThread, EveryGatheredLineIsWrittenAtStopInOrder) {
  for (int count : {1, 255, 256, 257, 1000}) {
    std::string folder = test::MakeTempDir("logs-batch");
    InitLogging(LogOptions{10000ms, folder});  // no tick during the test
    for (int i = 0; i < count; ++i) WriteLog(LOG_SOUND, "line " + std::to_string(i));
    StopLogging();
    std::istringstream lines(ReadFile(folder + "/DispanoSound.log"));
    std::string line;
    int next = 0;
    while (std::getline(lines, line)) {
      ASSERT_NE(line.find("| line " + std::to_string(next) + "\r"), std::string::npos)
          << "count " << count << ": " << line;
      ++next;
    }
    EXPECT_EQ(next, count);
  }
}

// Logs that cannot be written keep their lines in memory only: that is said once, on
// stderr, naming the folder and the reason; writable logs say nothing.
TEST(LogThread, UnwritableLogsAreReportedOnceOnStderr) {
  const std::string dir = test::MakeTempDir("logs-blocked");
  std::ofstream(dir + "/plain-file") << "x";  // no folder below a file, not even for root
  const std::string folder = dir + "/plain-file/Logs";
  testing::internal::CaptureStderr();
  InitLogging(LogOptions{10000ms, folder});
  WriteLog(LOG_MAIN, "kept in memory");
  ASSERT_TRUE(FlushLogs());
  StopLogging();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, std::string(GetProductNameUtf8()) + ": the logs cannot be written in " + folder +
                      ": Not a directory\n");

  testing::internal::CaptureStderr();
  InitLogging(LogOptions{10000ms, dir + "/fine"});
  StopLogging();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(RateLimitedLog, OneLineAnIntervalAndTheNextOneSaysHowManyWereLeftOut) {
  RateLimitedLog log(LOG_WAVE_MANAGER, 1000ms);
  const auto start = RateLimitedLog::Clock::time_point{} + 1h;
  struct Step {
    int atMs;
    const char* text;
    std::optional<std::string> line;
  } steps[] = {
      {0, "a", "a"},
      {10, "b", std::nullopt},
      {999, "c", std::nullopt},
      {1000, "d", "d (2 lines left out before this one)"},
      {1500, "e", std::nullopt},
      {5000, "f", "f (1 line left out before this one)"},
      {6000, "g", "g"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.atMs);
    EXPECT_EQ(log.Admit(start + std::chrono::milliseconds(s.atMs), s.text), s.line);
  }
}
