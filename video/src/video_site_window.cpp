// The video window's threads, drawing and media side (FFmpeg decoding, seeking, sound).
#include "video/video_site_window.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "audio/endpoint.h"
#include "platform/utf.h"
#include "video/video_voice.h"

namespace vts {

namespace {

// What a decoder may allocate for one frame, as its "max_pixels" option: the bound's square.
const char* const kMaxFramePixels = "67108864";
static_assert(67108864LL == std::int64_t(kMaxFrameSide) * kMaxFrameSide);

// Sound in hand (voice queue and endpoint) below which the decoding reads on for sound, and
// up to which it then reads.
constexpr std::int64_t kSoundLowMs = 150;
constexpr std::int64_t kSoundTargetMs = 250;
// Frames waiting to be drawn beyond which the frame clock decodes no further: reading that
// far ahead also brings the sound that MPEG program streams carry well behind the picture
// (fewer starve the voice there); at the drawn size they cost little.
constexpr std::size_t kFramesAhead = 8;

void LogOpenFailure(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

// The headless frame: a trackbar value and presents that always succeed.
class HeadlessFrame : public IVideoFrameHost {
 public:
  bool Present() override { return true; }
  void ShowAndRaise() override {}
  void SetTrackbarPos(int pos) override { pos_.store(pos); }
  int TrackbarPos() const override { return pos_.load(); }

 private:
  std::atomic<int> pos_{0};
};

class HeadlessSystem : public IVideoWindowSystem {
 public:
  bool OwnerRect(void*, WindowRect*) override { return false; }
  void MoveOwner(void*, int, int) override {}
  WindowRect ScreenRect(void*) override { return {}; }
  std::unique_ptr<IVideoFrameHost> CreateFrame(CVideoSiteWindow& site, void*, int, int, int width,
                                               int height) override {
    auto frame = std::make_unique<HeadlessFrame>();
    site.SetTarget(frame.get());
    site.Resize(width > 0 ? width : 640, height - kTrackbarHeight);
    return frame;
  }
};

}  // namespace

std::shared_ptr<IVideoWindowSystem> HeadlessVideoWindowSystem() {
  return std::make_shared<HeadlessSystem>();
}

FloatRect LetterboxRect(float bw, float bh, float tw, float th) {
  if (bw <= 0 || bh <= 0 || tw <= 0 || th <= 0) return {};
  const float a = bw / bh;
  if (a > tw / th) {
    const float height = tw / a;
    const float top = (th - height) * 0.5f;
    return {0.0f, top, tw, top + height};
  }
  const float width = th * a;
  const float left = (tw - width) * 0.5f;
  return {left, 0.0f, left + width, th};
}

QSize FitWithin(int width, int height, QSize bound) {
  if (width <= bound.width() && height <= bound.height()) return {width, height};
  const double scale = std::min(double(bound.width()) / width, double(bound.height()) / height);
  return {std::max(2, int(std::lround(width * scale))), std::max(2, int(std::lround(height * scale)))};
}

std::int64_t FrameInterval100ns(int num, int den, int fallbackNum, int fallbackDen) {
  auto usable = [](int n, int d) { return n > 0 && d > 0 && n <= 240LL * d && n >= d; };
  if (!usable(num, den)) {
    num = fallbackNum;
    den = fallbackDen;
    if (!usable(num, den)) num = 25, den = 1;
  }
  return std::int64_t(10'000'000 / num) * den;
}

CVideoSiteWindow::CVideoSiteWindow(CSoundWorksWAS*, EngineStateBlock*,
                                   std::shared_ptr<audio::EndpointBackend> backend)
    : backend_(backend ? std::move(backend) : audio::DefaultBackend()) {
  halted.SetOnRun([this] { frameTimer_.Wake(); });
  first_ = std::make_unique<ExecutorThread>(1);
  second_ = std::make_unique<ExecutorThread>(1);
  timerThread_ = std::thread([this] { TimerThreadFunc(); });
}

CVideoSiteWindow::~CVideoSiteWindow() {
  run_.store(false);
  frameTimer_.Wake();
  if (timerThread_.joinable()) timerThread_.join();
  // Nothing new is queued now; the executors' destruction joins their workers after the
  // job that runs (jobs still waiting are dropped, as none is needed any more).
  halted.store(1);
  // The running jobs end; a late buffer end only queues into the stopped executor.
  first_->Stop();
  second_->Stop();
  voicePtr_.store(nullptr);
  voice_.reset();
  retiredVoices_.clear();
  first_.reset();
  second_.reset();
  if (created_) CloseMediaStreams();
  SetTarget(nullptr);
  frame_.reset();
}

bool CVideoSiteWindow::Create(IVideoWindowSystem& windows, void* owner, int x, int y, int width,
                              int, int, plat::ThreadId helperThreadId) {
  helperThreadId_ = helperThreadId;
  // No frame needs more pixels than the screen has (a maximised window); without a known
  // screen, those of a 4K one.
  const WindowRect screen = windows.ScreenRect(owner);
  maxFrameSize_ = screen.Width() > 0 && screen.bottom > screen.top
                      ? QSize(std::max(screen.Width(), 640), std::max(screen.bottom - screen.top, 360))
                      : QSize(3840, 2160);
  frame_ = windows.CreateFrame(*this, owner, x, y, width, kVideoFrameHeight);
  if (!frame_) return false;
  SetTarget(frame_.get());
  frame_->SetTrackbarPos(0);
  created_ = true;
  return true;
}

// ---- opening ----

void CVideoSiteWindow::OpenSourceFileName(const std::string& path,
                                          std::function<void()> completion) {
  mediaPath_ = path;
  first_->Post([this, completion = std::move(completion)] { OpenJob(completion); });
}

void CVideoSiteWindow::OpenJob(std::function<void()> completion) {
  if (OpenMediaStreams()) {
    halted.store(1);  // the frame clock starts when the frames are let run
    open_.store(true);
    // The first frame is on show before the open is told: the window is never black.
    DecodeNext(2);
    WaitDrawingDone();
  }
  if (completion) completion();
}

void CVideoSiteWindow::WaitDrawingDone() {
  // Bounded, and given up when the window goes (its drawing jobs are then dropped).
  auto done = std::make_shared<std::atomic<bool>>(false);
  second_->Post([done] { done->store(true); });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done->load() && run_.load() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void CVideoSiteWindow::ShowFrameAt(std::uint32_t ms) {
  first_->Post([this, ms] {
    if (halted.load() == 0) return;  // running frames show themselves
    // The frame is shown as a halted one even when a play starts meanwhile: drawn at once,
    // and its sound does not start the voice (the play seeks again).
    showingHalted_ = true;
    SeekMs(ms);
    DecodeNext(2);
    showingHalted_ = false;
  });
}

bool CVideoSiteWindow::OpenMediaStreams() {
  std::lock_guard lock(decodeLock_);
  auto fail = [this](const char* text) {
    openError_ = text;
    LogOpenFailure(text);
    CloseMediaStreams();
    return false;
  };
  if (avformat_open_input(&format_, mediaPath_.c_str(), nullptr, nullptr) != 0) {
    format_ = nullptr;
    return fail(kOpenFailedText);
  }
  // Frames over the bound are refused before anything decodes them: by the sizes the
  // container states, and the decoders (also those that probe the streams) take no larger.
  auto tooLarge = [this] {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      const AVCodecParameters* p = format_->streams[i]->codecpar;
      if (p->codec_type == AVMEDIA_TYPE_VIDEO &&
          (p->width > kMaxFrameSide || p->height > kMaxFrameSide))
        return true;
    }
    return false;
  };
  if (tooLarge()) return fail(kFramesTooLargeText);
  std::vector<AVDictionary*> probeOptions(format_->nb_streams, nullptr);
  for (AVDictionary*& d : probeOptions) av_dict_set(&d, "max_pixels", kMaxFramePixels, 0);
  const int found = avformat_find_stream_info(format_, probeOptions.data());
  for (AVDictionary*& d : probeOptions) av_dict_free(&d);
  if (found < 0) return fail(kNoStreamInfoText);
  if (tooLarge()) return fail(kFramesTooLargeText);
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    const AVMediaType type = format_->streams[i]->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO && videoIndex_ < 0) videoIndex_ = int(i);
    if (type == AVMEDIA_TYPE_AUDIO && soundIndex_ < 0) soundIndex_ = int(i);
  }
  if (videoIndex_ < 0 || soundIndex_ < 0) return fail(kNoStreamsText);

