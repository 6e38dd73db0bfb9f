// The waveform strip of one track: its view state, the drawn and the composed pictures, the
// position bar's range and position, and the mouse rules of the strip and of its bar.
// Toolkit-light: pictures are QImages written pixel by pixel; no widget is touched here.
//
// Threading: every field and both pictures are guarded by a recursive mutex that the owning
// track lends at construction (it may be the track's own lock). The drawing operations take
// it themselves, so they may be called with or without it held, from the core thread while
// recording or playing as well as from the GUI thread. Code that reads or writes View() or
// Bar() directly must hold Lock(). Never hold Lock() while waiting for the GUI thread (a
// message box, a blocking queued call): the widget takes it to paint.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace vts {

class IWaveformHost;

// Geometry and colours of the strip window.
inline constexpr uint32_t kWaveformDefaultFramesPerPixel = 64;  // what a zoom of 0 means
inline constexpr uint32_t kWaveformStripHeight = 52;            // rows 0-51 of the window
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

// Range and position with the semantics of a progress control: the range starts as
// 0..100, the position is kept inside the range, a new range pulls the position into it.
class ProgressRange {
 public:
  void SetRange(int64_t low, int64_t high);
  void SetPos(int64_t pos);
  int64_t Low() const { return low_; }
  int64_t High() const { return high_; }
  int64_t Pos() const { return pos_; }

 private:
  int64_t Clamp(int64_t v) const;
  int64_t low_ = 0;
  int64_t high_ = 100;
  int64_t pos_ = 0;
};

// The waveform fields of a track. Frames are counted from the start of the current chunk;
// pixel values are columns of the strip.
struct WaveformViewState {
  uint32_t framesPerPixel = 256;  // zoom; 0 is taken as 64 everywhere
  uint32_t viewStartFrame = 0;    // first frame shown (a multiple of the zoom after a redraw)
  uint32_t viewFrames = 0;        // frames covered by the drawn columns
  uint32_t cursorFrame = 0;       // where playback starts; end of a mouse selection
  uint32_t anchorFrame = 0;       // the other end of the selection
  int32_t cursorPixel = 0;        // the three positions as columns at the last paint
  int32_t anchorPixel = 0;
  int32_t playPixel = 0;
  uint32_t playFrame = 0;   // position of running playback or recording
  int32_t dragAnchor = -1;  // frames under the mouse at the last right-button event; -1 = none
  uint8_t positionSet = 0;  // 1 once the user set the position on the position bar
  int32_t stripX = 0;       // the strip's place in the dialog (and in its background picture)
  int32_t stripY = 0;
  uint32_t stripWidth = 0;  // size of both pictures
  uint32_t stripHeight = kWaveformStripHeight;
};

class CWaveformStrip {
 public:
  explicit CWaveformStrip(std::recursive_mutex& lock);
  CWaveformStrip(const CWaveformStrip&) = delete;
  CWaveformStrip& operator=(const CWaveformStrip&) = delete;

  std::recursive_mutex& Lock() const { return lock_; }

  // Fields for direct use under Lock().
  WaveformViewState& View() { return view_; }
  const WaveformViewState& View() const { return view_; }
  ProgressRange& Bar() { return bar_; }

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
  void FillBackgroundLocked();
  void DrawColumnsLocked(int64_t firstColumn, int64_t endColumn, uint32_t fpp,
                         const WaveformChunk& chunk);
  uint32_t ClampToChunk(int64_t frame, std::optional<uint32_t> chunkFrames) const;
  int32_t ClampColumn(int64_t column) const;

  std::recursive_mutex& lock_;
  WaveformViewState view_;
  ProgressRange bar_;
  QImage background_;
  QImage stripBackground_;    // the strip's part of background_, opaque, the drawing's size
  QPoint stripBackgroundAt_;  // the strip's place it was cut at
  QImage drawing_;
  QImage composition_;
  std::function<void()> repaintRequest_;
};

}  // namespace vts
