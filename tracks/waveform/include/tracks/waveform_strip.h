// The waveform strip of one track: the drawn and the composed pictures of the track's view
// state, and the mouse rules of the strip and of its position bar. Toolkit-light: pictures
// are QImages written pixel by pixel; no widget is touched here.
//
// Threading: the view state and both pictures are guarded by a recursive mutex that the
// owning track lends at construction with its view state (the track's bufferLock). The
// drawing operations take it themselves, so they may be called with or without it held,
// from the core thread while recording or playing as well as from the GUI thread. Code that reads
// or writes View() or Bar() directly must hold Lock(). Never hold Lock() while waiting for the GUI
// thread (a message box, a blocking queued call): the widget takes it to paint.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "tracks/waveform_view_state.h"

namespace vts {

class IWaveformHost;

// Geometry and colours of the strip window.
inline constexpr int kWaveformWindowHeight = 66;
inline constexpr int kPositionBarTop = 59;  // rows 52-58 stay empty
inline constexpr int kPositionBarHeight = 7;
inline constexpr QRgb kWaveformLineColour = 0xFF000000u;  // centre line and columns
inline constexpr QRgb kPlayLineColour = 0xFF8080FFu;      // RGB(128, 128, 255)

// The current chunk's sound as a redraw sees it. The samples need not cover the whole
// length (a short read from the source file): frames without data are never read.
struct WaveformChunk {
  const int16_t* samples = nullptr;  // interleaved 16-bit samples, or null when unloaded
  size_t sampleCount = 0;            // 16-bit values readable at samples (data bytes / 2)
  uint32_t channels = 0;             // 1 and 2 draw columns; other counts draw none
  uint32_t lengthFrames = 0;         // the chunk's length in frames
};

// The chunk of a track as bytes: 16-bit PCM is read as samples; other sample sizes give a
// chunk without samples (the view follows its length, no columns are drawn).
WaveformChunk MakeWaveformChunk(const void* data, size_t dataBytes, uint32_t channels,
                                uint32_t bitsPerSample, uint32_t lengthFrames);

class CWaveformStrip {
 public:
  // Shows `view`, which the owner keeps (and changes) under `lock`; both outlive the strip.
  CWaveformStrip(WaveformViewState& view, std::recursive_mutex& lock);
  CWaveformStrip(const CWaveformStrip&) = delete;
  CWaveformStrip& operator=(const CWaveformStrip&) = delete;

  std::recursive_mutex& Lock() const { return lock_; }

  // The owner's view state, for direct use under Lock().
  WaveformViewState& View() { return view_; }
  const WaveformViewState& View() const { return view_; }
  ProgressRange& Bar() { return view_.progress; }

  // The dialog's background picture; the strip's part of it is copied under every redraw.
  // Parts of the strip outside the picture (or with no picture) are black.
  void SetBackground(const QImage& background);
  // Place and size of the strip in the dialog; makes both pictures (black until drawn).
  void SetStripRect(int32_t x, int32_t y, uint32_t width, uint32_t height = kWaveformStripHeight);

  // Draws the chunk from a frame at a zoom (0 = 64) into the drawing picture, then paints.
  // chunk null means there is no current chunk: background and centre line only, and the
  // view fields stay; a chunk of length 0 draws the same. Before SetStripRect (no window)
  // only the view fields are set. The caller keeps the samples stable for the call (hold
  // Lock() if it is also the lock that guards the chunk's data).
  void RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel, const WaveformChunk* chunk);
  // The same picture as RedrawWaveform, for a view that scrolled on or a chunk that grew at
  // its end since the last draw (playing, recording): columns whose sound was all there
  // before are not measured again. Any other change needs RedrawWaveform.
  void FollowWaveform(uint32_t firstFrame, uint32_t framesPerPixel, const WaveformChunk* chunk);
  // Composes (drawing + selection + play line) and asks the widget to repaint.
  void PaintWaveform();
  // Composes without asking for a repaint; the widget's paint handler calls it under Lock().
  void Compose();

  // Read under Lock(). The composition holds what the window shows in rows 0-51.
  const QImage& DrawingImage() const { return drawing_; }
  const QImage& CompositionImage() const { return composition_; }

  // Called (under Lock(), from whichever thread painted) after every PaintWaveform. It must
  // not block and must not take other locks; the widget posts one coalesced repaint.
  void SetRepaintRequest(std::function<void()> request);

  // Mouse rules, called on the GUI thread without Lock() held (the host's operations run
  // outside it). x is in strip columns and may be negative or past the strip while the
  // mouse is held.
  void OnLeftButtonDown(IWaveformHost& host, int x, bool control);  // click; Ctrl splits
  void OnWaveformMouse(IWaveformHost& host, bool down, int x);      // left down / up
  void OnLeftDrag(IWaveformHost& host, int x);
  void OnRightButtonDown(IWaveformHost& host, int x);
  void OnRightButtonUp(IWaveformHost& host);
  void OnRightDrag(IWaveformHost& host, int x);
  // A press or a drag with the left button on the position bar at x of barWidth pixels.
  void OnBarPress(IWaveformHost& host, int x, int barWidth);
  // Seek to the bar's position (what the bar's command does after it set its position).
  void SeekToBarPosition(IWaveformHost& host);

 private:
  uint32_t Fpp() const;
  void ComposeLocked();
  void MakeStripBackgroundLocked();
  // The drawn run of rows of one strip column; top > bottom draws nothing.
  struct ColumnLine {
    int32_t top = 1;
    int32_t bottom = 0;
  };
  // What the lines were measured from.
  struct Measured {
    bool valid = false;
    const int16_t* samples = nullptr;
    uint32_t channels = 0;
    uint32_t fpp = 0;
    int height = 0;
    int64_t firstColumn = 0;
    int64_t endColumn = 0;
    int64_t dataFrames = 0;
  };
  void RedrawLocked(uint32_t firstFrame, uint32_t framesPerPixel, const WaveformChunk* chunk,
                    bool follow);
  ColumnLine MeasureColumnLocked(int64_t column, uint32_t fpp, const WaveformChunk& chunk,
                                 int64_t dataFrames) const;
  void MeasureColumnsLocked(int64_t firstColumn, int64_t endColumn, uint32_t fpp,
                            const WaveformChunk& chunk, bool follow);
  void DrawLinesLocked();  // background, centre line and the measured lines
  uint32_t ClampToChunk(int64_t frame, std::optional<uint32_t> chunkFrames) const;
  int32_t ClampColumn(int64_t column) const;

  std::recursive_mutex& lock_;
  WaveformViewState& view_;
  QImage background_;
  QImage stripBackground_;    // the strip's part of background_, opaque, the drawing's size
  QPoint stripBackgroundAt_;  // the strip's place it was cut at
  QImage drawing_;
  std::vector<ColumnLine> lines_;  // per strip column, of the drawing
  Measured measured_;
  QImage composition_;
  std::function<void()> repaintRequest_;
};

}  // namespace vts
