// Drawing and mouse rules of a track's waveform strip.
#include "tracks/waveform_strip.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "tracks/waveform_host.h"

namespace vts {

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kInvertMask = 0x00FFFFFFu;  // inverts the colour, keeps the opaque alpha

bool IsRaw32(QImage::Format f) {
  return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
         f == QImage::Format_ARGB32_Premultiplied;
}

}  // namespace

WaveformChunk MakeWaveformChunk(const void* data, size_t dataBytes, uint32_t channels,
                                uint32_t bitsPerSample, uint32_t lengthFrames) {
  WaveformChunk chunk;
  chunk.channels = channels;
  chunk.lengthFrames = lengthFrames;
  if (data != nullptr && bitsPerSample == 16) {
    chunk.samples = static_cast<const int16_t*>(data);
    chunk.sampleCount = dataBytes / sizeof(int16_t);
  }
  return chunk;
}

// ---- CWaveformStrip --------------------------------------------------------------------

CWaveformStrip::CWaveformStrip(WaveformViewState& view, std::recursive_mutex& lock)
    : lock_(lock), view_(view) {}

uint32_t CWaveformStrip::Fpp() const {
  return view_.framesPerPixel == 0 ? kWaveformDefaultFramesPerPixel : view_.framesPerPixel;
}

void CWaveformStrip::SetBackground(const QImage& background) {
  std::lock_guard guard(lock_);
  // The redraw copies the picture's colour bits as they are stored, as a blit does.
  background_ = (background.isNull() || IsRaw32(background.format()))
                    ? background
                    : background.convertToFormat(QImage::Format_ARGB32);
  MakeStripBackgroundLocked();
}

void CWaveformStrip::SetStripRect(int32_t x, int32_t y, uint32_t width, uint32_t height) {
  std::lock_guard guard(lock_);
  view_.stripX = x;
  view_.stripY = y;
  view_.bitmapWidth = width;
  view_.bitmapHeight = height;
  if (width == 0 || height == 0) {
    drawing_ = QImage();
    composition_ = QImage();
    stripBackground_ = QImage();
    return;
  }
  drawing_ = QImage(int(width), int(height), QImage::Format_RGB32);
  drawing_.fill(kBlack);
  lines_.clear();
  measured_ = {};
  composition_ = drawing_.copy();
  MakeStripBackgroundLocked();
}

void CWaveformStrip::SetRepaintRequest(std::function<void()> request) {
  std::lock_guard guard(lock_);
  repaintRequest_ = std::move(request);
}

// The strip's part of the dialog background, made opaque, with black where the picture
// does not reach. Made when the picture or the strip's place changes, so that every redraw
// (one per sound block while playing or recording) copies rows instead of pixels.
void CWaveformStrip::MakeStripBackgroundLocked() {
  if (drawing_.isNull()) {
    stripBackground_ = QImage();
    return;
  }
  stripBackground_ = QImage(drawing_.size(), QImage::Format_RGB32);
  stripBackgroundAt_ = QPoint(view_.stripX, view_.stripY);
  const int w = stripBackground_.width();
  const int h = stripBackground_.height();
  const int bw = background_.isNull() ? 0 : background_.width();
  const int bh = background_.isNull() ? 0 : background_.height();
  for (int y = 0; y < h; ++y) {
    auto* dst = reinterpret_cast<QRgb*>(stripBackground_.scanLine(y));
    const int64_t sy = int64_t(view_.stripY) + y;
    if (sy < 0 || sy >= bh) {
      std::fill(dst, dst + w, kBlack);
      continue;
    }
    const auto* src = reinterpret_cast<const QRgb*>(background_.constScanLine(int(sy)));
    for (int x = 0; x < w; ++x) {
      const int64_t sx = int64_t(view_.stripX) + x;
      dst[x] = (sx >= 0 && sx < bw) ? (src[sx] | kBlack) : kBlack;
    }
  }
}

