// The window a video plays in, and its media side: a frame window "Recorder Video" holding
// the drawing child "Video" and a trackbar (made by a window system the program plugs in),
// the frame timer thread that paces decoding, FFmpeg opening, decoding, scaling to 32-bit
// BGRA and seeking, and the sound played through a voice on the chosen output.
//
// Threading: public operations are called on the GUI thread (Create, destruction) or by the
// video manager on its caller's thread; decoding runs on the first executor, drawing on the
// second, buffer ends on the voice's thread. The decode lock serialises every FFmpeg call;
// the frame lock guards the frame bitmap; the drawing lock (base) the back buffer. No widget
// is touched here: the frame host posts its work to the GUI thread.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread_queue.h"
#include "platform/waitable_timer.h"
#include "video/d2d_ability.h"
#include "video/executor_thread.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;

namespace vts {

class CSoundWorksWAS;
struct EngineStateBlock;
class VideoVoice;
struct VoiceBuffer;
namespace audio {
class EndpointBackend;
}

constexpr std::uint32_t WM_HSCROLL = 0x0114;
constexpr int TB_THUMBTRACK = 5;
constexpr int TB_ENDTRACK = 8;
constexpr int kTrackbarHeight = 40;
constexpr int kVideoFrameHeight = 400;
constexpr int kTrackbarMax = 1000;
constexpr int kTrackbarPage = 20;

inline constexpr char kOpenFailedText[] = "Could not open video file.";
inline constexpr char kNoStreamInfoText[] = "Could not retrieve stream info.";
inline constexpr char kNoStreamsText[] = "Could not find both video and audio streams.";
// Frames with a side over this are refused: one such frame alone would take gigabytes.
constexpr int kMaxFrameSide = 8192;
inline constexpr char kFramesTooLargeText[] =
    "The video's pictures are too large to be shown (more than 8192 pixels wide or high).";

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
};

// The frame window with its drawing child and trackbar, as the window system made it.
// Every call may come from any thread; the host posts widget work to the GUI thread.
class IVideoFrameHost : public IDrawTarget {
 public:
  virtual void ShowAndRaise() = 0;
  // The trackbar's position (0 ... 1000): set posted, read at once from the last value set
  // or dragged.
  virtual void SetTrackbarPos(int pos) = 0;
  virtual int TrackbarPos() const = 0;
};

class CVideoSiteWindow;

// Makes the windows; the program plugs in the Qt one, tests and headless runs a plain one.
class IVideoWindowSystem {
 public:
  virtual ~IVideoWindowSystem() = default;
  // The dialog's window rectangle; false without a dialog.
  virtual bool OwnerRect(void* owner, WindowRect* rect) = 0;
  virtual void MoveOwner(void* owner, int x, int y) = 0;
  // The screen area the windows are kept on (empty: no limit).
  virtual WindowRect ScreenRect(void* owner) = 0;
  // Makes the hidden frame at (x, y), width × height, with the child and the trackbar; the
  // host calls site.Resize with the drawing child's size and forwards the trackbar's scroll
  // codes to site.HelperThreadId() as WM_HSCROLL. Null when the frame cannot be made.
  virtual std::unique_ptr<IVideoFrameHost> CreateFrame(CVideoSiteWindow& site, void* owner, int x,
                                                       int y, int width, int height) = 0;
};

// A window system without windows: a trackbar value and a back buffer, nothing shown.
std::shared_ptr<IVideoWindowSystem> HeadlessVideoWindowSystem();

// Where a frame of bw × bh is drawn in a target of tw × th: aspect kept, centred, single
// precision.
struct FloatRect {
  float left = 0, top = 0, right = 0, bottom = 0;
};
FloatRect LetterboxRect(float bw, float bh, float tw, float th);

// The size of a width × height picture scaled down, its shape kept, to fit within `bound`
// (unchanged when it fits).
QSize FitWithin(int width, int height, QSize bound);

// Frame interval in 100-ns units from a frame rate: (10,000,000 ÷ num) × den; a rate of 0 or
// outside 1 ... 240 fps falls back to `fallbackNum/fallbackDen`, then to 25 fps.
std::int64_t FrameInterval100ns(int num, int den, int fallbackNum, int fallbackDen);

// The frames' halted flag: a byte any thread sets and reads. While it is set nothing is
// decoded on the frame clock, which then sleeps; letting the frames run wakes it.
class HaltedFlag {
 public:
  std::uint8_t load() const { return value_.load(); }
  void store(std::uint8_t v) {
    if (value_.exchange(v) != 0 && v == 0 && onRun_) onRun_();
  }
  HaltedFlag& operator=(std::uint8_t v) {
    store(v);
    return *this;
  }
  // Set once, before any thread uses the flag.
  void SetOnRun(std::function<void()> onRun) { onRun_ = std::move(onRun); }

