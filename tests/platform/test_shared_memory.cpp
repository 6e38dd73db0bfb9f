// Named shared memory: absent mappings, two processes on one mapping, the life of a mapping,
// and the classroom's two mappings as the framework double makes them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <thread>

#include "classroom_double.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "process_helper.h"
#include "test_env.h"

using namespace std::chrono_literals;
namespace plat = vts::plat;
namespace test = vts::test;

namespace {

TEST(SharedMemory, OpeningAnAbsentMappingFailsCleanly) {
  std::string error;
  EXPECT_EQ(plat::SharedMemory::OpenExisting("VOXTRAILSTUDY_SHAREDMEM", &error), nullptr);
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
  for (const char* bad : {"", "a/b", "..", "."})
    EXPECT_EQ(plat::SharedMemory::OpenExisting(bad), nullptr) << bad;
  EXPECT_EQ(plat::SharedMemory::Create("x", 0), nullptr);
}

TEST(SharedMemory, TwoProcessesSeeEachOthersBytes) {
  bool existed = true;
  auto mine = plat::SharedMemory::Create("PAIR", 4096, &existed);
  ASSERT_TRUE(mine);
  EXPECT_FALSE(existed);
  ASSERT_EQ(mine->Size(), 4096u);
  for (std::size_t i = 0; i < mine->Size(); ++i)
    ASSERT_EQ(mine->Data()[i], 0) << "a new mapping is zeroed";
  std::memcpy(mine->Data() + 100, "parent", 7);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto theirs = plat::SharedMemory::OpenExisting("PAIR");
    if (!theirs || theirs->Size() != 4096 || std::memcmp(theirs->Data() + 100, "parent", 7) != 0)
      _exit(1);
    std::memcpy(theirs->Data() + 4000, "child", 6);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(mine->Data() + 4000), "child");

  // Creating it again opens the live one, with its own size.
  auto again = plat::SharedMemory::Create("PAIR", 16, &existed);
  ASSERT_TRUE(again);
  EXPECT_TRUE(existed);
  EXPECT_EQ(again->Size(), 4096u);
  EXPECT_STREQ(reinterpret_cast<const char*>(again->Data() + 100), "parent");
}

TEST(SharedMemory, AMappingEndsWithItsLastHolder) {
  {
    auto a = plat::SharedMemory::Create("LIFE", 64);
    ASSERT_TRUE(a);
    a->Data()[0] = 0x5A;
    auto b = plat::SharedMemory::OpenExisting("LIFE");
    ASSERT_TRUE(b);
    a.reset();
    auto c = plat::SharedMemory::OpenExisting("LIFE");  // b still holds it
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Data()[0], 0x5A);
  }
  EXPECT_EQ(plat::SharedMemory::OpenExisting("LIFE"), nullptr);
  bool existed = true;
  auto fresh = plat::SharedMemory::Create("LIFE", 32, &existed);
  ASSERT_TRUE(fresh);
  EXPECT_FALSE(existed);
  EXPECT_EQ(fresh->Size(), 32u);
  EXPECT_EQ(fresh->Data()[0], 0);

  // A holder that is killed lets go as well.
  fresh.reset();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = plat::SharedMemory::Create("KILLED", 128);
    if (held) std::fclose(std::fopen((test::TestRoot() + "/held").c_str(), "w"));
    pause();
    _exit(0);
  }
  ASSERT_TRUE(
      test::WaitUntil([] { return access((test::TestRoot() + "/held").c_str(), F_OK) == 0; }, 30s));
  EXPECT_TRUE(plat::SharedMemory::OpenExisting("KILLED"));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(plat::SharedMemory::OpenExisting("KILLED"), nullptr);
}

TEST(SharedMemory, AnotherProcessesExclusiveLockIsWaitedForOnlyAWhile) {
  // The holder made the memory and locks the whole file: the open gives up on its own,
  // with the reason, and the holder is still there when it does.
  test::ChildProcess holder;
  ASSERT_TRUE(test::HoldFileExclusively(holder, plat::SharedMemory::Folder() + "/LOCKED",
                                        std::vector<std::uint8_t>(64, 7)));
  std::string error;
  {
    test::KillAfter limit(holder.Pid(), 60s);
    EXPECT_EQ(plat::SharedMemory::OpenExisting("LOCKED", &error), nullptr);
    limit.Disarm();
    EXPECT_FALSE(limit.Fired()) << "the open waited until the holder was ended";
  }
  EXPECT_NE(error.find("locked exclusively by another process"), std::string::npos) << error;

  // A file that nobody holds is no memory, and the reason says what makes one.
  holder.Kill();
  EXPECT_EQ(plat::SharedMemory::OpenExisting("LOCKED", &error), nullptr);
  EXPECT_NE(error.find("no process holds a shared lock on it"), std::string::npos) << error;
}

