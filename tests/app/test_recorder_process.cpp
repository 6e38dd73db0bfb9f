// The recorder program end to end: started with an empty VOXTRAILSTUDY_ROOT and ended by
// SIGTERM or SIGINT, it exits 0 and leaves its twelve log files, the data folder and exactly
// one open-with entry per extension.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "platform/known_folders.h"
#include "platform/registry.h"
#include "recorder_process.h"
#include "test_env.h"

using namespace std::chrono_literals;

namespace {

using namespace vts::test;

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> out;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') out.insert(e->d_name);
    }
    closedir(d);
  }
  return out;
}

}  // namespace

TEST(RecorderProcess, StartAndSignalLeaveLogsDataFolderAndOneOpenWithEntry) {
  std::string root = vts::test::MakeTempDir("recorder");
  const std::string name = VTS_VARIANT_NAME;

  for (int signal : {SIGTERM, SIGINT}) {
    unlink(
        (root + "/registry/machine/HKEY_LOCAL_MACHINE.json").c_str());  // rewritten by each start
    pid_t pid = StartRecorder(root);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntilRunning(pid, root)) << "the recorder did not come up";
    kill(pid, signal);
    EXPECT_EQ(WaitForExit(pid), 0) << "signal " << signal;
  }

  // The program lives in a folder named after the variant: its logs lie in the data folder.
  const std::string dataFolder = root + "/data/" + name;
  struct stat st {};
  ASSERT_EQ(stat(dataFolder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(
      FilesIn(dataFolder + "/Logs"),
      (std::set<std::string>{"DispanoUDPNetwork.log", "DispanoTCPNetwork.log", "DispanoServ.log",
                             "DispanoScreen.log", "DispanoSound.log", "DispanoUpdate.log",
                             "DispanoLogic.log", "DispanoInput.log", "UDPDumpIn.log",
                             "UDPDumpOut.log", "Kestrin.log", "WavManager.log"}));

  // Every line that reached a log has the log line format.
  const std::regex line(R"(\d\d\.\d\d\.\d{4} \| \d\d:\d\d:\d\d:\d{3} \| [^\r\n]*\r\n)");
  for (const std::string& file : FilesIn(dataFolder + "/Logs")) {
    std::string text = ReadText(dataFolder + "/Logs/" + file);
    std::string rest = std::regex_replace(text, line, "");
    EXPECT_EQ(rest, "") << file;
  }

  setenv("VOXTRAILSTUDY_ROOT", root.c_str(), 1);
  for (const char* x : {".vxb", ".mp3", ".wav"}) {
    auto values = vts::plat::RegListValues(
        vts::plat::Hive::HKEY_CURRENT_USER,
        std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\") + x +
            "\\OpenWithList");
    ASSERT_EQ(values.size(), 2u) << x;
    EXPECT_EQ(values[0].name, "a");
    EXPECT_EQ(values[0].data, name + ".exe");
    EXPECT_EQ(values[1].name, "MRUList");
    EXPECT_EQ(values[1].data, "a");
  }
  EXPECT_EQ(vts::plat::RegGetString(vts::plat::Hive::HKEY_CLASSES_ROOT,
                                    name + ".Document\\shell\\open\\command", ""),
            "\"" + std::string(VTS_RECORDER_PATH) + "\" \"%1\"");
  setenv("VOXTRAILSTUDY_ROOT", vts::test::TestRoot().c_str(), 1);
}

// The data folder closed to the program (mode 000): its rights are repaired before the logs
// open, so this run's twelve logs are there. A data folder inside the home keeps its rights;
// then the program says once on stderr that its logs cannot be written, and runs as ever.
// Root passes any folder's rights: the recorder runs without that privilege here.
TEST(RecorderProcess, ClosedDataFolderIsRepairedBeforeTheLogsOpen) {
  const std::string name = VTS_VARIANT_NAME;
  for (const bool insideHome : {false, true}) {
    SCOPED_TRACE(insideHome ? "inside the home" : "outside the home");
    const std::string root = MakeTempDir("closed");
    const std::string data = root + "/data/" + name;
    ASSERT_TRUE(vts::plat::CreateFolderChain(data));
    ASSERT_EQ(chmod(data.c_str(), 0), 0);
    RecorderStart start;
    start.root = root;
    start.home = insideHome ? root : MakeTempDir("home");
    start.stderrPath = MakeTempDir("stderr") + "/stderr.txt";
    if (geteuid() == 0)
      start.wrapper = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
    const pid_t pid = StartRecorder(start);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntilRunning(pid, root)) << ReadText(start.stderrPath);
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitForExit(pid), 0);
    const std::string said = ReadText(start.stderrPath);
    const std::string note =
        name + ": the logs cannot be written in " + data + "/Logs: Permission denied\n";
    struct stat st {};
    ASSERT_EQ(stat(data.c_str(), &st), 0);
    if (!insideHome) {
      EXPECT_EQ(st.st_mode & 0777, 0777u);
      EXPECT_EQ(FilesIn(data + "/Logs").size(), 12u);
      EXPECT_NE(ReadText(data + "/Logs/DispanoSound.log"), "") << "the run's lines are there";
      EXPECT_EQ(said.find("logs cannot be written"), std::string::npos) << said;
    } else {
      EXPECT_EQ(st.st_mode & 0777, 0u);
      const std::size_t at = said.find(note);
      EXPECT_NE(at, std::string::npos) << said;
      EXPECT_EQ(said.find("logs cannot be written", at + note.size()), std::string::npos)
          << "said once";
      chmod(data.c_str(), 0755);
    }
  }
}