 private:
  std::atomic<std::uint8_t> value_{1};
  std::function<void()> onRun_;
};

class CVideoSiteWindow : public D2DAbility {
 public:
  // `backend` gives the voice its output endpoint (null: the process's backend).
  CVideoSiteWindow(CSoundWorksWAS* engine, EngineStateBlock* state,
                   std::shared_ptr<audio::EndpointBackend> backend = nullptr);
  ~CVideoSiteWindow() override;

  bool Create(IVideoWindowSystem& windows, void* owner, int x, int y, int width, int, int,
              plat::ThreadId helperThreadId);
  IVideoFrameHost* Frame() const { return frame_.get(); }
  plat::ThreadId HelperThreadId() const { return helperThreadId_; }

  // The output the voice opens on; set before the open, or later by SetOutputDevice.
  std::u16string outputDeviceName;
  // Moves the sound to another output: on the first executor, after the jobs queued before;
  // an open video's voice is made again there and the sound goes on from the picture's
  // position.
  void SetOutputDevice(const std::u16string& id);

  // Queues the open job; `completion` runs on the first executor once it ends, opened or not.
  void OpenSourceFileName(const std::string& path, std::function<void()> completion);
  // Positions the file at `ms` from the video's start: the next drawn frame is the one
  // showing at that time (earlier frames are decoded, not drawn). Flushes and stops the voice.
  void SeekMs(std::uint32_t ms);
  // The trackbar's seek: drops waiting jobs when more than one waits, then queues a seek and
  // the decoding of the frame there.
  void SetTime(std::uint32_t ms);
  // While the frames are halted: queues the seek to `ms` and the drawing of the frame there,
  // so that the picture shows the time the display names (after a stop or a chunk step).
  void ShowFrameAt(std::uint32_t ms);
  // 1: until sound was submitted; 2: until a frame was queued for drawing; else to the end.
  void DecodeNext(int mode);
  void DecodeRunning(int mode);

  bool IsOpen() const { return open_.load(); }
  const std::string& OpenError() const { return openError_; }
  // The container's duration in microseconds (0 when none is open).
  std::int64_t DurationUs() const { return durationUs_; }
  // The position in ms from the video's start of the frame on show (what the voice plays
  // along with); a seek sets it to the time sought.
  std::int64_t PositionMs();
  // Sound handed to a playing voice and not yet heard, in ms (0 without one).
  std::int64_t SoundInHandMs() const;
  // True once the end of the file was read and drained (cleared by a seek).
  bool EndOfFile() const { return eof_.load(); }
  std::int64_t FrameInterval() const { return frameInterval_; }
  int VideoTimeBaseNum() const { return tbNum_; }
  int VideoTimeBaseDen() const { return tbDen_; }

  HaltedFlag halted;
  // The voice, when there is one (none without a sound server or device).
  void StopVoice();
  bool HasVoice() const;
  VideoVoice* Voice() const { return voicePtr_.load(); }
  // The voice while its endpoint is there; null without one, or once it went away.
  VideoVoice* LiveVoice() const;
  std::uint32_t QueuedSoundBuffers() const { return queuedBuffers_.load(); }
  // Sound frames handed to the voice since the open.
  std::uint64_t SoundFramesSubmitted() const { return soundFramesSubmitted_.load(); }
  ExecutorThread& FirstExecutor() { return *first_; }
  ExecutorThread& SecondExecutor() { return *second_; }

  // The new back buffer shows the last frame at once, also while the frames are halted.
  void Resize(int width, int height) override;

  // Drawing: copies the BGRA frame into the frame bitmap (reused while its size holds) and
  // runs one drawing cycle. Runs on the second executor.
  void ShowFrame(const std::uint8_t* pixels, int width, int height, int stride);
  // Frame bitmap identity and counts, for tests and benchmarks.
  std::int64_t FrameBitmapKey();
  QSize FrameBitmapSize();
  std::uint64_t FramesDrawn() const { return framesDrawn_.load(); }
  // Frame number hook: called on the drawing thread with each drawn frame's position (ms).
  std::function<void(std::int64_t positionMs)> onFrameDrawn;
  // Sound hook: called on the decoding thread with each buffer before the voice takes it.
  std::function<void(const VoiceBuffer&)> onSoundSubmitted;

 protected:
  void Draw() override;

