// The link between a track and its waveform strip window: draws the track's redraws into the
// track's CWaveformStrip (IWaveformDrawer) and serves the strip's mouse rules from the track
// (IWaveformHost). The window code creates one per track window with the strip's place and
// size, and hands it to the WaveformWidget as its host.
//
// The track's own fields (cursor, anchor, play position, view, position bar) stay the ones
// the track's code reads and writes; the strip keeps a copy for drawing. Before every draw
// and paint the track's values are copied into the strip (under the track's bufferLock, which
// is the strip's lock), and after every mouse operation the strip's are copied back. A field
// the user just changed in the strip is not overwritten by a redraw that runs in between: the
// track's value is copied only when it changed since the last copy either way.
//
// Threading: the drawer calls come from the track (UI or core thread, lock held); the host
// calls come from the widget on the GUI thread without the lock.
#pragma once

#include <cstdint>
#include <optional>

#include "tracks/sound_track.h"
#include "tracks/waveform_host.h"
#include "tracks/waveform_strip.h"

namespace vts {

class CTrackWaveform final : public IWaveformDrawer, public IWaveformHost {
 public:
  // Sets the strip's place in the dialog (x, y) and size, and becomes the track's drawer.
  CTrackWaveform(CSoundTrack& track, std::int32_t x, std::int32_t y, std::uint32_t width,
                 std::uint32_t height = kWaveformStripHeight);
  ~CTrackWaveform() override;
  CTrackWaveform(const CTrackWaveform&) = delete;
  CTrackWaveform& operator=(const CTrackWaveform&) = delete;

  // IWaveformDrawer (called by the track with bufferLock held).
  void DrawWaveform(CSoundTrack& track, const WaveformView& view) override;
  void RepaintWaveform(CSoundTrack& track) override;
  void ProgressChanged(CSoundTrack& track) override;

  // IWaveformHost (GUI thread, lock not held).
  CWaveformStrip& WaveformStrip() override;
  std::optional<std::uint32_t> CurrentChunkFrames() override;
  void RedrawWaveform(std::uint32_t firstFrame, std::uint32_t framesPerPixel) override;
  bool IsPlaying() override;
  void Play() override;
  bool SplitCurrentChunk() override;
  void NotifyPosition() override;
  void WaveformStateChanged() override;

 private:
  void PullFromTrackLocked();
  void PushToTrackLocked();

  CSoundTrack& track_;
  CWaveformStrip& strip_;
  // The values last copied between track and strip.
  std::uint32_t seenCursor_ = 0;
  std::uint32_t seenAnchor_ = 0;
  std::uint32_t seenBarPos_ = 0;
};

}  // namespace vts