  auto openCodec = [](AVStream* s) -> AVCodecContext* {
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    if (!codec) return nullptr;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    if (avcodec_parameters_to_context(c, s->codecpar) < 0) {
      avcodec_free_context(&c);
      return nullptr;
    }
    // Decoder threads: a seek decodes every frame from the keyframe before it.
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      c->thread_count = 3;  // seeks need the speed; more threads cost more than they give
      c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "max_pixels", kMaxFramePixels, 0);
    const int opened = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
      avcodec_free_context(&c);
      return nullptr;
    }
    return c;
  };
  AVStream* vs = format_->streams[videoIndex_];
  AVStream* as = format_->streams[soundIndex_];
  videoCodec_ = openCodec(vs);
  soundCodec_ = openCodec(as);
  // A stream without a decoder here is as good as missing.
  if (!videoCodec_ || !soundCodec_) return fail(kNoStreamsText);

  // Sound: 16-bit stereo at the stream's own rate; no layout given: the default for the count.
  sampleRate_ = soundCodec_->sample_rate;
  AVChannelLayout inLayout{};
  if (soundCodec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
      soundCodec_->ch_layout.nb_channels <= 0)
    av_channel_layout_default(&inLayout, std::max(1, soundCodec_->ch_layout.nb_channels));
  else
    av_channel_layout_copy(&inLayout, &soundCodec_->ch_layout);
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  int rc = swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, sampleRate_, &inLayout,
                               soundCodec_->sample_fmt, sampleRate_, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (rc < 0 || swr_init(resampler_) < 0) swr_free(&resampler_);  // the video plays silent

  videoFrame_ = av_frame_alloc();
  soundFrame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!videoFrame_ || !soundFrame_ || !packet_) return fail(kOpenFailedText);

  tbNum_ = vs->time_base.num;
  tbDen_ = std::max(1, vs->time_base.den);
  startPts_ = vs->start_time != AV_NOPTS_VALUE ? vs->start_time
              : format_->start_time != AV_NOPTS_VALUE
                  ? av_rescale_q(format_->start_time, AVRational{1, AV_TIME_BASE}, vs->time_base)
                  : 0;
  // One timeline for picture and sound: both count from the first frame's time. Sound that
  // starts later (after an edit, in phone and camera files) keeps its distance from it.
  soundStartPts_ = av_rescale_q(startPts_, vs->time_base, as->time_base);
  currentPts_ = startPts_;
  // A display matrix turns the picture (a phone held upright): in quarters counterclockwise.
  int turns = 0;
  if (const std::uint8_t* matrix = av_stream_get_side_data(vs, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
    const double degrees = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    if (std::isfinite(degrees)) turns = int(((std::lround(degrees / 90.0) % 4) + 4) % 4);
  }
  quarterTurns_.store(turns);
  // AVI keeps no presentation times: its stamps are the frames' places in decode order.
  decodeOrderStamps_ = std::strcmp(format_->iformat->name, "avi") == 0;
  durationUs_ = format_->duration != AV_NOPTS_VALUE ? format_->duration : 0;
  frameInterval_.store(FrameInterval100ns(vs->avg_frame_rate.num, vs->avg_frame_rate.den,
                                          vs->r_frame_rate.num, vs->r_frame_rate.den));
  frameTimer_.Wake();  // frames let run before the rate was known start on it

  if (sampleRate_ > 0 && resampler_) {
    voice_ = MakeVoice();
    voicePtr_.store(voice_.get());  // published to the other threads once it is whole
  }
  return true;
}

