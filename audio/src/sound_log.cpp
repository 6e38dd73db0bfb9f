// The sound log with its test observer.
#include "audio/sound_log.h"

#include <mutex>

#include "core/log.h"

namespace vts::audio {
namespace {
std::mutex g_mutex;
std::function<void(const std::string&)> g_observer;
}  // namespace

void WriteSoundLog(const std::string& text) {
  WriteLog(LOG_SOUND, text);
  std::lock_guard lock(g_mutex);
  if (g_observer) g_observer(text);
}

void SetSoundLogObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard lock(g_mutex);
  g_observer = std::move(observer);
}

}  // namespace vts::audio
