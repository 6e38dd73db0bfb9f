// The recorder window over the real core and tracks (virtual sound), with a track-operation
// double that keeps a log of every call and moves the tracks' flags as the tracks would,
// a video double, a recording message-box service and a scripted file dialog.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/virtual_endpoints.h"
#include "core/app_core.h"
#include "platform/message_box.h"
#include "sound_track_test_access.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "ui/transparent_button.h"
#include "video/master_video.h"

namespace vts::ui::test {

class LoggingOps : public TrackOps {
 public:
  CSoundTrack* master = nullptr;
  std::vector<std::string> calls;
  bool loadSave = true;         // the build can load and save
  bool saveStarts = true;       // SaveAsync starts a save
  int saveThreadMs = 0;         // > 0: the save runs on a thread of its own this long
                                // < 0: until ReleaseSave() (at most 10 s)
  bool sideWritesFail = false;  // WriteChunkList and BuildPackage fail (a full disk)
  std::vector<std::string> savedPaths;
  std::vector<bool> keptOldVersions;  // per saved path: whether a file there is kept " - Old"

  std::string Name(const CSoundTrack& t) const { return &t == master ? "M" : "S"; }
  void Log(const std::string& what, const CSoundTrack& t, const std::string& arg = {}) {
    calls.push_back(what + " " + Name(t) + (arg.empty() ? "" : " " + arg));
  }
  void Play(CSoundTrack& t) override {
    Log("Play", t);
    t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetRecording(t, false);
    CSoundTrackTestAccess::SetPlaying(t, true);
    CSoundTrackTestAccess::SetPaused(t, false);
  }
  void StopPlayback(CSoundTrack& t) override {
    Log("StopPlayback", t);
    if (t.IsPlaying()) t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetRecording(t, false);
    CSoundTrackTestAccess::SetPlaying(t, false);
    CSoundTrackTestAccess::SetPaused(t, false);
  }
  void ToggleRecord(CSoundTrack& t) override {
    Log("ToggleRecord", t);
    CSoundTrackTestAccess::SetRecording(t, !t.IsRecording());
  }
  void TogglePause(CSoundTrack& t) override {
    Log("TogglePause", t);
    if (t.IsPlaying()) {
      t.BeginPlayGeneration();  // a pause stops, a resume plays
      CSoundTrackTestAccess::SetPaused(t, !t.IsPaused());
    }
  }
  void SelectChunk(CSoundTrack& t, int index) override {
    Log("SelectChunk", t, std::to_string(index));
    // A chunk switch stops the track silently.
    t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetRecording(t, false);
    CSoundTrackTestAccess::SetPlaying(t, false);
    CSoundTrackTestAccess::SetPaused(t, false);
    if (index >= 0 && index < t.ChunkCount()) CSoundTrackTestAccess::SetCurrentChunk(t, index);
  }
  // The recording goes on in the chunk stepped to.
  bool ContinueRecordingIn(CSoundTrack& t, int index) override {
    Log("ContinueRecordingIn", t, std::to_string(index));
    if (!t.IsRecording() || index < 0 || index >= t.ChunkCount()) return false;
    CSoundTrackTestAccess::SetCurrentChunk(t, index);
    return true;
  }
  int AddChunk(CSoundTrack& t) override {
    Log("AddChunk", t);
    return TrackOps::AddChunk(t);
  }
  void Close(CSoundTrack& t) override {
    Log("Close", t);
    CSoundTrackTestAccess::SetSourcePath(t, {});
  }
  void FreeChunks(CSoundTrack& t) override { Log("FreeChunks", t); }
  void RedrawWaveform(CSoundTrack& t, std::uint32_t first, std::uint32_t fpp) override {
    Log("Redraw", t, std::to_string(first) + " " + std::to_string(fpp));
    CSoundTrackTestAccess::EditView(t, [&](WaveformViewState& v) {
      v.viewStartFrame = first;
      v.framesPerPixel = fpp;
    });
  }
  bool StartLoad(CSoundTrack& t, const std::string& path) override {
    Log("StartLoad", t, path);
    return loadSave;
  }
  bool SaveAsync(CSoundTrack& t, const std::string& path, bool keepOldVersion) override {
    Log("SaveAsync", t, path);
    if (!saveStarts) return false;
    savedPaths.push_back(path);
    keptOldVersions.push_back(keepOldVersion);
    if (saveThreadMs > 0) {
      JoinSave();
      const int ms = saveThreadMs;
      saveThread = std::thread([ms, this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        saveDone = true;
      });
    } else if (saveThreadMs < 0) {
      JoinSave();
      saveDone = false;
      saveThread = std::thread([this] {
        std::unique_lock lock(saveGate);
        saveReleased.wait_for(lock, std::chrono::seconds(10), [this] { return saveGateOpen; });
        saveDone = true;
      });
    }
    return true;
  }
  bool SaveRunning(CSoundTrack&) override { return saveThread.joinable(); }
  void WaitForSave(CSoundTrack& t) override {
    Log("WaitForSave", t);
    JoinSave();
    TrackOps::WaitForSave(t);
  }
  void ReleaseSave() {
    {
      std::lock_guard lock(saveGate);
      saveGateOpen = true;
    }
    saveReleased.notify_all();
  }
  std::mutex saveGate;
  std::condition_variable saveReleased;
  bool saveGateOpen = false;
  // The save that SaveAsync stands for, on a thread of its own.
  void JoinSave() {
    if (saveThread.joinable()) saveThread.join();
  }
  std::thread saveThread;
  bool WriteChunkList(CSoundTrack& t, const std::string& path) override {
    Log("WriteChunkList", t, path);
    return !sideWritesFail;
  }
  std::vector<std::uint8_t> BuildChunkTexts(CSoundTrack& t) override {
    Log("BuildChunkTexts", t);
    return {'t', 0};
  }
  bool BuildPackage(CSoundTrack& t, const std::string& path) override {
    Log("BuildPackage", t, path);
    return !sideWritesFail;
  }
  bool CanLoadAndSave() const override { return loadSave; }
  bool splitSucceeds = true;
  bool SplitCurrentChunk(CSoundTrack& t) override {
    Log("SplitCurrentChunk", t);
    return splitSucceeds;
  }
  bool MergeChunkWithNext(CSoundTrack& t, int index) override {
    Log("MergeChunkWithNext", t, std::to_string(index));
    return true;
  }
  bool SetWholeFileMode(CSoundTrack& t, bool on) override {
    Log("SetWholeFileMode", t, on ? "on" : "off");
    return true;
  }
  bool DeleteSelection(CSoundTrack& t) override {
    Log("DeleteSelection", t);
    return true;
  }
  void StopAll(CSoundTrack& t) override {
    Log("StopAll", t);
    CSoundTrackTestAccess::SetPlaying(t, false);
    CSoundTrackTestAccess::SetRecording(t, false);
  }
  bool SetChunkText(CSoundTrack& t, const std::u16string& text) override {
    Log("SetChunkText", t, QString::fromStdU16String(text).toStdString());
    return TrackOps::SetChunkText(t, text);
  }
  std::atomic<bool> saveDone{false};
};

class FakeVideo : public IMasterVideo {
 public:
  bool playing = false, halted = true, modifiedData = false, open = false;
  int chunkCount = 0, current = -1;
  std::uint32_t generation = 0;
  std::vector<std::string> calls;
  bool Open(const std::string& path, void*) override {
    calls.push_back("Open " + path);
    open = true;
    return true;
  }
  void Stop() override {
    calls.push_back("Stop");
    if (playing) ++generation;
    playing = false;
    halted = true;
  }
  void Start() override {
    calls.push_back("Start");
    ++generation;
    playing = true;
    halted = false;
  }
  void TogglePause() override {
    calls.push_back("TogglePause");
    halted = !halted;
  }
  bool FramesHalted() const override { return halted; }
  bool Playing() const override { return playing; }
  void NextChunk() override {
    calls.push_back("NextChunk");
    ++current;
  }
  void PrevChunk() override {
    calls.push_back("PrevChunk");
    --current;
  }
  int ChunkCount() const override { return chunkCount; }
  int CurrentChunk() const override { return current; }
  std::uint32_t CurrentChunkLengthMs() const override { return 0; }
  std::uint32_t PlayOffsetMs() const override { return 0; }
  void CloseWindow() override {
    calls.push_back("CloseWindow");
    open = false;
  }
  bool ChunkDataModified() const override { return modifiedData; }
  bool WriteChunkFile() override { return true; }
  bool TextsLoaded() const override { return textsLoaded; }
  std::vector<std::uint8_t> BuildChunkTexts() override { return {}; }
  std::string MediaPath() const override { return {}; }
  std::intptr_t SenderId() const override { return reinterpret_cast<std::intptr_t>(this); }