std::unique_ptr<VideoVoice> CVideoSiteWindow::MakeVoice() {
  return VideoVoice::Create(backend_, plat::Utf16ToUtf8(outputDeviceName),
                            std::uint32_t(sampleRate_),
                            [this](std::unique_ptr<VoiceBuffer> b) { OnBufferEnd(std::move(b)); });
}

void CVideoSiteWindow::SetOutputDevice(const std::u16string& id) {
  first_->Post([this, id] {
    std::lock_guard lock(decodeLock_);
    if (id == outputDeviceName) return;
    outputDeviceName = id;
    if (!format_ || sampleRate_ <= 0 || !resampler_) return;
    if (VideoVoice* old = voicePtr_.load()) old->Retire();  // its buffers come back now
    std::unique_ptr<VideoVoice> fresh = MakeVoice();
    voicePtr_.store(fresh.get());
    if (voice_) retiredVoices_.push_back(std::move(voice_));
    voice_ = std::move(fresh);
    // What the old output still had to play is gone: the sound goes on from the frame on
    // show (playing, the frames' clock takes it from there).
    SeekMs(std::uint32_t(std::max<std::int64_t>(shownMs_.load(), 0)));
  });
}

void CVideoSiteWindow::CloseMediaStreams() {
  halted.store(1);
  voicePtr_.store(nullptr);
  voice_.reset();
  std::lock_guard lock(decodeLock_);
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  swr_free(&resampler_);
  avcodec_free_context(&videoCodec_);
  avcodec_free_context(&soundCodec_);
  if (format_) avformat_close_input(&format_);
  av_frame_free(&videoFrame_);
  av_frame_free(&soundFrame_);
  av_packet_free(&packet_);
  videoIndex_ = soundIndex_ = -1;
  open_.store(false);
}

