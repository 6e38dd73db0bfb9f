// ffmpeg-made video fixtures and the frame-number reader.
#include "video_fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vts::test {

namespace {
std::string Quote(const std::string& s) { return "'" + s + "'"; }
}  // namespace

std::string MakeVideo(const VideoSpec& spec) {
  const std::string dir = std::string(VTS_BINARY_DIR) + "/test-fixtures/video";
  std::string mk = "mkdir -p " + Quote(dir);
  if (std::system(mk.c_str()) != 0) ADD_FAILURE() << "cannot make " << dir;
  std::ostringstream name;
  std::string rate = spec.rate;
  for (char& c : rate)
    if (c == '/') c = '_';
  name << dir << "/v_" << rate << "_" << spec.seconds << "s_" << spec.width << "x" << spec.height
       << (spec.withSound ? "" : "_silent") << "_g" << spec.keyframeInterval << "_"
       << int(spec.sineHz);
  if (spec.soundDelay > 0) name << "_late" << spec.soundDelay;
  if (spec.bFrames >= 0) name << "_bf" << spec.bFrames;
  if (spec.rotate != 0) name << "_rot" << spec.rotate;
  if (!spec.sar.empty()) name << "_sar" << spec.sar.substr(0, spec.sar.find('/')) << "_"
                              << spec.sar.substr(spec.sar.find('/') + 1);
  if (!spec.videoCodec.empty()) name << "_" << spec.videoCodec;
  name << "." << spec.container;
  const std::string path = name.str();
  if (access(path.c_str(), R_OK) == 0) return path;

  const int band = spec.height / 8;
  std::ostringstream vf;
  vf << "format=yuv420p,geq=lum='if(lt(Y," << band
     << "),if(gt(bitand(N,pow(2,floor(X*16/W))),0),235,16),lum(X,Y))':cb='if(lt(Y," << band
     << "),128,cb(X,Y))':cr='if(lt(Y," << band << "),128,cr(X,Y))'";
  std::ostringstream cmd;
  cmd << "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" << spec.width << "x"
      << spec.height << ":rate=" << spec.rate << ":duration=" << spec.seconds;
  if (spec.withSound) {
    if (spec.soundDelay > 0) cmd << " -itsoffset " << spec.soundDelay;
    cmd << " -f lavfi -i sine=frequency=" << spec.sineHz
        << ":sample_rate=44100:duration=" << spec.seconds - spec.soundDelay;
  }
  if (!spec.sar.empty()) vf << ",setsar=" << spec.sar;
  cmd << " -vf \"" << vf.str() << "\" -t " << spec.seconds;
  if (spec.container == "mp4") {
    cmd << " -c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    if (spec.withSound) cmd << " -c:a aac";
  } else if (spec.container == "mkv") {
    cmd << " -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 600k";
    if (spec.withSound) cmd << " -c:a libopus -ar 48000";
  } else if (spec.container == "avi") {
    cmd << " -c:v mpeg4 -q:v 3";
    if (spec.withSound) cmd << " -c:a mp2";
  } else if (spec.container == "mpg") {
    cmd << " -c:v mpeg2video -q:v 3 -f mpeg";
    if (spec.withSound) cmd << " -c:a mp2";
  }
  if (!spec.videoCodec.empty())
    cmd << " -c:v " << spec.videoCodec << " -q:v 3" << (spec.videoCodec == "mjpeg" ? " -pix_fmt yuvj420p" : "");
  if (spec.keyframeInterval > 0) cmd << " -g " << spec.keyframeInterval;
  if (spec.bFrames >= 0) cmd << " -bf " << spec.bFrames;
  const std::string tmp = path + ".part" + std::to_string(getpid()) + "." + spec.container;
  // An encode drops the display matrix: it is set on a stream copy.
  const std::string encoded = spec.rotate != 0 ? tmp + ".enc." + spec.container : tmp;
  cmd << " " << Quote(encoded);
  if (spec.rotate != 0)
    cmd << " && ffmpeg -nostdin -loglevel error -y -i " << Quote(encoded)
        << " -c copy -metadata:s:v:0 rotate=" << spec.rotate << " " << Quote(tmp) << " && rm -f "
        << Quote(encoded);
  if (std::system(cmd.str().c_str()) != 0) {
    ADD_FAILURE() << "ffmpeg failed: " << cmd.str();
    return path;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) ADD_FAILURE() << "cannot rename " << tmp;
  return path;
}

int ReadFrameNumber(const QImage& image, const FloatRect& r, int ccwQuarterTurns) {
  const float w = r.right - r.left, h = r.bottom - r.top;
  if (w < 16 || h < 8) return -1;
  int n = 0;
  for (int b = 0; b < 16; ++b) {
    // The block's place in the source picture, then in the picture as turned.
    float u = (b + 0.5f) / 16.0f, v = 1.0f / 16.0f;
    for (int t = 0; t < ((ccwQuarterTurns % 4) + 4) % 4; ++t) {
      const float nu = v, nv = 1.0f - u;  // a quarter counterclockwise
      u = nu;
      v = nv;
    }
    const int x = int(r.left + u * w), y = int(r.top + v * h);
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return -1;
    if (qGray(image.pixel(x, y)) > 128) n |= 1 << b;
  }
  return n;
}

}  // namespace vts::test
