// Video fixtures made at test time by the ffmpeg CLI: testsrc2 with a 440 Hz sine, each
// frame's number burnt into its top band as 16 binary blocks (bit b in block b from the
// left; survives the lossy codecs), and the reading of that number back from a drawn image.
#pragma once

#include <QImage>
#include <chrono>
#include <string>
#include <thread>

#include "video/video_site_window.h"

namespace vts::test {

struct VideoSpec {
  std::string container = "mp4";  // mp4 (x264+aac), mkv (vp9+opus), avi (mpeg4+mp2),
                                  // mpg (mpeg2+mp2)
  std::string rate = "25";        // frame rate, e.g. "30000/1001"
  double seconds = 3.0;
  int width = 320, height = 240;
  bool withSound = true;
  int keyframeInterval = 0;  // 0: the encoder's default
  double sineHz = 440.0;
  double soundDelay = 0;  // s the sound stream starts after the picture
  int bFrames = -1;       // B-frames between references (-1: the encoder's default)
  int rotate = 0;         // degrees of the display matrix, set on a stream copy
  std::string sar;        // pixel aspect, e.g. "64/45" (empty: square pixels)
  std::string videoCodec;  // another encoder than the container's own, e.g. "mjpeg"
};

// Polls `pred` until it holds or `limit` passes; false on the limit.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The file for `spec`, made once per build (shared by the test processes; written whole
// and then renamed into place). Fails the calling test when ffmpeg fails.
std::string MakeVideo(const VideoSpec& spec);

// The frame number read from the drawn picture, which lies at `r` in `image` turned
// `ccwQuarterTurns` times a quarter counterclockwise; -1 when the image holds no picture there.
int ReadFrameNumber(const QImage& image, const FloatRect& r, int ccwQuarterTurns = 0);

}  // namespace vts::test
