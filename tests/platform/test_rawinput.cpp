// Raw-input library: loaded by absolute path only, its subscription recorded, missing
// library and missing function reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/known_folders.h"
#include "platform/rawinput.h"

namespace plat = vts::plat;

namespace {

std::string Log() {
  std::ifstream f(plat::RuntimeFolder() + "/rawinput.log");
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(RawInput, LoadedBesideTheProgramRecordsTheSubscription) {
  std::string path = plat::DefaultRawInputLibraryPath();
  ASSERT_EQ(path, plat::ProgramFolder() + "/librawinput.so");
  plat::RawInputLibrary lib;
  std::string detail;
  ASSERT_EQ(lib.Load(path, &detail), plat::RawInputLibrary::Status::Loaded) << detail;

  const std::uint64_t window = 0x0000123400000007ull;
  const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
  ASSERT_TRUE(lib.Select(window, 3, pid, 1, plat::RawInputRect{960, 0, 1920, 1080}));
  ASSERT_TRUE(lib.Select(window + 1, 4, pid, 2, plat::RawInputRect{0, 0, 960, 1080}));
  ASSERT_TRUE(lib.Unsubscribe(1));
  ASSERT_TRUE(lib.Unsubscribe(1));
  ASSERT_TRUE(lib.Deinitialize());

  std::string p = std::to_string(pid);
  EXPECT_EQ(Log(), "select position=1 window=0x0000123400000007 thread=3 process=" + p +
                       " area=960,0,1920,1080 subscriptions=1\n"
                       "select position=2 window=0x0000123400000008 thread=4 process=" +
                       p +
                       " area=0,0,960,1080 subscriptions=2\n"
                       "unsubscribe position=1 removed subscriptions=1\n"
                       "unsubscribe position=1 none subscriptions=1\n"
                       "deinitialize dropped=1\n");
}

TEST(RawInput, TheBuiltLibraryLoadsByItsAbsolutePath) {
  plat::RawInputLibrary lib;
  EXPECT_EQ(lib.Load(RAWINPUT_LIBRARY), plat::RawInputLibrary::Status::Loaded);
}

#ifdef RECORDER_FOLDER
TEST(RawInput, TheBuildPutsTheLibraryBesideTheRecorder) {
  plat::RawInputLibrary lib;
  std::string detail;
  EXPECT_EQ(lib.Load(std::string(RECORDER_FOLDER) + "/" + plat::kRawInputLibraryName, &detail),
            plat::RawInputLibrary::Status::Loaded)
      << detail;
}
#endif

TEST(RawInput, MissingLibraryOrFunctionIsReported) {
  struct Case {
    std::string path;
    plat::RawInputLibrary::Status want;
  };
  const Case cases[] = {
      {plat::ProgramFolder() + "/no-such-librawinput.so",
       plat::RawInputLibrary::Status::LibraryMissing},
      // A bare name would be looked up on the search path: refused even though one exists.
      {"librawinput.so", plat::RawInputLibrary::Status::LibraryMissing},
      {"./librawinput.so", plat::RawInputLibrary::Status::LibraryMissing},
      {"", plat::RawInputLibrary::Status::LibraryMissing},
      {plat::ProgramPath() + ".not-a-library", plat::RawInputLibrary::Status::LibraryMissing},
      {RAWINPUT_WITHOUT_SELECT, plat::RawInputLibrary::Status::SelectMissing},
  };
  const std::string logBefore = Log();
  for (const auto& c : cases) {
    plat::RawInputLibrary lib;
    std::string detail;
    EXPECT_EQ(lib.Load(c.path, &detail), c.want) << c.path;
    EXPECT_FALSE(detail.empty()) << c.path;
    EXPECT_FALSE(lib.Select(1, 1, 1, 1, {}));
  }
  // Without SelectRawInputDevices the other two still answer, as the destructor expects.
  plat::RawInputLibrary partial;
  ASSERT_EQ(partial.Load(RAWINPUT_WITHOUT_SELECT), plat::RawInputLibrary::Status::SelectMissing);
  EXPECT_TRUE(partial.Unsubscribe(1));
  EXPECT_TRUE(partial.Deinitialize());
  EXPECT_EQ(Log(), logBefore) << "nothing reached the real library";
}

}  // namespace