// ---- positions and seeking ----

std::int64_t CVideoSiteWindow::PositionMs() { return shownMs_.load(); }

std::int64_t CVideoSiteWindow::SoundInHandMs() const {
  VideoVoice* v = LiveVoice();
  return v && v->Started() ? v->BufferedMs() : 0;
}

void CVideoSiteWindow::SeekMs(std::uint32_t ms) {
  {
    std::lock_guard lock(decodeLock_);
    if (!format_ || videoIndex_ < 0) return;
    AVStream* vs = format_->streams[videoIndex_];
    const std::int64_t target =
        startPts_ + av_rescale_q_rnd(ms, AVRational{1, 1000}, vs->time_base, AV_ROUND_DOWN);
    // Backward to the keyframe at or before the target; the frames up to it are decoded
    // and not drawn. Containers without an index (MPEG program streams) may land after the
    // target: then the seek goes further back until the first video packet is not later.
    std::int64_t probe = target;
    const std::int64_t second = av_rescale_q(1, AVRational{1, 1}, vs->time_base);
    for (int attempt = 0; attempt < 6; ++attempt) {
      if (av_seek_frame(format_, videoIndex_, probe, AVSEEK_FLAG_BACKWARD) < 0) break;
      std::int64_t first = AV_NOPTS_VALUE;
      for (int n = 0; n < 4096 && av_read_frame(format_, packet_) >= 0; ++n) {
        const bool video = packet_->stream_index == videoIndex_;
        if (video) first = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        av_packet_unref(packet_);
        if (video) break;
      }
      if (first == AV_NOPTS_VALUE || first <= target || probe < startPts_ - second) {
        av_seek_frame(format_, videoIndex_, probe, AVSEEK_FLAG_BACKWARD);
        break;
      }
      probe -= second << attempt;
    }
    currentPts_ = target;
    seekTargetPts_ = target;
    {
      std::lock_guard position(positionLock_);
      ++seekGeneration_;  // frames decoded before this seek are not drawn any more
      shownMs_.store(ms);
    }
    decodedMs_.store(ms);
    nextSoundMs_ = ms;
    avcodec_flush_buffers(videoCodec_);
    avcodec_flush_buffers(soundCodec_);
    drained_ = false;
    eof_.store(false);
  }
  if (VideoVoice* v = Voice()) {
    v->FlushSourceBuffers();
    v->Stop();
  }
}

void CVideoSiteWindow::SetTime(std::uint32_t ms) {
  if (first_->QueuedCount() > 1) first_->ClearQueue();
  first_->Post([this, ms] {
    SeekMs(ms);
    DecodeNext(2);
  });
}

void CVideoSiteWindow::StopVoice() {
  if (VideoVoice* v = Voice()) v->Stop();
}

VideoVoice* CVideoSiteWindow::LiveVoice() const {
  VideoVoice* v = voicePtr_.load();
  return v && !v->Lost() ? v : nullptr;
}

bool CVideoSiteWindow::HasVoice() const { return Voice() != nullptr; }

// ---- decoding ----

std::int64_t CVideoSiteWindow::PresentationPts(const AVFrame* frame) const {
  const std::int64_t best = frame->best_effort_timestamp;
  if (decodeOrderStamps_) {
    // The stamps count frames in decode order: a frame comes out of a decoder that reorders
    // as many frames later as the decoder holds back, and its time is that much earlier.
    if (best == AV_NOPTS_VALUE) return best;
    const std::int64_t frameLength =
        av_rescale_q(frameInterval_.load(), AVRational{1, 10'000'000}, AVRational{tbNum_, tbDen_});
    return best - std::int64_t(std::max(videoCodec_->has_b_frames, 0)) * frameLength;
  }
  return frame->pts != AV_NOPTS_VALUE ? frame->pts : best;
}

