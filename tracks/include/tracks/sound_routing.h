// The core thread's handling of the tracks' engine messages, in one place so that the core
// thread and the tests route them the same way.
#pragma once

#include "platform/thread_queue.h"

namespace vts {

class CSoundTrack;

// WM_SOUND_OUT: offered to the Master track, then to the Student track; a descriptor that
// neither takes (no current chunk, an owner id of neither) is released here.
// WM_SOUND_IN: every block and end mark goes to the Student track (released here when there
// is none), except the Master engine's own end marks, which go to the Master. Returns false for any
// other message. Call on the tracks' owner thread only.
bool RouteSoundMessage(const plat::Msg& msg, CSoundTrack* master, CSoundTrack* student);

}  // namespace vts