// One vertical line per column, from mid - min / scale up to mid - max / scale. Lines take
// their first point and stop short of the last, so a column whose minimum and maximum give
// the same row adds nothing to the centre line. A column without data has no line.
CWaveformStrip::ColumnLine CWaveformStrip::MeasureColumnLocked(int64_t c, uint32_t fpp,
                                                               const WaveformChunk& chunk,
                                                               int64_t dataFrames) const {
  const int h = drawing_.height();
  const int scale = int(65536 / uint32_t(h));
  const int mid = h / 2;
  const int16_t* s = chunk.samples;
  const int64_t begin = c * fpp;
  const int64_t end = std::min<int64_t>(begin + fpp, dataFrames);
  if (begin >= end) return {};  // no data under this column
  int lo = std::numeric_limits<int>::max();
  int hi = std::numeric_limits<int>::min();
  if (chunk.channels == 2) {
    for (int64_t i = begin; i < end; ++i) {
      const int v = (int(s[2 * i]) + int(s[2 * i + 1])) >> 1;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  } else {
    // Each frame is the mean of its sample and the next; the last frame with data has no
    // next sample and is valued by its own.
    const int64_t pairedEnd = std::min(end, dataFrames - 1);
    int64_t i = begin;
    for (; i < pairedEnd; ++i) {
      const int v = (int(s[i]) + int(s[i + 1])) >> 1;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    if (i < end) {
      const int v = s[i];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  const int yStart = mid - lo / scale;  // lower end (larger row), drawn
  const int yEnd = mid - hi / scale;    // upper end, not drawn
  return {std::max(yEnd + 1, 0), std::min(yStart, h - 1)};
}

// Measures the columns firstColumn..endColumn into lines_. `follow`: the view only moved on
// or its chunk only grew since the last measuring, so columns whose frames were all there
// before keep their line.
void CWaveformStrip::MeasureColumnsLocked(int64_t firstColumn, int64_t endColumn, uint32_t fpp,
                                          const WaveformChunk& chunk, bool follow) {
  const int w = drawing_.width();
  const bool drawable = (chunk.channels == 1 || chunk.channels == 2) && chunk.samples &&
                        65536 / uint32_t(drawing_.height()) != 0;
  // Frames that have data: never past the chunk's length nor past its samples.
  const int64_t dataFrames =
      drawable ? std::min<int64_t>(chunk.lengthFrames, int64_t(chunk.sampleCount / chunk.channels))
               : 0;
  const Measured now{true,        chunk.samples, chunk.channels, fpp, drawing_.height(),
                     firstColumn, endColumn,     dataFrames};
  const bool keep = follow && measured_.valid && measured_.samples == now.samples &&
                    measured_.channels == now.channels && measured_.fpp == fpp &&
                    measured_.height == now.height && firstColumn >= measured_.firstColumn &&
                    dataFrames >= measured_.dataFrames && lines_.size() == size_t(w);
  lines_.resize(size_t(w));
  for (int x = 0; x < w; ++x) {
    const int64_t c = firstColumn + x;
    if (!drawable || c >= endColumn) {
      lines_[size_t(x)] = {};
      continue;
    }
    // A kept column's frames, and for mono the sample after its last, were all there.
    if (keep && c < measured_.endColumn && c - measured_.firstColumn < w &&
        (c + 1) * int64_t(fpp) < measured_.dataFrames) {
      lines_[size_t(x)] = lines_[size_t(c - measured_.firstColumn)];  // never ahead of x
      continue;
    }
    lines_[size_t(x)] = MeasureColumnLocked(c, fpp, chunk, dataFrames);
  }
  measured_ = now;
}

void CWaveformStrip::DrawLinesLocked() {
  const size_t rowBytes = size_t(drawing_.width()) * sizeof(QRgb);
  for (int y = 0; y < drawing_.height(); ++y)
    std::memcpy(drawing_.scanLine(y), stripBackground_.constScanLine(y), rowBytes);
  const int mid = drawing_.height() / 2;
  auto* centre = reinterpret_cast<QRgb*>(drawing_.scanLine(mid));
  std::fill(centre, centre + drawing_.width(), kWaveformLineColour);
  const qsizetype stride = drawing_.bytesPerLine() / qsizetype(sizeof(QRgb));
  QRgb* bits = reinterpret_cast<QRgb*>(drawing_.bits());
  for (size_t x = 0; x < lines_.size(); ++x)
    for (int y = lines_[x].top; y <= lines_[x].bottom; ++y)
      bits[y * stride + qsizetype(x)] = kWaveformLineColour;
}

void CWaveformStrip::RedrawWaveform(uint32_t firstFrame, uint32_t framesPerPixel,
                                    const WaveformChunk* chunk) {
  RedrawLocked(firstFrame, framesPerPixel, chunk, false);
}

void CWaveformStrip::FollowWaveform(uint32_t firstFrame, uint32_t framesPerPixel,
                                    const WaveformChunk* chunk) {
  RedrawLocked(firstFrame, framesPerPixel, chunk, true);
}

void CWaveformStrip::RedrawLocked(uint32_t firstFrame, uint32_t framesPerPixel,
                                  const WaveformChunk* chunk, bool follow) {
  std::lock_guard guard(lock_);
  const uint32_t fpp = framesPerPixel == 0 ? kWaveformDefaultFramesPerPixel : framesPerPixel;
  view_.framesPerPixel = fpp;
  // Without a strip yet (no window), the view fields still follow the chunk.
  const bool haveStrip = !drawing_.isNull();
  if (haveStrip && (stripBackground_.size() != drawing_.size() ||
                    stripBackgroundAt_ != QPoint(view_.stripX, view_.stripY)))
    MakeStripBackgroundLocked();

  if (chunk != nullptr && chunk->lengthFrames > 0) {
    const int64_t firstColumn = firstFrame / fpp;
    int64_t endColumn = chunk->lengthFrames / fpp;
    if (endColumn - firstColumn > int64_t(view_.bitmapWidth))
      endColumn = firstColumn + view_.bitmapWidth;
    // A first frame past the chunk's end shows no columns and covers no frames.
    if (endColumn < firstColumn) endColumn = firstColumn;
    if (haveStrip) MeasureColumnsLocked(firstColumn, endColumn, fpp, *chunk, follow);
    view_.viewFrames = uint32_t((endColumn - firstColumn) * fpp);
    view_.viewStartFrame = uint32_t(firstColumn * fpp);
  } else if (haveStrip) {
    lines_.assign(size_t(drawing_.width()), ColumnLine{});
    measured_ = {};
  }
  if (haveStrip) {
    DrawLinesLocked();
    PaintWaveform();
  }
}

int32_t CWaveformStrip::ClampColumn(int64_t column) const {
  return int32_t(std::clamp<int64_t>(column, 0, view_.bitmapWidth));
}

void CWaveformStrip::ComposeLocked() {
  if (drawing_.isNull()) return;
  if (composition_.size() != drawing_.size() || composition_.format() != drawing_.format())
    composition_ = QImage(drawing_.size(), drawing_.format());
  std::memcpy(composition_.bits(), drawing_.constBits(), size_t(drawing_.sizeInBytes()));

  const int64_t fpp = Fpp();
  const int64_t start = view_.viewStartFrame;
  // Signed differences, divided toward zero, then kept on the strip.
  const int32_t cursorColumn = ClampColumn((int64_t(view_.cursorFrame) - start) / fpp);
  const int32_t anchorColumn = ClampColumn((int64_t(view_.anchorFrame) - start) / fpp);
  view_.cursorPixel = cursorColumn;
  view_.anchorPixel = anchorColumn;

  const int w = composition_.width();
  const int h = composition_.height();
  const qsizetype stride = composition_.bytesPerLine() / qsizetype(sizeof(QRgb));
  QRgb* bits = reinterpret_cast<QRgb*>(composition_.bits());
  // Selection: every column from the smaller end up to the cursor column, inverted. An
  // anchor right of the cursor thus shows the cursor column alone.
  for (int32_t col = std::min(cursorColumn, anchorColumn); col <= cursorColumn; ++col) {
    if (col >= w) break;
    for (int y = 0; y < h; ++y) bits[y * stride + col] ^= kInvertMask;
  }

  const int64_t playColumn = (int64_t(view_.playFrame) - start) / fpp;
  view_.playPixel = int32_t(std::clamp<int64_t>(playColumn, std::numeric_limits<int32_t>::min(),
                                                std::numeric_limits<int32_t>::max()));
  if (playColumn >= 1 && playColumn <= int64_t(view_.bitmapWidth) && playColumn < w) {
    for (int y = 0; y < h; ++y) bits[y * stride + playColumn] = kPlayLineColour;
  }
}

void CWaveformStrip::Compose() {
  std::lock_guard guard(lock_);
  ComposeLocked();
}

void CWaveformStrip::PaintWaveform() {
  std::lock_guard guard(lock_);
  ComposeLocked();
  if (repaintRequest_) repaintRequest_();
}

// ---- mouse -----------------------------------------------------------------------------

uint32_t CWaveformStrip::ClampToChunk(int64_t frame, std::optional<uint32_t> chunkFrames) const {
  return uint32_t(std::clamp<int64_t>(frame, 0, chunkFrames.value_or(0)));
}

void CWaveformStrip::OnLeftButtonDown(IWaveformHost& host, int x, bool control) {
  OnWaveformMouse(host, true, x);
  if (control) host.SplitCurrentChunk();  // at the position just set
}

void CWaveformStrip::OnWaveformMouse(IWaveformHost& host, bool down, int x) {
  if (!down) {
    std::lock_guard guard(lock_);
    if (view_.cursorFrame < view_.anchorFrame) view_.anchorFrame = view_.cursorFrame;
    return;
  }
  const std::optional<uint32_t> chunkFrames = host.CurrentChunkFrames();
  {
    std::lock_guard guard(lock_);
    const uint32_t position =
        ClampToChunk(int64_t(view_.viewStartFrame) + int64_t(x) * Fpp(), chunkFrames);
    view_.anchorPixel = ClampColumn((int64_t(position) - view_.viewStartFrame) / Fpp());
    view_.anchorFrame = view_.cursorFrame = position;
    view_.progress.SetPos(position);
    PaintWaveform();
  }
  host.NotifyPosition();
}

void CWaveformStrip::OnLeftDrag(IWaveformHost& host, int x) {
  const std::optional<uint32_t> chunkFrames = host.CurrentChunkFrames();
  {
    std::lock_guard guard(lock_);
    // The anchor stays where the button went down; no notification while dragging.
    view_.cursorFrame =
        ClampToChunk(int64_t(view_.viewStartFrame) + int64_t(x) * Fpp(), chunkFrames);
    view_.progress.SetPos(view_.cursorFrame);
    PaintWaveform();
  }
}

void CWaveformStrip::OnRightButtonDown(IWaveformHost& host, int x) {
  if (!host.CurrentChunkFrames()) return;
  {
    std::lock_guard guard(lock_);
    view_.dragAnchor =
        int32_t(std::clamp<int64_t>(int64_t(x) * Fpp(), 0, std::numeric_limits<int32_t>::max()));
  }
}

void CWaveformStrip::OnRightButtonUp(IWaveformHost& host) {
  {
    std::lock_guard guard(lock_);
    view_.dragAnchor = -1;
  }
}

void CWaveformStrip::OnRightDrag(IWaveformHost& host, int x) {
  const std::optional<uint32_t> chunkFrames = host.CurrentChunkFrames();
  if (!chunkFrames) return;
  int64_t newStart = 0;
  uint32_t fpp = 0;
  {
    std::lock_guard guard(lock_);
    if (view_.dragAnchor == -1) return;
    fpp = Fpp();
    const int64_t p = int64_t(x) * fpp;
    // Moving the mouse right shows earlier sound.
    newStart = int64_t(view_.viewStartFrame) + (view_.dragAnchor - p);
    if (newStart < 0) newStart = 0;
    if (newStart + view_.viewFrames > int64_t(*chunkFrames))
      newStart = int64_t(*chunkFrames) - view_.viewFrames;
    if (newStart < 0) newStart = 0;  // a chunk shorter than the view stays at its start
    view_.dragAnchor = int32_t(std::clamp<int64_t>(p, std::numeric_limits<int32_t>::min() + 1,
                                                   std::numeric_limits<int32_t>::max()));
  }
  host.RedrawWaveform(uint32_t(newStart), fpp);
}

void CWaveformStrip::OnBarPress(IWaveformHost& host, int x, int barWidth) {
  if (barWidth <= 0) return;
  {
    std::lock_guard guard(lock_);
    // Left of the bar (while the button is held) means its start, not a wrapped far end.
    const double column = std::max(x, 0);
    const double span = double(view_.progress.High() - view_.progress.Low());
    view_.progress.SetPos(int64_t(column / double(barWidth) * span));
  }
  SeekToBarPosition(host);
}

void CWaveformStrip::SeekToBarPosition(IWaveformHost& host) {
  const std::optional<uint32_t> chunkFrames = host.CurrentChunkFrames();
  int64_t newStart = 0;
  uint32_t fpp = 0;
  {
    std::lock_guard guard(lock_);
    fpp = Fpp();
    const uint32_t position = ClampToChunk(view_.progress.Pos(), chunkFrames);
    view_.progress.SetPos(position);
    view_.cursorFrame = position;
    PaintWaveform();
    view_.positionSet = 1;
    view_.cursorPixel = ClampColumn((int64_t(position) - view_.viewStartFrame) / fpp);
    // Not playing: put the cursor at a third of the strip.
    newStart = int64_t(position) - int64_t(view_.bitmapWidth) * fpp / 3;
    if (newStart < 0) newStart = 0;
  }
  if (host.IsPlaying())
    host.Play();
  else
    host.RedrawWaveform(uint32_t(newStart), fpp);
  host.NotifyPosition();
}

}  // namespace vts