bool CVideoSiteWindow::ReceiveVideo(bool* drew) {
  bool any = false;
  while (avcodec_receive_frame(videoCodec_, videoFrame_) >= 0) {
    any = true;
    const std::int64_t pts = PresentationPts(videoFrame_);
    // A frame that ends before the sought time is decoded, not drawn.
    const std::int64_t frameLength =
        av_rescale_q(frameInterval_.load(), AVRational{1, 10'000'000}, AVRational{tbNum_, tbDen_});
    const bool early = pts != AV_NOPTS_VALUE && seekTargetPts_ != INT64_MIN &&
                       pts + std::max<std::int64_t>(frameLength, 1) <= seekTargetPts_;
    if (!early) {
      if (pts != AV_NOPTS_VALUE) currentPts_ = pts;  // no stamp: the last position holds
      seekTargetPts_ = INT64_MIN;
      const int w = videoFrame_->width, h = videoFrame_->height;
      // The picture's shape as shown: its pixels' aspect (a PAL 16:9 frame is 720 x 576).
      const AVRational sar =
          av_guess_sample_aspect_ratio(format_, format_->streams[videoIndex_], videoFrame_);
      const int dw = sar.num > 0 && sar.den > 0
                         ? std::max(2, int(std::min<std::int64_t>(
                                           av_rescale(w, sar.num, sar.den), kMaxFrameSide)))
                         : w;
      const bool turned = quarterTurns_.load() % 2 != 0;
      // Scaled once, to the size it is drawn at in the back buffer (no larger than the
      // screen); the drawing then only copies it.
      QSize shown = DrawnSize(turned ? h : dw, turned ? dw : h);
      if (turned) shown.transpose();
      // Made again only when the sizes or the format change. The full-range formats of
      // JPEG-coded video are taken as their plain ones with the full range set: the scaler
      // swaps them itself, so its own cache would make a new scaler for every frame.
      const ScalerKey key{w, h, videoFrame_->format, shown.width(), shown.height()};
      if (!scaler_ || !(key == scalerKey_)) {
        sws_freeContext(scaler_);
        AVPixelFormat in = AVPixelFormat(videoFrame_->format);
        bool fullRange = videoFrame_->color_range == AVCOL_RANGE_JPEG;
        switch (in) {
          case AV_PIX_FMT_YUVJ420P: in = AV_PIX_FMT_YUV420P; fullRange = true; break;
          case AV_PIX_FMT_YUVJ422P: in = AV_PIX_FMT_YUV422P; fullRange = true; break;
          case AV_PIX_FMT_YUVJ444P: in = AV_PIX_FMT_YUV444P; fullRange = true; break;
          case AV_PIX_FMT_YUVJ440P: in = AV_PIX_FMT_YUV440P; fullRange = true; break;
          default: break;
        }
        scaler_ = sws_getContext(w, h, in, shown.width(), shown.height(), AV_PIX_FMT_BGRA,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_ && fullRange) {
          const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
          sws_setColorspaceDetails(scaler_, coefficients, 1, coefficients, 1, 0, 1 << 16,
                                   1 << 16);
        }
        scalerKey_ = key;
      }
      AVFrame* out = w > kMaxFrameSide || h > kMaxFrameSide ? nullptr : av_frame_alloc();
      if (scaler_ && out) {
        out->format = AV_PIX_FMT_BGRA;
        out->width = shown.width();
        out->height = shown.height();
        if (av_frame_get_buffer(out, 0) >= 0) {
          sws_scale(scaler_, videoFrame_->data, videoFrame_->linesize, 0, h, out->data,
                    out->linesize);
          const std::int64_t posMs =
              std::max<std::int64_t>(currentPts_ - startPts_, 0) * 1000 * tbNum_ / tbDen_;
          const std::uint32_t generation = seekGeneration_.load();
          const bool running = (runningJob_ || halted.load() == 0) && !showingHalted_;
          decodedMs_.store(posMs);
          // The drawing job owns the frame: freed when it ran, or when it is dropped unrun.
          std::shared_ptr<AVFrame> frame(out, [](AVFrame* f) { av_frame_free(&f); });
          second_->Post([this, frame, posMs, generation, running, shown = showingHalted_] {
            if (!shown) WaitForVoice(posMs);
            // A frame decoded ahead that the halt let through before its sound came is not
            // shown: the picture stays with what was heard (a seek while halted shows its own).
            if (running && halted.load() != 0) return;
            if (generation == seekGeneration_.load()) {
              ShowFrame(frame->data[0], frame->width, frame->height, frame->linesize[0]);
              {
                // A seek while it was drawn has set the position: this frame's is stale.
                std::lock_guard position(positionLock_);
                if (generation == seekGeneration_.load()) shownMs_.store(posMs);
              }
              if (onFrameDrawn) onFrameDrawn(posMs);
            }
          });
          out = nullptr;
          *drew = true;
        }
      }
      if (out) av_frame_free(&out);
    }
    av_frame_unref(videoFrame_);
  }
  return any;
}

