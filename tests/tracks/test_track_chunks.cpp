// The track object's chunk list, its private temporary folder and chunk files, and its
// notifications.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/product_name.h"
#include "platform/known_folders.h"
#include "platform/message_box.h"
#include "platform/pages.h"
#include "platform/utf.h"
#include "test_env.h"
#include "test_files.h"
#include "track_doubles.h"
#include "tracks/sound_track.h"
#include "tracks/temp_folder.h"

namespace vts {
namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names = test::FolderEntries(folder);
  return names;
}

std::string TrackFolder(const std::string& name) {
  return plat::TempFolder() + "/Voxtrailstudy/TempSnd/" + name + "/";
}

class TrackChunks : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes_ = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes_);
  }
  void TearDown() override {
    core_.Attach(nullptr, nullptr);
    plat::SetMessageBoxService(nullptr);
  }
  std::unique_ptr<CSoundTrack> MakeTrack(const std::string& name = "Student") {
    auto t = std::make_unique<CSoundTrack>(core_.Id(), name, &state_, 1);
    core_.Attach(nullptr, t.get());
    return t;
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  std::shared_ptr<plat::RecordingMessageBoxService> boxes_;
};

TEST_F(TrackChunks, FolderIsPrivateEmptiedAtStartAndLeftEmpty) {
  const std::string folder = TrackFolder("Student");
  ASSERT_TRUE(plat::CreateFolderChain(folder, 0700));
  std::ofstream(folder + "stale.tmp") << "old";
  {
    auto track = MakeTrack();
    EXPECT_EQ(track->TempFolderPath(), folder);
    EXPECT_TRUE(Entries(folder).empty()) << "emptied at start";
    for (const std::string& level : {plat::TempFolder() + "/Voxtrailstudy",
                                     plat::TempFolder() + "/Voxtrailstudy/TempSnd", folder}) {
      struct stat st {};
      ASSERT_EQ(lstat(level.c_str(), &st), 0) << level;
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << level;
      EXPECT_EQ(st.st_mode & 0777, 0700u) << level;
      EXPECT_EQ(st.st_uid, geteuid()) << level;
    }
    ASSERT_NE(track->AddChunk(), nullptr);
    EXPECT_EQ(Entries(folder).size(), 1u);
  }
  struct stat st {};
  EXPECT_EQ(stat(folder.c_str(), &st), 0) << "the folder itself stays";
  EXPECT_TRUE(Entries(folder).empty()) << "emptied at destruction";
}

TEST_F(TrackChunks, FolderThatIsALinkIsNeverUsedNorEmptied) {
  // Someone placed a link where the track's folder goes; what it points at must survive.
  const std::string elsewhere = test::MakeTempDir("victim");
  std::ofstream(elsewhere + "/precious.txt") << "keep me";
  ASSERT_TRUE(plat::CreateFolderChain(plat::TempFolder() + "/Voxtrailstudy/TempSnd", 0700));
  const std::string link = TrackFolder("Linked");
  ASSERT_EQ(symlink(elsewhere.c_str(), link.substr(0, link.size() - 1).c_str()), 0);
  {
    auto track = MakeTrack("Linked");
    EXPECT_TRUE(track->TempFolderPath().empty());
    EXPECT_EQ(track->AddChunk(), nullptr);
    EXPECT_EQ(track->ChunkCount(), 0);
  }
  EXPECT_EQ(Entries(elsewhere), std::vector<std::string>{"precious.txt"});
}

TEST_F(TrackChunks, RenamedFolderFollowsTheInstanceName) {
  auto track = MakeTrack();
  track->GetTempSoundFolder("Student2");
  track->ClearTempSoundFolder();
  EXPECT_EQ(track->TempFolderPath(), TrackFolder("Student2"));
  ASSERT_NE(track->AddChunk(), nullptr);
  EXPECT_EQ(Entries(TrackFolder("Student2")).size(), 1u);
}

