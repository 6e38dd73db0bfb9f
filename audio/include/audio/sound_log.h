// Every line the engine writes to the sound log goes through here, so tests can watch the
// exact texts without a log thread.
#pragma once

#include <functional>
#include <string>

namespace vts::audio {

// Writes `text` to LOG_SOUND and hands it to the observer, if one is set.
void WriteSoundLog(const std::string& text);

// Sets (or, with an empty function, clears) the observer. Called from any thread; the
// observer runs on the writing thread.
void SetSoundLogObserver(std::function<void(const std::string&)> observer);

}  // namespace vts::audio