bool CVideoSiteWindow::ReceiveSound(bool* gotSound) {
  bool any = false;
  AVStream* as = format_->streams[soundIndex_];
  while (avcodec_receive_frame(soundCodec_, soundFrame_) >= 0) {
    any = true;
    const int n = soundFrame_->nb_samples;
    std::int64_t ms = nextSoundMs_;
    if (soundFrame_->best_effort_timestamp != AV_NOPTS_VALUE)
      ms = av_rescale_q(soundFrame_->best_effort_timestamp - soundStartPts_, as->time_base,
                        AVRational{1, 1000});
    const std::int64_t previousEndMs = nextSoundMs_;
    nextSoundMs_ = ms + (sampleRate_ > 0 ? std::int64_t(n) * 1000 / sampleRate_ : 0);
    const std::int64_t targetMs =
        seekTargetPts_ == INT64_MIN
            ? INT64_MIN
            : std::max<std::int64_t>(seekTargetPts_ - startPts_, 0) * 1000 * tbNum_ / tbDen_;
    if (Voice() && resampler_ && n > 0 && nextSoundMs_ > targetMs) {
      // Sound that starts after the picture (or resumes after a hole) is preceded by silence,
      // so that what is heard keeps to the file's timeline from the first frame on.
      SubmitSilence(std::max(previousEndMs, targetMs), ms);
      auto buffer = std::make_unique<VoiceBuffer>();
      const int room = swr_get_out_samples(resampler_, n);
      buffer->samples.resize(std::size_t(std::max(room, n)) * 2);
      auto* out = reinterpret_cast<std::uint8_t*>(buffer->samples.data());
      const int got = swr_convert(resampler_, &out, std::max(room, n),
                                  const_cast<const std::uint8_t**>(soundFrame_->extended_data), n);
      if (got > 0) {
        buffer->samples.resize(std::size_t(got) * 2);  // what the conversion gave, no more
        buffer->startMs = ms;
        soundFramesSubmitted_ += std::uint64_t(got);
        if (onSoundSubmitted) onSoundSubmitted(*buffer);
        const std::uint32_t count = ++queuedBuffers_;
        Voice()->SubmitSourceBuffer(std::move(buffer));
        // A halted video stays silent.
        if (count > 2 && halted.load() == 0 && !showingHalted_) Voice()->Start();
        *gotSound = true;
      }
    }
    av_frame_unref(soundFrame_);
  }
  return any;
}

void CVideoSiteWindow::SubmitSilence(std::int64_t fromMs, std::int64_t toMs) {
  // Holes shorter than this are the stamps' rounding; longer ones than the cap are sound that
  // stopped, not a late start: the picture then goes on by itself (WaitForVoice).
  constexpr std::int64_t kMinHoleMs = 10, kMaxHoleMs = 10'000, kPieceMs = 100;
  if (toMs - fromMs < kMinHoleMs || toMs - fromMs > kMaxHoleMs || sampleRate_ <= 0) return;
  for (std::int64_t at = fromMs; at < toMs; at += kPieceMs) {
    auto buffer = std::make_unique<VoiceBuffer>();
    const std::int64_t frames = std::min(kPieceMs, toMs - at) * sampleRate_ / 1000;
    buffer->samples.assign(std::size_t(frames) * 2, 0);
    buffer->startMs = at;
    soundFramesSubmitted_ += std::uint64_t(frames);
    if (onSoundSubmitted) onSoundSubmitted(*buffer);
    ++queuedBuffers_;
    Voice()->SubmitSourceBuffer(std::move(buffer));
  }
}

void CVideoSiteWindow::DecodeNext(int mode) {
  std::lock_guard lock(decodeLock_);
  if (!format_ || !packet_) return;
  for (;;) {
    bool drew = false, gotSound = false;
    if (av_read_frame(format_, packet_) < 0) {
      // End of file: the decoders give what they still hold, once.
      if (!drained_) {
        drained_ = true;
        avcodec_send_packet(videoCodec_, nullptr);
        ReceiveVideo(&drew);
        avcodec_send_packet(soundCodec_, nullptr);
        ReceiveSound(&gotSound);
      }
      // What is queued plays out even when fewer buffers than the start threshold are left.
      if (Voice() && queuedBuffers_.load() > 0 && halted.load() == 0) Voice()->Start();
      eof_.store(true);
      return;
    }
    // Send and receive: a packet may give no frame or several; a decoder that is full
    // gives its frames first and then takes the packet.
    if (packet_->stream_index == videoIndex_) {
      int rc = avcodec_send_packet(videoCodec_, packet_);
      ReceiveVideo(&drew);
      if (rc == AVERROR(EAGAIN) && avcodec_send_packet(videoCodec_, packet_) >= 0)
        ReceiveVideo(&drew);
    } else if (packet_->stream_index == soundIndex_) {
      int rc = avcodec_send_packet(soundCodec_, packet_);
      ReceiveSound(&gotSound);
      if (rc == AVERROR(EAGAIN) && avcodec_send_packet(soundCodec_, packet_) >= 0)
        ReceiveSound(&gotSound);
    }
    av_packet_unref(packet_);
    if (mode == 1 && gotSound) return;
    if (mode == 2 && drew) return;
  }
}