  // Editing: a chunk list of texts; the calls are logged.
  bool insertSucceeds = true, wholeFile = false, textsLoaded = false;
  std::vector<std::u16string> texts;
  bool InsertBookmark() override {
    calls.push_back("InsertBookmark");
    return insertSucceeds;
  }
  void RemoveBookmark() override { calls.push_back("RemoveBookmark"); }
  void SetWholeFile(bool on) override {
    calls.push_back(on ? "WholeFile on" : "WholeFile off");
    wholeFile = on;
  }
  std::u16string CurrentChunkText() const override {
    return current >= 0 && current < static_cast<int>(texts.size()) ? texts[current] : u"";
  }
  void SetCurrentChunkText(const std::u16string& text) override {
    ++textSets;
    if (current < 0 || current >= static_cast<int>(texts.size())) return;
    texts[current] = text;
    textsLoaded = true;
    modifiedData = true;
  }
  int textSets = 0;
  bool MediaOpened() const override { return open; }
  std::string OpenError() const override { return {}; }
  std::uint32_t PlayGeneration() const override { return generation; }
  // The video's chunk ends by itself.
  void EndPlayback() {
    playing = false;
    halted = true;
    ++generation;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    core = std::make_unique<CAppCore>();
    core->SetAudioDeviceNames(u"virtual_speaker", u"virtual_mic");
    g_pAppCore = core.get();
    master = core->masterTrack;
    student = core->studentTrack;
    ops = std::make_shared<LoggingOps>();
    ops->master = master;
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    dlg = std::make_unique<CMainDlg>();
    dlg->SetTrackOps(ops);
    dlg->SetFileDialog([this](const CMainDlg::FileDialogRequest& r) {
      requests.push_back(r);
      if (answers.empty()) return QString();
      QString a = answers.front();
      answers.pop_front();
      return a;
    });
    dlg->SetClock([this] { return now; });
  }
  void TearDown() override {
    ops->JoinSave();
    dlg.reset();
    plat::SetMessageBoxService(nullptr);
    g_pAppCore = nullptr;
    core.reset();
  }
  // Makes `n` empty chunks on the track, the first current.
  void MakeChunks(CSoundTrack* t, int n) {
    for (int i = 0; i < n; ++i) ASSERT_NE(t->AddChunk(), nullptr);
    CSoundTrackTestAccess::SetCurrentChunk(*t, 0);
  }
  intptr_t Sender(CSoundTrack* t) { return reinterpret_cast<intptr_t>(t); }
  // The track's chunk ends by itself, as its last buffer coming back ends it.
  void EndPlayback(CSoundTrack* t) {
    CSoundTrackTestAccess::SetPlaying(*t, false);
    CSoundTrackTestAccess::SetPaused(*t, false);
    t->BeginPlayGeneration();
  }
  void Notify(uintptr_t code, intptr_t sender) { dlg->SendMessage(WM_TRACKNOTIFY, code, sender); }

  std::unique_ptr<CAppCore> core;
  CSoundTrack* master = nullptr;
  CSoundTrack* student = nullptr;
  std::shared_ptr<LoggingOps> ops;
  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  std::unique_ptr<CMainDlg> dlg;
  std::vector<CMainDlg::FileDialogRequest> requests;
  std::deque<QString> answers;
  CMainDlg::LocalTime now{2025, 1, 9, 14, 7};
};

}  // namespace vts::ui::test
