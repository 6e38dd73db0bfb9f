// MP3 through the two codec libraries: decoding an MP3 file into a 16-bit PCM WAV file with
// libmad (under the machine-wide decode lock when loading), and encoding 16-bit PCM with LAME
// at the track's sample rate, mono or stereo, 64 kbit/s per channel, constant bit rate.
//
// Threading: the functions may run on any thread; an Mp3StreamEncoder belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vts::media {

// Progress of a decode: bytes of the MP3 consumed, its size, and frames decoded so far.
using Mp3DecodeProgress =
    std::function<void(std::uint32_t bytesDone, std::uint32_t bytesTotal, std::uint32_t frames)>;

enum class Mp3DecodeResult {
  Ok = 0,
  OpenFailed = 1,     // the MP3 cannot be read (or is over 2 GiB)
  NoAudio = 2,        // no decodable MPEG audio frame
  FormatChanged = 3,  // the sample rate changes inside the stream
  WriteFailed = 4,    // the WAV cannot be created or written (or would pass 4 GiB)
};

// Decodes `mp3Path` into a WAV file at `wavPath` (16-bit PCM, the first frame's rate and
// channel count; a leading LAME/Xing information frame is skipped, and the encoder's delay
// and padding that it gives are taken off, with the decoder's own delay; damaged frames are
// skipped). The WAV appears only when complete: it is written to a temporary file beside it
// and renamed. Ok = 0, anything else is a failure.
Mp3DecodeResult DecodeMp3ToWav(const std::string& mp3Path, const std::string& wavPath,
                               const Mp3DecodeProgress& progress = {});

// The loading step of an MP3: under the named lock "Global\VoxtrailstudyMP3DecodeMutex"
// (waited for without limit, released on every way out), decodes when the MP3 exists and the
// WAV cannot be opened for reading; an existing WAV is used as it is. True when the WAV can
// be used afterwards.
bool DecodeMp3ForLoading(const std::string& mp3Path, const std::string& wavPath);

// Errors of EncodeMp3 as the track reports them.
enum class Mp3EncodeError {
  None = 0,
  BadChannelCount = 1,  // "Incorrect number of channels in the file"
  InitFailed = 2,       // "Bad format reported during encoder initialization"
  CannotCreate = 3,     // "Unable to save to requested destination"
};
// The texts of the message box (caption "MP3 encoding error"); empty for None.
const char* Mp3EncodeErrorText(Mp3EncodeError e);

// LAME's stream encoding in four steps: initialise, encode chunks, finish, close.
class Mp3StreamEncoder {
 public:
  Mp3StreamEncoder();
  ~Mp3StreamEncoder();  // closes
  Mp3StreamEncoder(const Mp3StreamEncoder&) = delete;
  Mp3StreamEncoder& operator=(const Mp3StreamEncoder&) = delete;

  // MP3 at `samplesPerSec`, mode mono for 1 channel and stereo for 2, 64 kbit/s per channel.
  // 0 channels: BadChannelCount. More than 2 (which the track refuses before, without a
  // message) or a rate that MP3 does not have (8000 ... 48000 Hz): InitFailed.
  Mp3EncodeError Init(std::uint32_t samplesPerSec, std::uint16_t channels);
  static bool ChannelsSupported(std::uint16_t channels) { return channels == 1 || channels == 2; }

  // Samples (not frames) per call of Encode, and the output room each call may need.
  std::size_t SamplesPerChunk() const { return samplesPerChunk_; }
  std::size_t OutputBufferSize() const { return outputSize_; }

  // Encodes `sampleCount` interleaved samples (at most SamplesPerChunk()); appends the MP3
  // bytes to `out`. False on an encoder error.
  bool Encode(const std::int16_t* samples, std::size_t sampleCount, std::vector<std::uint8_t>& out);
  // Flushes the last frames into `out`.
  bool Finish(std::vector<std::uint8_t>& out);
  // After Finish: the LAME/Xing information frame (the encoder's delay and padding, the frame
  // count), written over the stream's first bytes, which hold its place. Empty on a failure.
  std::vector<std::uint8_t> InfoFrame() const;
  void Close();

 private:
  struct Lame;
  std::unique_ptr<Lame> lame_;
  std::uint16_t channels_ = 0;
  std::size_t samplesPerChunk_ = 0;
  std::size_t outputSize_ = 0;
};

}  // namespace vts::media