void CVideoSiteWindow::DecodeRunning(int mode) {
  // A job the frame clock posted may run after a halt: what it decodes is a frame of the
  // play, never one to show at once as a seek's is.
  runningJob_ = true;
  DecodeNext(mode);
  runningJob_ = false;
}

void CVideoSiteWindow::FillSound() {
  // Up to a comfortable lead; bounded so that a file without sound ahead cannot hold the
  // decoding thread.
  for (int i = 0; i < 64 && !eof_.load() && halted.load() == 0; ++i) {
    VideoVoice* v = LiveVoice();
    if (!v || (v->Started() && v->BufferedMs() >= kSoundTargetMs)) return;
    DecodeRunning(1);
  }
}

void CVideoSiteWindow::OnBufferEnd(std::unique_ptr<VoiceBuffer> buffer) {
  buffer.reset();
  const std::uint32_t left = --queuedBuffers_;
  if (left == 1 && halted.load() == 0) first_->Post([this] { DecodeRunning(1); });
}

// ---- frame timer ----

void CVideoSiteWindow::TimerThreadFunc() {
  bool ticking = false;  // the clock runs for frames that run
  while (run_.load()) {
    const std::int64_t intervalNs = frameInterval_.load() * 100;
    if (halted.load() != 0 || intervalNs <= 0) {
      // Halted, or nothing open yet: the clock does not tick, nor wake. Letting the frames
      // run, an opened file's frame rate and the window's end wake this wait.
      ticking = false;
      frameTimer_.Wait(-1);
      continue;
    }
    if (!ticking) {
      // The schedule starts one interval after the frames were let run.
      ticking = true;
      deadlineNs_.store(plat::MonotonicNs() + intervalNs);
      frameTimer_.ArmAt(deadlineNs_.load());
    }
    if (!frameTimer_.Wait(500) || !run_.load()) continue;
    const std::int64_t now = plat::MonotonicNs();
    // Absolute deadlines keep the rate; after a halt or a long stall the schedule restarts.
    std::int64_t next = deadlineNs_.load() + intervalNs;
    if (next <= now - 4 * intervalNs) next = now + intervalNs;
    deadlineNs_.store(next);
    frameTimer_.ArmAt(next);
    if (halted.load() != 0 || !run_.load()) continue;
    // Decoding runs on the frame clock; each frame is then shown when the voice plays its
    // time (WaitForVoice). Reading on is also what feeds the voice, so the picture never
    // holds it: a voice short of sound gets a decode up to the next sound (containers may
    // carry the sound well behind the picture), a long line of frames waiting to be drawn
    // no further frame.
    if (first_->QueuedCount() > 4) continue;  // decoding lags: don't pile up jobs
    VideoVoice* v = LiveVoice();
    if (v && (!v->Started() || v->BufferedMs() < kSoundLowMs))
      first_->Post([this] { FillSound(); });
    // A few frames decoded ahead ride out an uneven decode; more only cost memory.
    if (second_->QueuedCount() < kFramesAhead) {
      first_->Post([this] { DecodeRunning(2); });
      // Frames behind the sound catch up with a second decode in this tick.
      const auto played = v && v->Started() ? v->PlayedPositionMs() : std::nullopt;
      if (played && decodedMs_.load() < *played + intervalNs / 1'000'000)
        first_->Post([this] { DecodeRunning(2); });
    }
  }
}

// ---- drawing ----

