// Joins a track to its waveform strip: the strip shows the track's own view state (one
// object, no copies) and draws what the track's redraws hand it; the strip's mouse rules
// act on the track.
//
// Threading: the strip shares the track's bufferLock, which guards the view state.
// DrawWaveform and RepaintWaveform come from the UI thread or the core thread; the
// IWaveformHost calls come from the GUI thread without the lock held.
#pragma once

#include "tracks/sound_track.h"
#include "tracks/waveform_host.h"
#include "tracks/waveform_strip.h"

namespace vts {

class CTrackWaveform : public IWaveformHost, public IWaveformDrawer {
 public:
  // Installs itself as the track's drawer; uninstalls at destruction.
  explicit CTrackWaveform(CSoundTrack& track);
  ~CTrackWaveform() override;
  CTrackWaveform(const CTrackWaveform&) = delete;
  CTrackWaveform& operator=(const CTrackWaveform&) = delete;

  CWaveformStrip& Strip() { return strip_; }
  // Places the strip; the picture size is the track's bitmap size.
  void SetStripRect(int32_t x, int32_t y, uint32_t width, uint32_t height = kWaveformStripHeight);

  // IWaveformDrawer (the track's side)
  void DrawWaveform(CSoundTrack& track, const WaveformView& view) override;
  void RepaintWaveform(CSoundTrack& track) override;

  // IWaveformHost (the strip's side)
  CWaveformStrip& WaveformStrip() override { return strip_; }
  std::optional<uint32_t> CurrentChunkFrames() override;
  void RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel) override;
  bool IsPlaying() override { return track_.IsPlaying(); }
  void Play() override { track_.Play(); }
  bool SplitCurrentChunk() override { return track_.SplitCurrentChunk(); }  // Ctrl+click
  void NotifyPosition() override { track_.NotifyPosition(); }

 private:
  CSoundTrack& track_;
  CWaveformStrip strip_;
};

}  // namespace vts
