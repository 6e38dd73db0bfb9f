// CAppCore construction and destruction orders.
#include "core/app_core.h"

#include <algorithm>
#include <stdexcept>

#include "core/data_folder.h"
#include "core/log.h"
#include "core/pipe_channel.h"
#include "pipe_text_boxes.h"
#include "core/track_sound_handler.h"
#include "platform/known_folders.h"
#include "tracks/core_tracks.h"
#include "tracks/sound_track.h"
#if VTS_WITH_VIDEO
#include "video/video_manager.h"
#endif

namespace vts {

CAppCore* g_pAppCore = nullptr;

namespace {

void ReleaseSoundDescr(plat::WPARAM descr) {
  ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(descr));
}

}  // namespace

struct CAppCore::TrackHandlers {
  CTrackSoundHandler master;
  CTrackSoundHandler student;
};

CAppCore::CAppCore() {
  // 1. Device names unset; the program's folder with its trailing "/".
  outputDeviceName = std::u16string(1, u'\uFFFF');
  inputDeviceName = std::u16string(1, u'\uFFFF');
  std::string program = plat::ProgramPath();
  if (auto slash = program.find_last_of('/'); slash != std::string::npos)
    programFolder = program.substr(0, slash + 1);

  // 2. Lock, counters, flags and the destination list start at zero (member initialisers).

  // 3. The core thread runs before anything that reports to it exists.
  if (!coreThread.Start()) throw std::runtime_error("the core thread could not be started");

  // 4. The engine-state block.
  SetSoundPayloadReleaser(ReleaseSoundDescr);
  engineState = new EngineStateBlock;
  // 5. The Master track, then the Student track, owned by the core thread; the core thread
  //    hands them their engines' messages from now on.
  tracks_ = std::make_unique<CCoreTracks>(coreThread.Id(), engineState);
  masterTrack = tracks_->Master();
  studentTrack = tracks_->Student();
  trackHandlers_.reset(
      new TrackHandlers{CTrackSoundHandler(masterTrack), CTrackSoundHandler(studentTrack)});
  coreThread.SetTrackHandlers(&trackHandlers_->master, &trackHandlers_->student);
  // 6. The video manager (its helper thread and sound engine start with it).
#if VTS_WITH_VIDEO
  videoManager = new CVideoManager(engineState);
#endif

  // 7. The data folder.
  dataFolder = GetDataFolder();
  settings = LoadDataFolderSettings(dataFolder);

  // 8.-9. ("URLList.txt" came with the settings above.) The two pipe channels, aimed at the
  //       core thread.
  StartPipeChannels();

  // 10. The endpoint levels remembered in "MixerData.bin" are applied (or read afresh).
  mixerState = std::make_unique<CMixerState>();
  mixerState->SerializeMixerState(false, dataFolder + "/" + kMixerDataFileName);

  // 11. (Both tracks record from the microphone and the PC output, input source 3: set when
  //     CCoreTracks made them.)
  mixerInput = 0;
  mixerValue = 0xFFFFFFFFu;
}

CAppCore::~CAppCore() {
  // 1.-2. The paths document and, once the command line has named it, the wave-device file.
  SaveDataFolderSettings(settings, waveDeviceSettingsPath, outputDeviceName, inputDeviceName);

  // 3. The endpoint levels read or applied at start are written back.
  if (mixerState) mixerState->SerializeMixerState(true, "");
  mixerState.reset();

  // 4. The pipe channels stop before the tracks go, so no received audio reaches a deleted
  //    track.
  StopPipeChannels();

  // 5. Barrier: from here on the core thread calls no track handler, so the tracks (then the
  //    video manager and the engine-state block) can be deleted safely right after it. Sound
  //    messages still queued are released by the core thread.
  //    First the tracks stop and their last blocks still arrive (the handlers are needed
  //    for that), then the barrier, then the Master track, the Student track, (the video
  //    manager,) the engine-state block.
  if (tracks_) tracks_->StopAndDrain();
  coreThread.SetTrackHandlers(nullptr, nullptr);
  if (tracks_) tracks_->DeleteTracks();
  masterTrack = studentTrack = nullptr;
#if VTS_WITH_VIDEO
  delete videoManager;
#endif
  videoManager = nullptr;
  delete engineState;  // every engine that held it is gone
  engineState = nullptr;

  // 6. URL list text: freed with its owner.

  // 7. The core thread ends after everything queued before the quit.
  coreThread.Stop();
}

void CAppCore::SetAudioDeviceNames(const std::u16string& outputName,
                                   const std::u16string& inputName) {
  // Hands the names to both tracks, the video manager and its video window (an empty name
  // leaves that side alone). The core's own two names are written by the command line.
  if (tracks_) tracks_->SetAudioDeviceNames(outputName, inputName);
#if VTS_WITH_VIDEO
  if (videoManager && !outputName.empty()) videoManager->SetOutputDevice(outputName);
#endif
}

void CAppCore::SetStreamDestinations(const std::vector<StreamDestination>& list) {
  std::lock_guard lock(coreLock);
  destinationCount =
      static_cast<std::uint32_t>(std::min<std::size_t>(list.size(), kMaxStreamDestinations));
  std::copy_n(list.begin(), destinationCount, streamDestinations.begin());
}

}  // namespace vts
