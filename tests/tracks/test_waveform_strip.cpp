// Waveform strip: pixels against an independent rendering of the strip's rules, reads that
// stay inside the chunk's data, and the mouse and position-bar rules.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fake_waveform_host.h"
#include "tracks/waveform_strip.h"

namespace vts {
namespace {

constexpr QRgb kBlackPx = 0xFF000000u;

// A dialog background with varied colours and a non-opaque alpha, so a wrong offset or an
// alpha that leaks through shows.
QImage MakeBackground() {
  QImage bg(516, 470, QImage::Format_ARGB32);
  for (int y = 0; y < bg.height(); ++y)
    for (int x = 0; x < bg.width(); ++x)
      bg.setPixel(x, y, qRgba((x * 3) % 256, (y * 5) % 256, (x + y) % 256, 0x7F));
  return bg;
}

// Samples that reach both extremes and give odd negative sums (where a shift and a
// division differ).
std::vector<int16_t> MakeSamples(uint32_t frames, uint32_t channels) {
  std::vector<int16_t> s(size_t(frames) * channels);
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = double(i / channels);
    double v = 32767.0 * std::sin(t / 900.0) * std::sin(t / 53.0 + double(i % channels));
    if (i % 4099 == 0) v = -32768.0;
    if (i % 5003 == 0) v = 32767.0;
    s[i] = int16_t(std::lround(std::clamp(v, -32768.0, 32767.0))) | int16_t(i % 2);
  }
  return s;
}

// ---- the reference rendering, written from the rules, pixel by pixel ----

struct Ref {
  int w, h;
  std::vector<QRgb> px;
  QRgb& at(int x, int y) { return px[size_t(y) * w + x]; }
};

Ref ReferenceDrawing(const QImage& bg, int sx, int sy, int w, int h, const std::vector<int16_t>& s,
                     size_t sampleCount, int channels, int64_t length, int64_t first, int64_t fppIn,
                     bool haveChunk, int64_t* viewStart, int64_t* viewFrames) {
  const int64_t fpp = fppIn == 0 ? 64 : fppIn;
  Ref r{w, h, std::vector<QRgb>(size_t(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int bx = sx + x, by = sy + y;
      const bool in = !bg.isNull() && bx >= 0 && by >= 0 && bx < bg.width() && by < bg.height();
      r.at(x, y) = in ? (bg.pixel(bx, by) | kBlackPx) : kBlackPx;
    }
  for (int x = 0; x < w; ++x) r.at(x, h / 2) = kBlackPx;
  if (!haveChunk || length == 0) return r;

  const int64_t fc = first / fpp;
  int64_t ec = length / fpp;
  if (ec - fc > w) ec = fc + w;
  if (ec < fc) ec = fc;
  *viewStart = fc * fpp;
  *viewFrames = (ec - fc) * fpp;
  if (channels != 1 && channels != 2) return r;

  const int64_t avail = std::min<int64_t>(length, int64_t(sampleCount) / channels);
  auto value = [&](int64_t i) -> double {
    if (channels == 2) return std::floor((double(s[2 * i]) + s[2 * i + 1]) / 2.0);
    if (i + 1 < avail) return std::floor((double(s[i]) + s[i + 1]) / 2.0);
    return s[i];
  };
  const double scale = std::floor(65536.0 / h);
  for (int64_t c = fc; c < ec; ++c) {
    bool any = false;
    double mn = 1e9, mx = -1e9;
    for (int64_t i = c * fpp; i < c * fpp + fpp; ++i) {
      if (i >= avail) break;
      any = true;
      mn = std::min(mn, value(i));
      mx = std::max(mx, value(i));
    }
    if (!any) continue;
    const double lower = h / 2 - std::trunc(mn / scale);
    const double upper = h / 2 - std::trunc(mx / scale);
    for (int y = 0; y < h; ++y)
      if (y > upper && y <= lower) r.at(int(c - fc), y) = kBlackPx;
  }
  return r;
}

// What the window shows: the drawing with the selection inverted and the play line.
Ref ReferenceComposition(Ref r, int64_t cursor, int64_t anchor, int64_t play, int64_t start,
                         int64_t fpp) {
  auto col = [&](int64_t frame) {
    return std::clamp<int64_t>(int64_t(std::trunc(double(frame - start) / fpp)), 0, r.w);
  };
  const int64_t cc = col(cursor), ac = col(anchor);
  for (int x = 0; x < r.w; ++x) {
    if (x >= std::min(cc, ac) && x <= cc)
      for (int y = 0; y < r.h; ++y) r.at(x, y) = ((~r.at(x, y)) & 0x00FFFFFFu) | kBlackPx;
  }
  const int64_t pc = int64_t(std::trunc(double(play - start) / fpp));
  if (pc >= 1 && pc < r.w)
    for (int y = 0; y < r.h; ++y) r.at(int(pc), y) = qRgb(128, 128, 255);
  return r;
}

// Counts differing pixels and names the first one.
std::string Compare(const QImage& img, Ref& ref) {
  if (img.width() != ref.w || img.height() != ref.h) return "size differs";
  int diffs = 0;
  std::string first;
  for (int y = 0; y < ref.h; ++y)
    for (int x = 0; x < ref.w; ++x) {
      const QRgb got = img.pixel(x, y) | kBlackPx;
      if (got != ref.at(x, y)) {
        if (diffs++ == 0)
          first = "(" + std::to_string(x) + "," + std::to_string(y) + ") got " +
                  std::to_string(got) + " want " + std::to_string(ref.at(x, y));
      }
    }
  return diffs == 0 ? std::string() : std::to_string(diffs) + " pixels differ, first " + first;
}

struct DrawCase {
  const char* name;
  uint32_t channels;
  uint32_t fpp;
  uint32_t length;
  uint32_t dataFrames;  // frames actually in the data (may be fewer than length)
  uint32_t first;
  int stripX, stripY, stripW;
};

class WaveformDraw : public ::testing::TestWithParam<DrawCase> {};

TEST_P(WaveformDraw, MatchesReferenceAndSetsView) {
  const DrawCase& c = GetParam();
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  const QImage bg = MakeBackground();
  strip.SetBackground(bg);
  strip.SetStripRect(c.stripX, c.stripY, uint32_t(c.stripW));
  const std::vector<int16_t> s = MakeSamples(c.dataFrames, c.channels);
  WaveformChunk chunk{s.data(), s.size(), c.channels, c.length};
  strip.RedrawWaveform(c.first, c.fpp, &chunk);

  int64_t vs = -1, vf = -1;
  Ref ref = ReferenceDrawing(bg, c.stripX, c.stripY, c.stripW, 52, s, s.size(), int(c.channels),
                             c.length, c.first, c.fpp, true, &vs, &vf);
  std::lock_guard guard(lock);
  EXPECT_EQ(Compare(strip.DrawingImage(), ref), "");
  EXPECT_EQ(strip.View().framesPerPixel, c.fpp == 0 ? 64u : c.fpp);
  if (c.length > 0) {
    EXPECT_EQ(int64_t(strip.View().viewStartFrame), vs);
    EXPECT_EQ(int64_t(strip.View().viewFrames), vf);
  }
  // The composition of an untouched view: the cursor column 0 inverted, no play line.
  Ref comp =
      ReferenceComposition(ref, 0, 0, 0, strip.View().viewStartFrame, strip.View().framesPerPixel);
  EXPECT_EQ(Compare(strip.CompositionImage(), comp), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveformDraw,
    ::testing::Values(
        DrawCase{"mono_fpp0", 1, 0, 490 * 64 + 10, 490 * 64 + 10, 0, 12, 125, 490},
        DrawCase{"mono_fpp64", 1, 64, 200000, 200000, 0, 12, 125, 490},
        DrawCase{"mono_fpp256", 1, 256, 200000, 200000, 0, 12, 125, 490},
        DrawCase{"stereo_fpp0", 2, 0, 200000, 200000, 0, 88, 279, 342},
        DrawCase{"stereo_fpp64", 2, 64, 200000, 200000, 0, 12, 125, 490},
        DrawCase{"stereo_fpp256", 2, 256, 200000, 200000, 0, 12, 125, 490},
        DrawCase{"mono_short_chunk", 1, 64, 100 * 64 + 37, 100 * 64 + 37, 0, 12, 125, 490},
        DrawCase{"stereo_short_chunk", 2, 256, 37 * 256 + 255, 37 * 256 + 255, 0, 12, 125, 490},
        DrawCase{"empty_chunk", 1, 64, 0, 0, 0, 12, 125, 490},
        DrawCase{"unaligned_first_frame", 1, 256, 200000, 200000, 1000, 12, 125, 490},
        DrawCase{"scrolled_to_end", 2, 64, 100000, 100000, 100000 - 200 * 64, 12, 125, 490},
        DrawCase{"first_frame_past_end", 1, 64, 5000, 5000, 9000, 12, 125, 490},
        DrawCase{"sound_shorter_than_length", 1, 64, 20000, 7001, 0, 12, 125, 490},
        DrawCase{"stereo_sound_shorter", 2, 256, 90000, 30001, 0, 12, 125, 490},
        DrawCase{"strip_past_background", 1, 64, 100000, 100000, 0, 400, 440, 342},
        DrawCase{"fpp_8192", 1, 8192, 490 * 8192, 490 * 8192, 0, 12, 125, 490}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaveformDraw, NoChunkShowsBackgroundAndCentreLineAndKeepsView) {
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  const QImage bg = MakeBackground();
  strip.SetBackground(bg);
  strip.SetStripRect(12, 125, 490);
  {
    std::lock_guard guard(lock);
    strip.View().viewStartFrame = 512;
    strip.View().viewFrames = 1024;
  }
  strip.RedrawWaveform(0, 0, nullptr);
  int64_t vs, vf;
  Ref ref = ReferenceDrawing(bg, 12, 125, 490, 52, {}, 0, 1, 0, 0, 0, false, &vs, &vf);
  std::lock_guard guard(lock);
  EXPECT_EQ(Compare(strip.DrawingImage(), ref), "");
  EXPECT_EQ(strip.View().framesPerPixel, 64u);
  EXPECT_EQ(strip.View().viewStartFrame, 512u);
  EXPECT_EQ(strip.View().viewFrames, 1024u);
}

TEST(WaveformDraw, OtherChannelCountsDrawNoColumnsButSetTheView) {
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  strip.SetBackground(MakeBackground());
  strip.SetStripRect(12, 125, 490);
  const std::vector<int16_t> s = MakeSamples(50000, 3);
  WaveformChunk chunk{s.data(), s.size(), 3, 50000};
  strip.RedrawWaveform(0, 64, &chunk);
  int64_t vs, vf;
  Ref ref = ReferenceDrawing(MakeBackground(), 12, 125, 490, 52, s, s.size(), 3, 50000, 0, 64, true,
                             &vs, &vf);
  std::lock_guard guard(lock);
  EXPECT_EQ(Compare(strip.DrawingImage(), ref), "");
  EXPECT_EQ(strip.View().viewFrames, 490u * 64);
}

// The chunk's data ends right at an inaccessible page: any read past it faults.
class GuardedSamples {
 public:
  explicit GuardedSamples(size_t count) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t bytes = count * sizeof(int16_t);
    const size_t dataPages = (bytes + page - 1) / page;
    size_ = (dataPages + 1) * page;
    base_ = static_cast<char*>(
        mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(base_, MAP_FAILED);
    mprotect(base_ + dataPages * page, page, PROT_NONE);
    data_ = reinterpret_cast<int16_t*>(base_ + dataPages * page - bytes);
    for (size_t i = 0; i < count; ++i) data_[i] = int16_t((i * 977) % 20000 - 10000);
  }
  ~GuardedSamples() { munmap(base_, size_); }
  int16_t* data() { return data_; }

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
  int16_t* data_ = nullptr;
};

TEST(WaveformDraw, NeverReadsPastTheChunksData) {
  struct Case {
    uint32_t channels, dataFrames, length, first, fpp;
  };
  const Case cases[] = {
      {1, 6400, 6400, 0, 64},      // mono: the last frame has no next sample
      {1, 6401, 6401, 0, 64},      // ... nor when it starts a column of its own
      {1, 3000, 90000, 0, 64},     // sound shorter than the length
      {2, 3000, 90000, 0, 256},    // the same in stereo
      {1, 6400, 6400, 64000, 64},  // first frame past the end
      {2, 1, 1, 0, 64},            // less than one column
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << "ch data " << c.dataFrames << " len "
                                    << c.length << " first " << c.first);
    GuardedSamples g(size_t(c.dataFrames) * c.channels);
    std::recursive_mutex lock;
    WaveformViewState view;
    CWaveformStrip strip(view, lock);
    strip.SetStripRect(12, 125, 490);
    WaveformChunk chunk{g.data(), size_t(c.dataFrames) * c.channels, c.channels, c.length};
    strip.RedrawWaveform(c.first, c.fpp, &chunk);
    std::vector<int16_t> copy(g.data(), g.data() + size_t(c.dataFrames) * c.channels);
    int64_t vs, vf;
    Ref ref = ReferenceDrawing(QImage(), 12, 125, 490, 52, copy, copy.size(), int(c.channels),
                               c.length, c.first, c.fpp, true, &vs, &vf);
    std::lock_guard guard(lock);
    EXPECT_EQ(Compare(strip.DrawingImage(), ref), "");
  }
}

TEST(WaveformDraw, MonoLastFrameIsValuedByItsOwnSample) {
  // One column of 64 frames at zero, the last frame alone at the bottom: the column
  // reaches down to mid - (-32768 / 1260) = 26 + 26 = 52, clipped to the last row.
  std::vector<int16_t> s(64, 0);
  s[63] = -32768;
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  strip.SetStripRect(0, 0, 10);
  WaveformChunk chunk{s.data(), s.size(), 1, 64};
  strip.RedrawWaveform(0, 64, &chunk);
  std::lock_guard guard(lock);
  const QImage& img = strip.DrawingImage();
  for (int y = 27; y < 52; ++y) EXPECT_EQ(img.pixel(0, y) | kBlackPx, kBlackPx) << y;
  EXPECT_EQ(img.pixel(1, 40), kBlackPx);  // background (none) elsewhere is black too
}

// Playing scrolls the view on and recording grows the chunk at its end; a strip that keeps
// the columns it measured must still show exactly what a full redraw shows, at every step.
TEST(WaveformDraw, FollowingAScrollingOrGrowingChunkDrawsWhatAFullRedrawDraws) {
  struct Step {
    uint32_t first, dataFrames, length;
    bool moveSamples;  // the chunk's memory moved (grown): its sound is the same
  };
  struct Case {
    const char* name;
    uint32_t channels, fpp;
    std::vector<Step> steps;
    std::vector<int16_t> sound;  // empty: MakeSamples
  };
  std::vector<Case> cases;
  // Mono: a column's last frame is valued by its own sample only while no next one exists.
  Case pairing{
      "mono_column_ends_at_the_data", 1, 64, {{0, 64, 64, false}, {0, 128, 128, false}}, {}};
  pairing.sound.assign(200000, 0);
  pairing.sound[63] = -32768;
  cases.push_back(pairing);
  for (uint32_t ch : {1u, 2u}) {
    Case rec{"recording", ch, 128, {}};
    // Blocks of a size that ends columns anywhere; the newest sound stays at 4/5 once full.
    for (uint32_t frames = 1103; frames < 140000; frames += 1103) {
      const uint32_t width = 490 * 4 / 5;
      const uint32_t first = frames / 128 > width && frames > 128 * 490 ? frames - 128 * 490 : 0;
      rec.steps.push_back({first, frames, frames, frames % (1103 * 17) == 0});
    }
    cases.push_back(rec);
    Case play{"playing", ch, 64, {}};
    for (uint32_t first = 0; first < 90000; first += 1000)
      play.steps.push_back({first, 120000, 120000, false});
    play.steps.push_back({500, 120000, 120000, false});  // a scroll back draws whole
    play.steps.push_back({70000, 120000, 120000, false});
    cases.push_back(play);
    Case shortRead{"sound_shorter_than_length", ch, 64, {}};
    for (uint32_t d = 2000; d < 40000; d += 2999)
      shortRead.steps.push_back({d / 2, d, 40000, false});
    cases.push_back(shortRead);
  }
  const QImage bg = MakeBackground();
  for (const Case& c : cases) {
    const std::vector<int16_t> samples =
        c.sound.empty() ? MakeSamples(150000, c.channels) : c.sound;
    std::vector<int16_t> other = samples;  // the same sound at another address
    std::recursive_mutex lock;
    WaveformViewState view;
    CWaveformStrip follow(view, lock);
    follow.SetBackground(bg);
    follow.SetStripRect(12, 125, 490);
    bool moved = false;
    for (const Step& st : c.steps) {
      SCOPED_TRACE(testing::Message() << c.name << " " << c.channels << "ch first " << st.first
                                      << " data " << st.dataFrames);
      if (st.moveSamples) moved = !moved;
      const int16_t* at = moved ? other.data() : samples.data();
      WaveformChunk chunk{at, size_t(st.dataFrames) * c.channels, c.channels, st.length};
      follow.FollowWaveform(st.first, c.fpp, &chunk);
      std::recursive_mutex fullLock;
      WaveformViewState fullView;
      CWaveformStrip full(fullView, fullLock);
      full.SetBackground(bg);
      full.SetStripRect(12, 125, 490);
      full.RedrawWaveform(st.first, c.fpp, &chunk);
      std::lock_guard guard(lock);
      ASSERT_TRUE(follow.DrawingImage() == full.DrawingImage());
      EXPECT_EQ(view.viewStartFrame, fullView.viewStartFrame);
      EXPECT_EQ(view.viewFrames, fullView.viewFrames);
    }
    // And the last picture against the rules themselves.
    const Step& last = c.steps.back();
    int64_t vs = 0, vf = 0;
    Ref ref = ReferenceDrawing(bg, 12, 125, 490, 52, samples, size_t(last.dataFrames) * c.channels,
                               int(c.channels), last.length, last.first, c.fpp, true, &vs, &vf);
    std::lock_guard guard(lock);
    EXPECT_EQ(Compare(follow.DrawingImage(), ref), "") << c.name;
  }
}

// ---- composition ----

struct ComposeCase {
  const char* name;
  int64_t cursor, anchor, play;
};

class WaveformCompose : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(WaveformCompose, SelectionAndPlayLineMatchReference) {
  const ComposeCase& c = GetParam();
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  const QImage bg = MakeBackground();
  strip.SetBackground(bg);
  strip.SetStripRect(12, 125, 490);
  const std::vector<int16_t> s = MakeSamples(400000, 2);
  WaveformChunk chunk{s.data(), s.size(), 2, 400000};
  strip.RedrawWaveform(25600, 256, &chunk);  // view start 25600
  {
    std::lock_guard guard(lock);
    strip.View().cursorFrame = uint32_t(c.cursor);
    strip.View().anchorFrame = uint32_t(c.anchor);
    strip.View().playFrame = uint32_t(c.play);
  }
  strip.PaintWaveform();
  int64_t vs, vf;
  Ref drawn =
      ReferenceDrawing(bg, 12, 125, 490, 52, s, s.size(), 2, 400000, 25600, 256, true, &vs, &vf);
  Ref ref = ReferenceComposition(drawn, c.cursor, c.anchor, c.play, 25600, 256);
  std::lock_guard guard(lock);
  EXPECT_EQ(Compare(strip.CompositionImage(), ref), "");
  EXPECT_EQ(Compare(strip.DrawingImage(), drawn), "");  // the drawing stays untouched
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveformCompose,
    ::testing::Values(ComposeCase{"anchor_left_of_cursor", 25600 + 300 * 256, 25600 + 100 * 256, 0},
                      ComposeCase{"anchor_right_shows_cursor_only", 25600 + 100 * 256,
                                  25600 + 300 * 256, 0},
                      ComposeCase{"collapsed", 25600 + 77 * 256 + 5, 25600 + 77 * 256 + 5, 0},
                      ComposeCase{"cursor_before_view", 100, 50, 0},
                      ComposeCase{"cursor_past_strip", 25600 + 600 * 256, 25600 + 480 * 256, 0},
                      ComposeCase{"play_column_0_not_drawn", 0, 0, 25600 + 255},
                      ComposeCase{"play_column_1", 0, 0, 25600 + 256},
                      ComposeCase{"play_last_column", 0, 0, 25600 + 489 * 256},
                      ComposeCase{"play_at_strip_width", 0, 0, 25600 + 490 * 256},
                      ComposeCase{"play_inside_selection", 25600 + 200 * 256, 25600 + 10 * 256,
                                  25600 + 150 * 256}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaveformCompose, RepaintRequestFollowsEveryPaint) {
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  strip.SetStripRect(0, 0, 100);
  int requests = 0;
  strip.SetRepaintRequest([&] { ++requests; });
  strip.RedrawWaveform(0, 0, nullptr);
  strip.PaintWaveform();
  EXPECT_EQ(requests, 2);
  strip.SetRepaintRequest(nullptr);
  strip.PaintWaveform();
  EXPECT_EQ(requests, 2);
}

// ---- the position bar's range ----

TEST(ProgressRange, KeepsThePositionInsideTheRange) {
  ProgressRange r;
  EXPECT_EQ(r.Low(), 0);
  EXPECT_EQ(r.High(), 100);
  r.SetPos(150);
  EXPECT_EQ(r.Pos(), 100);
  r.SetRange(0, 90000);
  r.SetPos(45000);
  EXPECT_EQ(r.Pos(), 45000);
  r.SetRange(0, 1000);
  EXPECT_EQ(r.Pos(), 1000);
  r.SetPos(-5);
  EXPECT_EQ(r.Pos(), 0);
}

// ---- mouse rules ----

class WaveformMouse : public ::testing::Test {
 protected:
  void SetUp() override {
    host.strip.SetStripRect(88, 279, 342);
    host.SetChunk(90000);
    {
      std::lock_guard guard(host.lock);
      host.strip.Bar().SetRange(0, 90000);
    }
    host.RedrawWaveform(0, 256);
    host.redraws = 0;
  }
  WaveformViewState View() {
    std::lock_guard guard(host.lock);
    return host.strip.View();
  }
  int64_t BarPos() {
    std::lock_guard guard(host.lock);
    return host.strip.Bar().Pos();
  }
  test::FakeWaveformHost host;
};

TEST_F(WaveformMouse, ClickSetsCursorAnchorAndBarAndNotifiesOnce) {
  host.strip.OnLeftButtonDown(host, 100, false);
  EXPECT_EQ(View().cursorFrame, 25600u);
  EXPECT_EQ(View().anchorFrame, 25600u);
  EXPECT_EQ(View().cursorPixel, 100);
  EXPECT_EQ(BarPos(), 25600);
  EXPECT_EQ(host.positionNotices, 1);
  host.strip.OnWaveformMouse(host, false, 100);
  EXPECT_EQ(host.positionNotices, 1);
  EXPECT_EQ(host.splits, 0);
}

TEST_F(WaveformMouse, CursorIsClampedToTheChunk) {
  host.SetChunk(5000);  // shorter than the strip at 256 frames per pixel
  host.RedrawWaveform(0, 256);
  host.strip.OnLeftButtonDown(host, 300, false);  // right of the short waveform
  EXPECT_EQ(View().cursorFrame, 5000u);
  EXPECT_EQ(View().anchorFrame, 5000u);
  host.strip.OnLeftDrag(host, -40);  // dragged out to the left while held
  EXPECT_EQ(View().cursorFrame, 0u);
  host.strip.OnLeftDrag(host, 30000);
  EXPECT_EQ(View().cursorFrame, 5000u);
}

TEST_F(WaveformMouse, NoCurrentChunkKeepsCursorAtZero) {
  host.ClearChunk();
  host.strip.OnLeftButtonDown(host, 100, false);
  EXPECT_EQ(View().cursorFrame, 0u);
  EXPECT_EQ(host.positionNotices, 1);
}

TEST_F(WaveformMouse, DragSelections) {
  // Right from the click: the selection runs from the click to the release point.
  host.strip.OnLeftButtonDown(host, 100, false);
  host.strip.OnLeftDrag(host, 150);
  host.strip.OnLeftDrag(host, 200);
  host.strip.OnWaveformMouse(host, false, 200);
  EXPECT_EQ(View().anchorFrame, 25600u);
  EXPECT_EQ(View().cursorFrame, 51200u);
  EXPECT_EQ(host.positionNotices, 1);  // drags post nothing
  {
    std::lock_guard guard(host.lock);
    const QImage& img = host.strip.CompositionImage();
    const QImage& drawn = host.strip.DrawingImage();
    EXPECT_NE(img.pixel(150, 0), drawn.pixel(150, 0));  // inside the selection: inverted
    EXPECT_EQ(img.pixel(99, 0), drawn.pixel(99, 0));
    EXPECT_EQ(img.pixel(201, 0), drawn.pixel(201, 0));
  }
  // Left from the click: only the cursor column shows, and the release collapses it.
  host.strip.OnLeftButtonDown(host, 100, false);
  host.strip.OnLeftDrag(host, 40);
  {
    std::lock_guard guard(host.lock);
    const QImage& img = host.strip.CompositionImage();
    const QImage& drawn = host.strip.DrawingImage();
    EXPECT_NE(img.pixel(40, 0), drawn.pixel(40, 0));
    EXPECT_EQ(img.pixel(41, 0), drawn.pixel(41, 0));
    EXPECT_EQ(img.pixel(100, 0), drawn.pixel(100, 0));
  }
  EXPECT_EQ(View().anchorFrame, 25600u);
  host.strip.OnWaveformMouse(host, false, 40);
  EXPECT_EQ(View().anchorFrame, 40u * 256);
  EXPECT_EQ(View().cursorFrame, 40u * 256);
  EXPECT_EQ(BarPos(), 40 * 256);
}

TEST_F(WaveformMouse, EveryMouseOperationChangesTheStateTheHostHandedIn) {
  // The strip keeps no state of its own: what its mouse rules change is the host's object,
  // seen by the host at once, with nothing to copy back.
  auto hostView = [this] {
    std::lock_guard guard(host.lock);
    return host.view;
  };
  host.strip.OnLeftButtonDown(host, 10, false);
  EXPECT_EQ(hostView().cursorFrame, 10u * 256);
  EXPECT_EQ(hostView().anchorFrame, 10u * 256);
  host.strip.OnLeftDrag(host, 20);
  EXPECT_EQ(hostView().cursorFrame, 20u * 256);
  EXPECT_EQ(hostView().progress.Pos(), 20 * 256);
  host.strip.OnWaveformMouse(host, false, 20);
  host.strip.OnRightButtonDown(host, 5);
  EXPECT_EQ(hostView().dragAnchor, 5 * 256);
  host.strip.OnRightButtonUp(host);
  EXPECT_EQ(hostView().dragAnchor, -1);
  host.strip.OnBarPress(host, 171, 342);
  EXPECT_EQ(hostView().cursorFrame, 45000u);
  EXPECT_EQ(hostView().positionSet, 1);
  EXPECT_EQ(&host.strip.View(), &host.view);
}

TEST_F(WaveformMouse, ControlClickSplitsAtTheClickedPosition) {
  host.strip.OnLeftButtonDown(host, 50, true);
  EXPECT_EQ(host.splits, 1);
  EXPECT_EQ(host.splitAt, 50u * 256);
  EXPECT_EQ(host.positionNotices, 1);
}

TEST_F(WaveformMouse, RightDragScrollsAndStaysInsideTheChunk) {
  host.SetChunk(400000);
  host.RedrawWaveform(100000, 256);  // view 99840 .. 99840 + 342 * 256
  const uint32_t viewFrames = View().viewFrames;
  ASSERT_EQ(viewFrames, 342u * 256);
  host.strip.OnRightButtonDown(host, 200);
  host.strip.OnRightDrag(host, 210);  // mouse right: earlier sound
  EXPECT_EQ(host.lastRedrawFirst, 99840u - 10 * 256);
  EXPECT_EQ(View().viewStartFrame, 99840u - 10 * 256);
  host.strip.OnRightDrag(host, 32000);  // far right: clamps at 0
  EXPECT_EQ(host.lastRedrawFirst, 0u);
  host.strip.OnRightDrag(host, -20000);  // far left: clamps at the end
  EXPECT_EQ(host.lastRedrawFirst, 400000u - viewFrames);
  host.strip.OnRightButtonUp(host);
  const int redraws = host.redraws;
  host.strip.OnRightDrag(host, 100);  // no drag running
  EXPECT_EQ(host.redraws, redraws);
}

TEST_F(WaveformMouse, RightDragOnAChunkShorterThanTheViewStaysAtZero) {
  host.SetChunk(3000);
  host.RedrawWaveform(0, 256);
  host.strip.OnRightButtonDown(host, 100);
  host.strip.OnRightDrag(host, 50);  // the whole chunk is in view already
  EXPECT_EQ(host.redraws, 2);
  EXPECT_EQ(View().viewStartFrame, 0u);
  EXPECT_EQ(View().viewFrames, 3000u / 256 * 256);
}

TEST_F(WaveformMouse, RightDragWithoutAChunkDoesNothing) {
  host.ClearChunk();
  host.strip.OnRightButtonDown(host, 100);
  host.strip.OnRightDrag(host, 50);
  host.strip.OnRightButtonUp(host);
  EXPECT_EQ(host.redraws, 0);
  EXPECT_EQ(View().dragAnchor, -1);
}

TEST_F(WaveformMouse, BarClickAtAThirdSeeksAndCentresTheCursorAtAThird) {
  host.strip.OnBarPress(host, 114, 342);
  EXPECT_EQ(View().cursorFrame, 30000u);
  EXPECT_EQ(BarPos(), 30000);
  EXPECT_EQ(View().positionSet, 1);
  EXPECT_EQ(host.positionNotices, 1);
  EXPECT_EQ(host.plays, 0);
  EXPECT_EQ(host.lastRedrawFirst, 30000u - 342u * 256 / 3);
  EXPECT_EQ(host.lastRedrawFpp, 256u);
}

TEST_F(WaveformMouse, BarClickWhilePlayingRestartsPlayback) {
  host.playing = true;
  host.strip.OnBarPress(host, 171, 342);
  EXPECT_EQ(View().cursorFrame, 45000u);
  EXPECT_EQ(host.plays, 1);
  EXPECT_EQ(host.redraws, 0);
  EXPECT_EQ(host.positionNotices, 1);
}

TEST_F(WaveformMouse, BarDragOutsideTheBarStopsAtItsEnds) {
  host.strip.OnBarPress(host, -30, 342);
  EXPECT_EQ(View().cursorFrame, 0u);
  host.strip.OnBarPress(host, 5000, 342);
  EXPECT_EQ(View().cursorFrame, 90000u);
  EXPECT_EQ(host.positionNotices, 2);
}

}  // namespace
}  // namespace vts

namespace vts {
namespace {

TEST(WaveformDraw, WithoutAStripTheViewStillFollowsTheChunk) {
  std::recursive_mutex lock;
  WaveformViewState view;
  CWaveformStrip strip(view, lock);
  int requests = 0;
  strip.SetRepaintRequest([&] { ++requests; });
  const std::vector<int16_t> s(10000, 100);
  WaveformChunk chunk = MakeWaveformChunk(s.data(), s.size() * 2, 1, 16, 10000);
  strip.RedrawWaveform(1000, 0, &chunk);
  std::lock_guard guard(lock);
  EXPECT_EQ(strip.View().framesPerPixel, 64u);
  EXPECT_EQ(strip.View().viewStartFrame, 960u);
  EXPECT_EQ(strip.View().viewFrames, 0u);  // a strip of width 0 holds no columns
  EXPECT_TRUE(strip.DrawingImage().isNull());
  EXPECT_EQ(requests, 0);
}

TEST(WaveformDraw, ChunkFromBytesReadsOnly16BitSamples) {
  const std::vector<int16_t> s(100, 5);
  const WaveformChunk c16 = MakeWaveformChunk(s.data(), 199, 2, 16, 50);
  EXPECT_EQ(c16.samples, s.data());
  EXPECT_EQ(c16.sampleCount, 99u);  // a trailing odd byte is no sample
  EXPECT_EQ(c16.channels, 2u);
  EXPECT_EQ(c16.lengthFrames, 50u);
  const WaveformChunk c8 = MakeWaveformChunk(s.data(), 200, 1, 8, 200);
  EXPECT_EQ(c8.samples, nullptr);
  EXPECT_EQ(c8.sampleCount, 0u);
  EXPECT_EQ(c8.lengthFrames, 200u);
}

}  // namespace
}  // namespace vts
