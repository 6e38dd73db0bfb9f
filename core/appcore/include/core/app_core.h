// CAppCore: the one object that owns the recorder's working parts (core thread, role flags,
// device names, stream destinations, the tracks, video manager, pipes and settings as they
// are added), reached through g_pAppCore.
//
// Threading: built and destroyed on the UI thread. Role flags, position and device names are
// written on the UI thread during the dialog's initialisation (the mixer input is atomic: the
// core thread reads it); client id, stream pipe handle, mixer value and stream position only
// by the core thread. `coreLock` guards the stream pipe writes and the destination list.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/core_thread.h"
#include "core/mixer_state.h"
#include "core/settings_files.h"
#include "core/stream_protocol.h"
#include "platform/thread_queue.h"

namespace vts {

class CSoundTrack;
class CCoreTracks;
class CPipeChannel;
class CVideoManager;
struct EngineStateBlock;

class CAppCore {
 public:
  // Starts the core thread and creates the data folder. Throws std::runtime_error when the
  // core thread cannot start (a fatal start-up failure for the caller to report).
  CAppCore();
  ~CAppCore();
  CAppCore(const CAppCore&) = delete;
  CAppCore& operator=(const CAppCore&) = delete;

  // Gives new device names (endpoint ids) to the tracks and the video manager; an empty name
  // leaves that side unchanged.
  void SetAudioDeviceNames(const std::u16string& outputName, const std::u16string& inputName);

  // Replaces the destination list (at most 256 entries are kept), under the core lock.
  void SetStreamDestinations(const std::vector<StreamDestination>& list);

  // ---- the stream pipe (core/src/stream_link.cpp) ----
  // Core thread: a stream-pipe event (frees a block itself).
  void OnStreamPipeData(plat::WPARAM pipe, plat::LPARAM lParam);
  // Core thread: the Student track's next stream block, `final` at the end of capture. True
  // when there was nothing to send or it went out whole.
  bool SendStreamBlock(bool final);
  // Any thread: the mixer-input notice (1081) goes to the stream peer from the core thread,
  // now when the pipe is connected, else right after the next connect's hello.
  void SendMixerInputNotice();
  // The two pipe channels (null when not started, or when they could not start).
  CPipeChannel* InterfacePipe() const { return interfacePipe_.get(); }
  CPipeChannel* StreamPipe() const { return streamPipe_.get(); }
  // The pipe names behind "\\.\pipe\".
  static constexpr const char* kInterfacePipeName = "QORInterfacePipe";
  static constexpr const char* kStreamPipeName = "Mentavo_SnapvellaPipe";

  plat::ThreadId CoreThreadId() const { return coreThread.Id(); }

  // ---- plain fields, in the order of the design ----
  std::u16string outputDeviceName;  // U+FFFF until set
  std::u16string inputDeviceName;   // U+FFFF until set
  std::string waveDeviceSettingsPath;
  // "RecorderPaths.json" (document and path) and "URLList.txt", loaded at start; the paths
  // document is written back at the end.
  DataFolderSettings settings;
  std::string programFolder;  // with its trailing "/"
  std::string studentWorkTarget;
  std::uint32_t studentFlag = 0;
  std::uint32_t teacherFlag = 0;
  std::atomic<std::uint32_t> streamingFlag{0};
  std::uint32_t position = 0;
  std::uint32_t classroomManaged = 0;
  std::uint32_t positionGiven = 0;
  // 0 none, 1 "Mic", 2 "Mix"; named by the command line on the UI thread while the core
  // thread may already take the peer's mixer values.
  std::atomic<std::uint32_t> mixerInput{0};
  std::uint32_t mixerValue = 0xFFFFFFFFu;
  plat::WPARAM streamPipeHandle = 0;

  // In-process clipboard of the text edits.
  std::mutex clipboardLock;
  std::u16string clipboard;

  CCoreThread coreThread;

  // Shared by both tracks, the video manager and every sound engine; owned here.
  EngineStateBlock* engineState = nullptr;
  // The Master track ("Master", index 0) and the Student track ("Student", index 1), owned
  // here; null after the destruction's step 5.
  CSoundTrack* masterTrack = nullptr;
  CSoundTrack* studentTrack = nullptr;
  // The Master side's video, owned here; made after the tracks, deleted after them.
  CVideoManager* videoManager = nullptr;

  std::array<StreamDestination, kMaxStreamDestinations> streamDestinations{};
  std::uint32_t destinationCount = 0;
  std::recursive_mutex coreLock;

  // Core thread only.
  std::uint32_t clientId = 0;
  StreamCursor streamCursor;
  bool mixerInputNoticeDue = false;

  std::string dataFolder;
  // "MixerData.bin": loaded and applied at construction, saved at destruction.
  std::unique_ptr<CMixerState> mixerState;

 private:
  void StartPipeChannels();
  void StopPipeChannels();
  bool WriteStream(std::span<const std::uint8_t> message);
  void OnReceivedStreamMessage(std::span<const std::uint8_t> message);
  // A fault of the stream peer's, in the stream pipe's rate-limited log.
  void ReportStreamFault(const std::string& what);

  struct TrackHandlers;
  struct PipeTextBoxes;  // "Pipe Data" boxes shown without holding up the core thread
  std::unique_ptr<PipeTextBoxes> pipeTexts_;
  std::unique_ptr<CPipeChannel> interfacePipe_;
  std::unique_ptr<CPipeChannel> streamPipe_;  // the core thread's view of the two tracks
  std::unique_ptr<CCoreTracks> tracks_;
  std::unique_ptr<TrackHandlers> trackHandlers_;
};

// Valid from the end of the application object's construction to the start of its destruction.
extern CAppCore* g_pAppCore;

}  // namespace vts
