// The video's sound voice: a queue of 16-bit stereo buffers at the stream's own rate played
// on one output endpoint through the endpoint layer. Start plays, Stop pauses with the queue
// kept, FlushSourceBuffers hands every queued buffer back and drops what the endpoint holds.
// Each buffer comes back through the end-of-buffer callback: on the voice's own thread once
// it has been read, on the flushing thread when flushed.
//
// Threading: all operations from any thread. The callback runs with no voice lock held; it
// may call the voice again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct SwrContext;

namespace vts {
namespace audio {
class AudioClient;
class EndpointBackend;
}  // namespace audio

struct VoiceBuffer {
  std::vector<std::int16_t> samples;  // interleaved stereo
  std::int64_t startMs = 0;           // media position of the first frame
  std::uint32_t Frames() const { return std::uint32_t(samples.size() / 2); }
};

// Follows an endpoint's played position as the picture needs it. An endpoint that takes its
// sound in blocks tells a position that stands still and then jumps a block (at times in two
// parts), while the sound runs evenly: between rises the position runs on with the clock,
// never past the reading (what the endpoint took) nor further behind it than the largest rise
// of the last second or two. That bound forgets an old block once the readings run smoothly,
// so an endpoint whose clock runs a little faster than ours is still followed closely.
class PlayedPositionClock {
 public:
  void Reset() { told_.reset(); }
  // The position to show at nowMs for the endpoint's reading readMs; rises over maxLagMs
  // (the endpoint's buffer) count as that much.
  std::int64_t Follow(std::int64_t readMs, std::int64_t nowMs, std::int64_t maxLagMs);

 private:
  static constexpr std::int64_t kRiseWindowMs = 1000;
  struct Told {
    std::int64_t positionMs, atMs, readMs;
    std::int64_t riseMs, lastWindowRiseMs, windowStartMs;  // largest rises, this window and the last
  };
  std::optional<Told> told_;
};

class VideoVoice {
 public:
  using BufferEnd = std::function<void(std::unique_ptr<VoiceBuffer>)>;

  // Null when the endpoint cannot be opened (no server, unknown device): the video then
  // plays without sound.
  static std::unique_ptr<VideoVoice> Create(std::shared_ptr<audio::EndpointBackend> backend,
                                            const std::string& deviceId, std::uint32_t sampleRate,
                                            BufferEnd onBufferEnd);
  ~VideoVoice();
  VideoVoice(const VideoVoice&) = delete;
  VideoVoice& operator=(const VideoVoice&) = delete;

  void SubmitSourceBuffer(std::unique_ptr<VoiceBuffer> buffer);
  // The voice is done with (its window moved to another device): its buffers come back, its
  // endpoint is closed, and it plays nothing more; it stays usable (Lost) for callers that
  // still hold it.
  void Retire();
  void Start();
  void Stop();
  void FlushSourceBuffers();
  bool Started() const { return started_.load(); }
  // The endpoint went away: the voice plays nothing more (the picture goes on without it).
  bool Lost() const { return deviceLost_.load(); }
  // Media position (ms) of the sound leaving the speaker now; empty before any sound was
  // handed to the endpoint since the last flush.
  std::optional<std::int64_t> PlayedPositionMs();
  // Sound in hand: queued here and waiting in the endpoint, in ms.
  std::int64_t BufferedMs();
  // Nothing queued, and everything handed to the endpoint was heard.
  bool Drained();
  // Source frames handed to the endpoint since creation (tests compare it with the decoded).
  std::uint64_t FramesConsumed() const { return framesConsumed_.load(); }
  // Source frames handed back unplayed by flushes.
  std::uint64_t FramesFlushed() const { return framesFlushed_.load(); }
  std::uint32_t SampleRate() const { return rate_; }

 private:
  VideoVoice() = default;
  void ThreadProc();
  void Feed(std::vector<std::unique_ptr<VoiceBuffer>>& ended);
  void PlayRestWhenStuck();  // with the lock held

  std::unique_ptr<audio::AudioClient> client_;
  SwrContext* resampler_ = nullptr;
  std::uint32_t rate_ = 0;
  std::uint32_t mixRate_ = 0;
  std::uint32_t mixChannels_ = 0;
  std::uint32_t bufferFrames_ = 0;
  BufferEnd onBufferEnd_;

  std::mutex mutex_;
  std::shared_ptr<std::condition_variable> wake_ = std::make_shared<std::condition_variable>();
  std::deque<std::unique_ptr<VoiceBuffer>> queue_;
  std::uint32_t usedInFront_ = 0;  // frames of the front buffer already handed over
  std::atomic<bool> deviceLost_{false};
  bool quit_ = false;
  std::atomic<bool> started_{false};
  std::atomic<std::uint64_t> framesConsumed_{0};
  std::atomic<std::uint64_t> framesFlushed_{0};
  std::optional<std::int64_t> writtenEndMs_;  // media ms at the end of what was handed over
  PlayedPositionClock positionClock_;
  std::shared_ptr<audio::EndpointBackend> backend_;
  std::uint32_t stuckPadding_ = 0;  // the endpoint's padding at the last pass, and for how
  int stuckPasses_ = 0;             // many passes it stood still with nothing queued here
  std::thread thread_;
};

}  // namespace vts