 private:
  void OpenJob(std::function<void()> completion);
  void WaitDrawingDone();  // on the first executor: the frames queued for drawing are drawn
  bool OpenMediaStreams();
  void CloseMediaStreams();
  std::unique_ptr<VideoVoice> MakeVoice();  // on the output device name; null without one
  void TimerThreadFunc();
  bool ReceiveVideo(bool* drew);
  // A decoded frame's presentation time in the video's time base (no stamp: AV_NOPTS_VALUE).
  std::int64_t PresentationPts(const AVFrame* frame) const;
  bool ReceiveSound(bool* gotSound);
  // Silence for the voice over [fromMs, toMs) of the timeline (a hole in the file's sound).
  void SubmitSilence(std::int64_t fromMs, std::int64_t toMs);
  void OnBufferEnd(std::unique_ptr<VoiceBuffer> buffer);
  // Decodes up to the next sounds until the voice holds a comfortable lead.
  void FillSound();
  // On the drawing thread: waits (bounded) until the voice plays the frame's time.
  void WaitForVoice(std::int64_t positionMs);

  std::shared_ptr<audio::EndpointBackend> backend_;
  std::unique_ptr<IVideoFrameHost> frame_;
  plat::ThreadId helperThreadId_ = 0;
  bool created_ = false;

  std::recursive_mutex decodeLock_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* videoCodec_ = nullptr;
  AVCodecContext* soundCodec_ = nullptr;
  AVFrame* videoFrame_ = nullptr;
  AVFrame* soundFrame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  struct ScalerKey {
    int width = 0, height = 0, format = -1, outWidth = 0, outHeight = 0;
    bool operator==(const ScalerKey&) const = default;
  } scalerKey_;
  SwrContext* resampler_ = nullptr;
  int videoIndex_ = -1;
  int soundIndex_ = -1;
  std::int64_t currentPts_ = 0;
  std::int64_t startPts_ = 0;
  std::int64_t soundStartPts_ = 0;
  std::int64_t seekTargetPts_ = INT64_MIN;  // frames before it are decoded, not drawn
  std::int64_t nextSoundMs_ = 0;
  int tbNum_ = 1, tbDen_ = 1;
  bool decodeOrderStamps_ = false;  // the container stamps frames in decode order
  std::atomic<int> quarterTurns_{0};  // of the picture as shown, counterclockwise
  int sampleRate_ = 0;
  std::int64_t durationUs_ = 0;
  bool drained_ = false;
  bool showingHalted_ = false;  // the decoding thread's: a ShowFrameAt job decodes
  bool runningJob_ = false;  // the decoding thread's: a job the frame clock posted decodes
  std::atomic<bool> eof_{false};
  std::atomic<bool> open_{false};
  std::atomic<std::int64_t> shownMs_{0};
  // A seek changes the generation and the position together under it; a drawn frame sets its
  // position only while its generation still holds.
  std::mutex positionLock_;
  std::atomic<std::int64_t> decodedMs_{0};  // the newest frame queued for drawing
  std::atomic<std::uint32_t> seekGeneration_{0};
  std::string openError_;
  std::unique_ptr<VideoVoice> voice_;  // made by the open job, destroyed by the destructor
  std::atomic<VideoVoice*> voicePtr_{nullptr};
  // Voices of outputs left behind: retired, and kept until the window goes, since other
  // threads may still hold them.
  std::vector<std::unique_ptr<VideoVoice>> retiredVoices_;
  std::atomic<std::uint32_t> queuedBuffers_{0};
  std::atomic<std::uint64_t> soundFramesSubmitted_{0};

  std::unique_ptr<ExecutorThread> first_;
  std::unique_ptr<ExecutorThread> second_;
  std::string mediaPath_;

  // The frame timer, a timer of its own for each window, armed on absolute deadlines.
  plat::WaitableTimer frameTimer_{"FrameRate Timer"};
  std::atomic<std::int64_t> frameInterval_{0};
  std::atomic<std::int64_t> deadlineNs_{0};  // the next tick, the timer thread's
  std::atomic<bool> run_{true};
  std::thread timerThread_;

  std::recursive_mutex frameLock_;
  QImage frameBitmap_;
  QSize maxFrameSize_{3840, 2160};  // set by Create, read by the decoding
  std::atomic<std::uint64_t> drawTarget_{0};  // the back buffer's width << 32 | height
  // The size a picture of width x height (as shown) is drawn at in the back buffer.
  QSize DrawnSize(int width, int height) const;
  std::atomic<std::uint64_t> framesDrawn_{0};
};

}  // namespace vts