TEST(ClassroomSharedMemory, FrameworkDoubleInAnotherProcess) {
  std::string dir = test::MakeTempDir("fw");
  test::ChildProcess framework;
  ASSERT_TRUE(
      framework.Start(CLASSROOM_DOUBLE,
                      {"shm", "--usb", "--study", "4096", "--slot", "1=C:\\Work\\one.vxb", "--slot",
                       "2=D:\\Work\\two.vxb", "--ready", dir + "/ready", "--out", dir + "/sent"}));
  ASSERT_FALSE(test::WaitForFile(dir + "/ready", 30s).empty());

  auto usb = plat::SharedMemory::OpenExisting(test::kUsbSharedMemoryName);
  ASSERT_TRUE(usb);
  ASSERT_EQ(usb->Size(), test::kUsbSharedMemoryBytes);
  EXPECT_STREQ(reinterpret_cast<const char*>(usb->Data() + 67), "C:\\Work\\one.vxb");
  EXPECT_STREQ(reinterpret_cast<const char*>(usb->Data() + 1068), "D:\\Work\\two.vxb");
  for (std::size_t i = 0; i < 67; ++i) EXPECT_EQ(usb->Data()[i], 0);

  // The recorder leaves the sent work's path as UTF-16LE with its NUL at offset 0.
  auto study = plat::SharedMemory::OpenExisting(test::kStudySharedMemoryName);
  ASSERT_TRUE(study);
  const std::u16string path = u"/home/s/Documents/QOR123.vxb";
  for (std::size_t i = 0; i <= path.size(); ++i) {
    char16_t c = i < path.size() ? path[i] : 0;
    study->Data()[2 * i] = static_cast<std::uint8_t>(c & 0xFF);
    study->Data()[2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
  }
  framework.Terminate();
  EXPECT_EQ(test::ReadFile(dir + "/sent"), "/home/s/Documents/QOR123.vxb");
  // The holders here keep the mappings; once they go, the framework's mappings are gone too.
  usb.reset();
  study.reset();
  EXPECT_EQ(plat::SharedMemory::OpenExisting(test::kStudySharedMemoryName), nullptr);
}

TEST(ClassroomSharedMemory, FrameworkWritesTheTargetPathOnlyUnderTheRecordMutex) {
  plat::NamedMutex mutex(test::kRecordMutexName);
  ASSERT_TRUE(mutex.Lock());  // the recorder is reading the slot
  std::string dir = test::MakeTempDir("mutex");
  test::ChildProcess framework;
  ASSERT_TRUE(framework.Start(
      CLASSROOM_DOUBLE, {"shm", "--usb", "--slot", "2=E:\\late.vxb", "--ready", dir + "/ready"}));
  auto usb = [] { return plat::SharedMemory::OpenExisting(test::kUsbSharedMemoryName); };
  ASSERT_TRUE(test::WaitUntil([&] { return usb() != nullptr; }, 30s));
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(test::ReadFile(dir + "/ready").empty()) << "wrote while the mutex was held";
  EXPECT_EQ(usb()->Data()[1068], 0);
  mutex.Unlock();
  ASSERT_FALSE(test::WaitForFile(dir + "/ready", 30s).empty());
  EXPECT_STREQ(reinterpret_cast<const char*>(usb()->Data() + 1068), "E:\\late.vxb");
}

TEST(ClassroomSharedMemory, SlotsAreSeparateAndCutToTheirSize) {
  test::ClassroomFrameworkDouble fw;
  ASSERT_TRUE(fw.CreateUsbSharedMemory());
  ASSERT_TRUE(fw.SetTargetPath(0, "first"));
  ASSERT_TRUE(fw.SetTargetPath(2, std::string(1500, 'x')));
  auto slot01 = fw.ReadSlot(1);
  auto slot2 = fw.ReadSlot(2);
  ASSERT_EQ(slot01.size(), test::kUsbSlotBytes);
  EXPECT_STREQ(reinterpret_cast<const char*>(slot01.data()), "first");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot2.data())), std::string(1000, 'x'));
  EXPECT_EQ(slot2.back(), 0);  // always NUL-terminated
  EXPECT_EQ(fw.UsbSharedMemory()->Data()[test::kUsbSharedMemoryBytes - 1], 0);
}

}  // namespace