TEST_F(TrackChunks, AddChunkMakesAnEmptyUniqueWavFile) {
  auto track = MakeTrack();
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    CChunkInfo* chunk = track->AddChunk();
    ASSERT_NE(chunk, nullptr);
    EXPECT_TRUE(std::regex_match(chunk->fileName, std::regex("Wav[0-9A-F]{1,4}\\.tmp")))
        << chunk->fileName;
    EXPECT_EQ(chunk->length, 0u);
    EXPECT_EQ(chunk->start, 0u);
    EXPECT_FALSE(chunk->IsLoaded());
    struct stat st {};
    ASSERT_EQ(stat((track->TempFolderPath() + chunk->fileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    names.insert(chunk->fileName);
  }
  EXPECT_EQ(names.size(), 20u);
  EXPECT_EQ(track->ChunkCount(), 20);
}

TEST_F(TrackChunks, LoadChunkEdgeCases) {
  auto track = MakeTrack();
  EXPECT_FALSE(track->LoadChunk(-1));
  EXPECT_FALSE(track->LoadChunk(0));
  CChunkInfo* chunk = track->AddChunk();
  EXPECT_TRUE(track->LoadChunk(0)) << "length 0: nothing to do";
  EXPECT_FALSE(chunk->IsLoaded());
  EXPECT_TRUE(boxes_->Boxes().empty());

  chunk->length = 100;
  ASSERT_EQ(unlink((track->TempFolderPath() + chunk->fileName).c_str()), 0);
  EXPECT_FALSE(track->LoadChunk(0));
  ASSERT_EQ(boxes_->Boxes().size(), 1u);
  EXPECT_EQ(boxes_->Boxes()[0].text, u"Could not open file in LoadChunk");
  EXPECT_EQ(boxes_->Boxes()[0].caption, std::u16string(GetProductName()));
  EXPECT_EQ(boxes_->Boxes()[0].type, plat::MB_OK | plat::MB_ICONWARNING);
}

// The box service as the window runs it: a box the asker waits for is answered by the
// window's thread, which takes the track's lock on every time tick before it gets to the box
// and answers nothing while it waits for a track's thread to end. A box nobody waits for is
// shown later and holds up nobody.
class WindowThreadBoxes : public plat::IMessageBoxService {
 public:
  enum class Asked { kAnswered, kNeverAnswered, kNotWaitedFor };
  explicit WindowThreadBoxes(std::recursive_mutex& trackLock) : lock_(trackLock) {}
  // The window's thread waits for a track's thread meanwhile (a save it waits for).
  void SetWindowWaits(bool waits) { windowWaits_ = waits; }
  int Show(const std::u16string& text, const std::u16string&, unsigned type) override {
    auto tick = std::async(std::launch::async, [this] {
      return test::WaitUntil([this] {
        if (windowWaits_ || !lock_.try_lock()) return false;
        lock_.unlock();
        return true;
      }, std::chrono::seconds(10));
    });
    Add(text, tick.get() ? Asked::kAnswered : Asked::kNeverAnswered);
    return plat::DefaultAnswer(type);
  }
  void ShowWithoutWaiting(const std::u16string& text, const std::u16string&, unsigned) override {
    Add(text, Asked::kNotWaitedFor);
  }
  std::vector<std::pair<std::u16string, Asked>> Asks() {
    std::lock_guard lock(mutex_);
    return asks_;
  }

 private:
  void Add(const std::u16string& text, Asked how) {
    std::lock_guard lock(mutex_);
    asks_.emplace_back(text, how);
  }
  std::recursive_mutex& lock_;
  std::atomic<bool> windowWaits_{false};
  std::mutex mutex_;
  std::vector<std::pair<std::u16string, Asked>> asks_;
};

// A chunk file that went missing is told from the save thread and from the core thread (a
// chunk switch for received audio), and the failed save is told, without the window's thread
// ever being left waiting: Open waits for the save of the old lesson.
TEST_F(TrackChunks, AMissingChunkFileIsToldWithoutHoldingUpTheWindow) {
  using Asked = WindowThreadBoxes::Asked;
  auto track = MakeTrack();
  auto boxes = std::make_shared<WindowThreadBoxes>(track->BufferLock());
  plat::SetMessageBoxService(boxes);
  ASSERT_NE(track->AddChunk(), nullptr);
  ASSERT_NE(track->AddChunk(), nullptr);
  track->SelectChunk(1);
  test::FillChunk(track->Chunk(1), std::vector<std::int16_t>(1000, 3));
  track->SelectChunk(0);
  test::FillChunk(track->Chunk(0), std::vector<std::int16_t>(1000, 2));
  ASSERT_EQ(unlink((track->TempFolderPath() + track->Chunk(1)->fileName).c_str()), 0);
  const std::u16string missing = u"Could not open file in LoadChunk";

  // The save thread: the save reads chunk 1 from its file, which is gone.
  boxes->SetWindowWaits(true);
  ASSERT_TRUE(track->SaveAsync(test::MakeTempDir("box") + "/out.wav"));
  track->WaitForSave();
  boxes->SetWindowWaits(false);
  auto asks = boxes->Asks();
  ASSERT_EQ(asks.size(), 2u);
  EXPECT_EQ(asks[0].first, missing);
  EXPECT_EQ(asks[1].first, u"Unable to save to requested destination");
  for (const auto& [text, how] : asks) EXPECT_NE(how, Asked::kNeverAnswered) << plat::Utf16ToUtf8(text);

  // The core thread: received audio switches to chunk 1.
  core_.Core().Apply([&] { track->SelectChunk(1); });
  asks = boxes->Asks();
  ASSERT_GE(asks.size(), 2u);
  EXPECT_EQ(asks.back().first, missing);
  EXPECT_NE(asks.back().second, Asked::kNeverAnswered);
}

// The mapped span around an address in /proc/self/maps, or {0, 0} when none holds it.
std::pair<std::uintptr_t, std::uintptr_t> MappingAt(const void* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const std::uintptr_t from = std::stoull(line, nullptr, 16),
                         to = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
    if (from <= at && at < to) return {from, to};
  }
  return {0, 0};
}

// A chunk that grows as a recording does: every step keeps what was written, its whole
// capacity is mapped, and its unload leaves nothing of the mapping behind.
TEST(ChunkMemory, GrowingKeepsTheBytesAndUnloadingFreesTheWholeMapping) {
  CChunkInfo chunk;
  std::uint64_t written = 0;
  for (std::uint64_t bytes : {100000ull, 300000ull, 1048576ull, 1048577ull, 2097152ull, 2097153ull,
                              5000000ull, 9437184ull}) {
    SCOPED_TRACE(bytes);
    ASSERT_TRUE(chunk.Reserve(bytes, kChunkGrowStep));
    ASSERT_GE(chunk.dataCapacity, bytes);
    for (std::uint64_t i = 0; i < written; i += 4093)
      ASSERT_EQ(chunk.data[i], std::uint8_t(i * 13)) << "at " << i;
    for (std::uint64_t i = written; i < bytes; ++i) chunk.data[i] = std::uint8_t(i * 13);
    written = bytes;
    chunk.dataSize = static_cast<std::uint32_t>(bytes);
    if (chunk.dataMapped) {
      const auto [from, to] = MappingAt(chunk.data);
      EXPECT_GE(to, reinterpret_cast<std::uintptr_t>(chunk.data) + chunk.dataCapacity);
    }
  }
  ASSERT_TRUE(chunk.dataMapped);
  // Mapped in whole large pages: all of those go (a neighbour merged into the same span of
  // the list may stay).
  const auto first = reinterpret_cast<std::uintptr_t>(chunk.data);
  const std::uintptr_t end = first + (chunk.dataCapacity + plat::kLargePageBytes - 1) /
                                         plat::kLargePageBytes * plat::kLargePageBytes;
  chunk.Unload();
  for (std::uintptr_t at = first; at < end; at += 64 * 1024)
    ASSERT_EQ(MappingAt(reinterpret_cast<const void*>(at)).second, 0u) << "left mapped";
}

TEST_F(TrackChunks, SaveAndLoadRoundTrip) {
  auto track = MakeTrack();
  CChunkInfo* chunk = track->AddChunk();
  std::vector<std::int16_t> samples(50000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::int16_t(i * 7);
  test::FillChunk(chunk, samples);
  EXPECT_FALSE(track->SaveChunk(1));
  EXPECT_FALSE(track->SaveChunk(-1));
  ASSERT_TRUE(track->SaveChunk(0));
  chunk->Unload();
  ASSERT_TRUE(track->LoadChunk(0));
  ASSERT_EQ(chunk->dataSize, samples.size() * 2);
  EXPECT_EQ(chunk->dataCapacity, chunk->dataSize);
  EXPECT_EQ(0, memcmp(chunk->data, samples.data(), chunk->dataSize));
}

TEST_F(TrackChunks, ShortWriteFailsAndTheChunkStaysLoaded) {
  // A full disk: the file size limit stops the write part way.
  auto track = MakeTrack();
  track->AddChunk();
  track->AddChunk();
  track->SelectChunk(0);
  CChunkInfo* chunk = track->Chunk(0);
  std::vector<std::int16_t> samples(200000, 1234);
  test::FillChunk(chunk, samples);

  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = track->SaveChunk(0);
  track->SelectChunk(1);  // leaving the chunk must not drop its sound
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  ASSERT_TRUE(chunk->IsLoaded());
  EXPECT_EQ(chunk->dataSize, samples.size() * 2);
  // With room again, leaving the chunk writes it whole.
  track->SelectChunk(0);
  track->SelectChunk(1);
  EXPECT_FALSE(chunk->IsLoaded());
  struct stat st {};
  ASSERT_EQ(stat((track->TempFolderPath() + chunk->fileName).c_str(), &st), 0);
  EXPECT_EQ(std::uint64_t(st.st_size), samples.size() * 2);
}

TEST_F(TrackChunks, SelectChunkKeepsOnlyTheCurrentChunkInMemory) {
  test::NotifyLog log;  // outlives the track, which posts as it goes
  auto track = MakeTrack();
  track->SetNotifyTarget(log.Target());
  for (int i = 0; i < 3; ++i) track->AddChunk();
  track->SelectChunk(0);
  test::FillChunk(track->Chunk(0), std::vector<std::int16_t>(10000, 5));
  track->SelectChunk(2);
  EXPECT_FALSE(track->Chunk(0)->IsLoaded());
  EXPECT_EQ(track->CurrentChunkIndex(), 2);
  track->SelectChunk(0);
  ASSERT_TRUE(track->Chunk(0)->IsLoaded());
  EXPECT_EQ(track->Chunk(0)->dataSize, 20000u);
  EXPECT_EQ(track->ViewSnapshot().progress.High(), 10000u);
  track->SelectChunk(3);  // equal to the count: only stops and resets the positions
  EXPECT_EQ(track->CurrentChunkIndex(), 0);
  EXPECT_EQ(log.Codes(), (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST_F(TrackChunks, OnlyAChunkJustAddedWithNoneCurrentIsAdoptedAsCurrent) {
  test::NotifyLog log;
  auto track = MakeTrack();
  track->SetNotifyTarget(log.Target());
  EXPECT_FALSE(track->AdoptAsCurrentChunk(0)) << "no chunk to adopt";
  ASSERT_NE(track->AddChunk(), nullptr);
  ASSERT_NE(track->AddChunk(), nullptr);
  EXPECT_FALSE(track->AdoptAsCurrentChunk(2));
  EXPECT_FALSE(track->AdoptAsCurrentChunk(-1));
  EXPECT_EQ(track->CurrentChunkIndex(), -1);
  EXPECT_TRUE(track->AdoptAsCurrentChunk(1));
  EXPECT_EQ(track->CurrentChunkIndex(), 1);
  // A chunk already current is left by a switch, which saves it; adopting would skip that.
  EXPECT_FALSE(track->AdoptAsCurrentChunk(0));
  EXPECT_EQ(track->CurrentChunkIndex(), 1);
  EXPECT_TRUE(log.Codes().empty()) << "nothing is announced";
}

TEST_F(TrackChunks, NotifiesThreadAndWindowAndClosesFormat) {
  test::NotifyLog log;  // outlives the track, which posts as it goes
  auto track = MakeTrack();
  plat::EnsureQueue();
  track->SetNotifyTarget(NotifyTarget{plat::CurrentThreadId(), &log, WM_TRACKNOTIFY});
  EXPECT_EQ(track->Format().channels, 1);
  EXPECT_EQ(track->Format().samplesPerSec, 44100u);
  EXPECT_EQ(track->Format().blockAlign, 2);
  track->Close();
  EXPECT_EQ(track->Format().channels, 0);
  EXPECT_EQ(track->Format().samplesPerSec, 0u);
  EXPECT_EQ(log.Codes(), std::vector<std::uint32_t>{TRACK_NOTIFY_REFRESH});
  plat::Msg msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, true));
  EXPECT_EQ(msg.message, WM_TRACKNOTIFY);
  EXPECT_EQ(msg.wParam, plat::WPARAM(TRACK_NOTIFY_REFRESH));
  EXPECT_EQ(msg.lParam, reinterpret_cast<plat::LPARAM>(track.get()));
  EXPECT_FALSE(plat::PeekMessage(&msg, true));
}

TEST(TrackIds, EachTrackHasItsOwnOwnerId) {
  EngineStateBlock state;
  test::CoreThreadDouble core;
  CSoundTrack a(core.Id(), "Master", &state);
  CSoundTrack b(core.Id(), "Student", &state);
  EXPECT_NE(a.OwnerId(), 0u);
  EXPECT_EQ(b.OwnerId(), a.OwnerId() + 1);
  EXPECT_EQ(a.RecordSources(), CSoundTrack::kRecordInput);
  EXPECT_EQ(a.ViewSnapshot().framesPerPixel, 256u);
  EXPECT_EQ(a.CurrentChunkIndex(), -1);
}

}  // namespace
}  // namespace vts