void CVideoSiteWindow::WaitForVoice(std::int64_t positionMs) {
  // A frame is shown when the voice plays its time, and waits as long as the sound takes:
  // frames let through early run ahead of what is heard. It does not wait without a voice,
  // nor for sound that is not coming: none left in the file, none found a second past the
  // frame, all of it heard with nothing more in hand, or sound that ended more than a
  // second before it.
  while (run_.load() && halted.load() == 0) {
    VideoVoice* v = LiveVoice();
    if (!v) return;
    if (!v->Started()) {
      if (eof_.load() && queuedBuffers_.load() <= 2) return;
      if (decodedMs_.load() > positionMs + 1000) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    const auto played = v->PlayedPositionMs();
    if (played && (*played >= positionMs || positionMs - *played > 1000 || v->Drained())) return;
    // Nothing handed to the endpoint yet since the start or the seek: the sound is coming.
    const std::int64_t ahead = played ? positionMs - *played : 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::int64_t>(ahead, 10)));
  }
}

void CVideoSiteWindow::ShowFrame(const std::uint8_t* pixels, int width, int height, int stride) {
  {
    std::lock_guard lock(frameLock_);
    // The picture as the file says to show it: turned by its display matrix.
    const int turns = quarterTurns_.load();
    const int bw = turns % 2 ? height : width, bh = turns % 2 ? width : height;
    if (!frameBitmap_.isNull() && (frameBitmap_.width() != bw || frameBitmap_.height() != bh))
      frameBitmap_ = QImage();
    if (frameBitmap_.isNull()) {
      frameBitmap_ = QImage(bw, bh, QImage::Format_RGB32);
      if (frameBitmap_.isNull()) return;  // this frame is dropped; the next tries again
    }
    auto src = [&](int x, int y) {
      return reinterpret_cast<const std::uint32_t*>(pixels + std::size_t(y) * stride)[x];
    };
    for (int y = 0; y < bh; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(frameBitmap_.scanLine(y));
      switch (turns) {
        case 1:  // a quarter counterclockwise
          for (int x = 0; x < bw; ++x) row[x] = src(width - 1 - y, x);
          break;
        case 2:
          for (int x = 0; x < bw; ++x) row[x] = src(width - 1 - x, height - 1 - y);
          break;
        case 3:  // a quarter clockwise
          for (int x = 0; x < bw; ++x) row[x] = src(y, height - 1 - x);
          break;
        default:
          std::memcpy(row, pixels + std::size_t(y) * stride, std::size_t(width) * 4);
      }
    }
  }
  if (Render()) ++framesDrawn_;
}

QSize CVideoSiteWindow::DrawnSize(int width, int height) const {
  const std::uint64_t target = drawTarget_.load();
  const int tw = int(target >> 32), th = int(target & 0xFFFFFFFFu);
  if (tw <= 0 || th <= 0) return FitWithin(width, height, maxFrameSize_);
  const FloatRect r = LetterboxRect(float(width), float(height), float(tw), float(th));
  const QSize drawn(std::max(2, int(std::lround(r.right - r.left))),
                    std::max(2, int(std::lround(r.bottom - r.top))));
  return FitWithin(drawn.width(), drawn.height(), maxFrameSize_);
}

void CVideoSiteWindow::Resize(int width, int height) {
  std::lock_guard lock(DrawingLock());
  drawTarget_.store(std::uint64_t(std::uint32_t(std::max(width, 1))) << 32 |
                    std::uint32_t(std::max(height, 1)));
  D2DAbility::Resize(width, height);
  if (!HasResources() || !Target()) return;
  Draw();  // letterboxed into the new size; black when no frame came yet
  Target()->Present();
}

QSize CVideoSiteWindow::FrameBitmapSize() {
  std::lock_guard lock(frameLock_);
  return frameBitmap_.size();
}

std::int64_t CVideoSiteWindow::FrameBitmapKey() {
  std::lock_guard lock(frameLock_);
  return frameBitmap_.isNull()
             ? 0
             : std::int64_t(reinterpret_cast<std::uintptr_t>(frameBitmap_.constBits()));
}

void CVideoSiteWindow::Draw() {
  QImage& target = MutableBackBuffer();
  target.fill(Qt::black);
  std::lock_guard lock(frameLock_);
  if (frameBitmap_.isNull()) return;
  const FloatRect r = LetterboxRect(float(frameBitmap_.width()), float(frameBitmap_.height()),
                                    float(target.width()), float(target.height()));
  QPainter p(&target);
  if (frameBitmap_.width() == int(std::lround(r.right - r.left)) &&
      frameBitmap_.height() == int(std::lround(r.bottom - r.top))) {
    // Decoded at the drawn size: a copy.
    p.drawImage(QPoint(int(std::lround(r.left)), int(std::lround(r.top))), frameBitmap_);
    return;
  }
  // A frame of another size (the window was resized since): scaled here.
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  p.drawImage(QRectF(r.left, r.top, r.right - r.left, r.bottom - r.top), frameBitmap_);
}

}  // namespace vts
