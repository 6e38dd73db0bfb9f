// MP3 decoding with libmad into a WAV file, and LAME stream encoding.
#include "tracks/media/mp3.h"

#include <lame/lame.h>
#include <mad.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/fd.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "tracks/media/wav_file.h"

namespace vts::media {
namespace {

constexpr std::uint64_t kMaxMp3Bytes = 0x7FFFFFFFull;

// The MP3 is read in blocks of this size: its memory does not grow with the file.
constexpr std::size_t kReadBlockBytes = 1u << 20;

// Reads up to `n` bytes at the file position; the count read (less only at the end), or -1.
long long ReadUpTo(int fd, std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const long long r = plat::ReadSome(fd, p + done, n - done);
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<long long>(done);
}

// Bytes of an ID3v2 tag at the start of a file of `fileSize` bytes, from its first `n` bytes
// (0 when there is none).
std::size_t Id3v2Size(const std::uint8_t* p, std::size_t n, std::size_t fileSize) {
  if (n < 10 || std::memcmp(p, "ID3", 3) != 0) return 0;
  if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;
  std::size_t size =
      (std::size_t{p[6]} << 21) | (std::size_t{p[7]} << 14) | (std::size_t{p[8]} << 7) | p[9];
  size += 10;
  if (p[5] & 0x10) size += 10;  // footer
  return std::min(size, fileSize);
}

// Where "Xing" or "Info" stands right after the frame's side info: a LAME/Xing information
// frame, which carries no sound. 0 when the frame is none.
std::size_t InfoTagOffset(const unsigned char* frame, const unsigned char* next) {
  const std::size_t n = static_cast<std::size_t>(next - frame);
  const std::size_t limit = std::min<std::size_t>(n, 4 + 32 + 2 + 4);
  for (std::size_t i = 4; i + 4 <= limit; ++i) {
    if (std::memcmp(frame + i, "Xing", 4) == 0 || std::memcmp(frame + i, "Info", 4) == 0)
      return i;
  }
  return 0;
}

// The synthesis filter bank delays every decoder's output by this many samples (ffmpeg and
// mpg123 count the same).
constexpr std::uint32_t kDecoderDelay = 529;

// The encoder's delay and padding that LAME's extension of an information frame (tag at
// `tag`) gives, in samples per channel. False when the frame has no such extension.
bool ReadEncoderDelay(const unsigned char* frame, const unsigned char* next, std::size_t tag,
                      std::uint32_t& delay, std::uint32_t& padding) {
  const std::size_t n = static_cast<std::size_t>(next - frame);
  if (tag + 8 > n) return false;
  const unsigned char* f = frame + tag + 4;
  const std::uint32_t flags = (std::uint32_t{f[0]} << 24) | (std::uint32_t{f[1]} << 16) |
                              (std::uint32_t{f[2]} << 8) | f[3];
  std::size_t at = tag + 8;
  if (flags & 1) at += 4;    // frame count
  if (flags & 2) at += 4;    // byte count
  if (flags & 4) at += 100;  // seek table
  if (flags & 8) at += 4;    // quality
  if (at + 24 > n) return false;
  const unsigned char* ext = frame + at;
  // LAME and ffmpeg's encoders write the extension; its first bytes name them.
  if (std::memcmp(ext, "LAME", 4) != 0 && std::memcmp(ext, "Lavc", 4) != 0 &&
      std::memcmp(ext, "Lavf", 4) != 0)
    return false;
  const std::uint32_t both =
      (std::uint32_t{ext[21]} << 16) | (std::uint32_t{ext[22]} << 8) | ext[23];
  delay = both >> 12;
  padding = both & 0xFFF;
  return true;
}

inline std::int16_t ToPcm16(mad_fixed_t s) {
  s += 1L << (MAD_F_FRACBITS - 16);  // round
  if (s >= MAD_F_ONE) s = MAD_F_ONE - 1;
  if (s < -MAD_F_ONE) s = -MAD_F_ONE;
  return static_cast<std::int16_t>(s >> (MAD_F_FRACBITS + 1 - 16));
}

struct MadState {
  mad_stream stream;
  mad_frame frame;
  mad_synth synth;
  MadState() {
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
  }
  ~MadState() {
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
};

}  // namespace

Mp3DecodeResult DecodeMp3ToWav(const std::string& mp3Path, const std::string& wavPath,
                               const Mp3DecodeProgress& progress) {
  const plat::UniqueFd input = plat::OpenFile(mp3Path, plat::kOpenRead);
  if (!input) return Mp3DecodeResult::OpenFailed;
  plat::FileStatus st;
  if (!plat::StatFd(input.get(), &st) || st.kind != plat::FileKind::kRegular ||
      st.size > kMaxMp3Bytes) {
    return Mp3DecodeResult::OpenFailed;
  }
  const std::size_t size = static_cast<std::size_t>(st.size);
  std::uint8_t id3[10] = {};
  const long long headBytes = ReadUpTo(input.get(), id3, sizeof id3);
  if (headBytes < 0) return Mp3DecodeResult::OpenFailed;
  const std::size_t skip = Id3v2Size(id3, static_cast<std::size_t>(headBytes), size);
  if (!plat::SeekTo(input.get(), skip)) return Mp3DecodeResult::OpenFailed;

  plat::FileReplacement wav;
  if (!wav.Open(wavPath, 0644)) return Mp3DecodeResult::WriteFailed;
  auto fail = [&](Mp3DecodeResult r) {
    wav.Discard();
    return r;
  };
  std::array<std::uint8_t, 44> header{};
  if (!wav.Write(header.data(), header.size())) return fail(Mp3DecodeResult::WriteFailed);

  auto state = std::make_unique<MadState>();
  // The block, the tail of a frame cut by the previous block kept in front of it, and at the
  // end of the file the zeros libmad needs to decode the last frame.
  std::vector<std::uint8_t> block(kReadBlockBytes + MAD_BUFFER_GUARD);
  std::size_t blockStart = skip;  // file offset of block[0]
  const unsigned char* realEnd = nullptr;
  bool atEnd = false;
  PcmFormat format;
  std::uint64_t frames = 0;
  std::uint32_t mpegFrames = 0;
  bool first = true;
  std::vector<std::int16_t> pcm;
  std::vector<std::uint8_t> pending;
  pending.reserve(1 << 20);
  // What an information frame says is not sound: the encoder's delay and the decoder's own
  // at the head, the encoder's padding (less the decoder's delay) at the tail. Without one,
  // everything decoded is kept.
  std::uint64_t headFrames = 0;  // still to drop
  std::size_t tailBytes = 0;     // always held back in `pending`
  for (;;) {
    if (state->stream.buffer == nullptr || state->stream.error == MAD_ERROR_BUFLEN) {
      if (atEnd) break;
      std::size_t keep = 0;
      if (state->stream.next_frame != nullptr) {
        keep = static_cast<std::size_t>(state->stream.bufend - state->stream.next_frame);
        blockStart += static_cast<std::size_t>(state->stream.next_frame - block.data());
        std::memmove(block.data(), state->stream.next_frame, keep);
      }
      if (keep >= kReadBlockBytes) break;  // no frame is this long: junk to the end
      const long long got = ReadUpTo(input.get(), block.data() + keep, kReadBlockBytes - keep);
      if (got < 0) return fail(Mp3DecodeResult::OpenFailed);
      std::size_t length = keep + static_cast<std::size_t>(got);
      if (keep + static_cast<std::size_t>(got) < kReadBlockBytes) {
        atEnd = true;
        realEnd = block.data() + length;
        std::memset(block.data() + length, 0, MAD_BUFFER_GUARD);
        length += MAD_BUFFER_GUARD;
      }
      mad_stream_buffer(&state->stream, block.data(), length);
      state->stream.error = MAD_ERROR_NONE;
    }
    if (mad_frame_decode(&state->frame, &state->stream) != 0) {
      if (MAD_RECOVERABLE(state->stream.error)) continue;     // damaged frame or junk: skip
      if (state->stream.error == MAD_ERROR_BUFLEN) continue;  // the next block
      break;
    }
    if (realEnd && state->stream.this_frame >= realEnd) break;
    const mad_header& h = state->frame.header;
    if (first) {
      first = false;
      format.channels = static_cast<std::uint16_t>(MAD_NCHANNELS(&h));
      format.samplesPerSec = h.samplerate;
      format.bitsPerSample = 16;
      format.blockAlign = static_cast<std::uint16_t>(format.channels * 2);
      format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
      const std::size_t tag = InfoTagOffset(state->stream.this_frame, state->stream.next_frame);
      if (tag != 0) {
        std::uint32_t delay = 0, padding = 0;
        if (ReadEncoderDelay(state->stream.this_frame, state->stream.next_frame, tag, delay,
                             padding)) {
          headFrames = delay + kDecoderDelay;
          tailBytes = std::size_t{padding > kDecoderDelay ? padding - kDecoderDelay : 0} *
                      format.blockAlign;
        }
        continue;
      }
    }
    if (h.samplerate != format.samplesPerSec) return fail(Mp3DecodeResult::FormatChanged);
    mad_synth_frame(&state->synth, &state->frame);
    const mad_pcm& p = state->synth.pcm;
    const unsigned dropped = static_cast<unsigned>(std::min<std::uint64_t>(headFrames, p.length));
    headFrames -= dropped;
    for (unsigned i = dropped; i < p.length; ++i) {
      const mad_fixed_t l = p.samples[0][i];
      const mad_fixed_t r = p.channels > 1 ? p.samples[1][i] : l;
      if (format.channels == 1) {
        pcm.push_back(ToPcm16(p.channels > 1 ? (l / 2 + r / 2) : l));
      } else {
        pcm.push_back(ToPcm16(l));
        pcm.push_back(ToPcm16(r));
      }
    }
    ++mpegFrames;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm.data());
    pending.insert(pending.end(), bytes, bytes + pcm.size() * 2);  // little-endian host
    pcm.clear();
    if (pending.size() >= (1u << 20) + tailBytes) {
      const std::size_t out = pending.size() - tailBytes;
      if (!wav.Write(pending.data(), out)) return fail(Mp3DecodeResult::WriteFailed);
      frames += out / format.blockAlign;
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(out));
    }
    if (progress && (mpegFrames % 256) == 0) {
      const std::size_t done =
          blockStart + static_cast<std::size_t>(state->stream.this_frame - block.data());
      progress(static_cast<std::uint32_t>(done), static_cast<std::uint32_t>(size), mpegFrames);
    }
  }
  pending.resize(pending.size() > tailBytes ? pending.size() - tailBytes : 0);
  frames += pending.size() / std::max<std::uint16_t>(format.blockAlign, 1);
  if (mpegFrames == 0 || frames == 0) return fail(Mp3DecodeResult::NoAudio);
  if (!wav.Write(pending.data(), pending.size())) return fail(Mp3DecodeResult::WriteFailed);
  if (!BuildWavHeader(format, frames, header)) return fail(Mp3DecodeResult::WriteFailed);
  if (!wav.WriteAt(0, header.data(), header.size()) || !wav.Commit())
    return fail(Mp3DecodeResult::WriteFailed);
  if (progress)
    progress(static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size), mpegFrames);
  return Mp3DecodeResult::Ok;
}

bool DecodeMp3ForLoading(const std::string& mp3Path, const std::string& wavPath) {
  plat::NamedMutex mutex(plat::kMp3DecodeMutexName);
  plat::NamedMutexLock hold(mutex);  // without the lock file, decode anyway: only speed suffers
  if (plat::CanOpenForReading(wavPath)) return true;  // decoded by an earlier load
  if (!plat::PathExists(mp3Path)) return false;
  return DecodeMp3ToWav(mp3Path, wavPath, [](std::uint32_t, std::uint32_t, std::uint32_t) {}) ==
         Mp3DecodeResult::Ok;
}

const char* Mp3EncodeErrorText(Mp3EncodeError e) {
  switch (e) {
    case Mp3EncodeError::None:
      return "";
    case Mp3EncodeError::BadChannelCount:
      return "Incorrect number of channels in the file";
    case Mp3EncodeError::InitFailed:
      return "Bad format reported during encoder initialization";
    case Mp3EncodeError::CannotCreate:
      return "Unable to save to requested destination";
  }
  return "";
}

struct Mp3StreamEncoder::Lame {
  lame_global_flags* gf = nullptr;
  std::vector<unsigned char> buffer;
  ~Lame() {
    if (gf) lame_close(gf);
  }
};

Mp3StreamEncoder::Mp3StreamEncoder() = default;
Mp3StreamEncoder::~Mp3StreamEncoder() { Close(); }

Mp3EncodeError Mp3StreamEncoder::Init(std::uint32_t samplesPerSec, std::uint16_t channels) {
  Close();
  if (channels == 0) return Mp3EncodeError::BadChannelCount;
  if (channels > 2) return Mp3EncodeError::InitFailed;
  // The sound keeps its rate: one MP3 has none but these (LAME would quietly resample).
  static constexpr std::uint32_t kMp3Rates[] = {8000,  11025, 12000, 16000, 22050,
                                                24000, 32000, 44100, 48000};
  if (std::find(std::begin(kMp3Rates), std::end(kMp3Rates), samplesPerSec) == std::end(kMp3Rates)) {
    return Mp3EncodeError::InitFailed;
  }
  auto lame = std::make_unique<Lame>();
  lame->gf = lame_init();
  if (!lame->gf) return Mp3EncodeError::InitFailed;
  lame_global_flags* gf = lame->gf;
  lame_set_in_samplerate(gf, static_cast<int>(samplesPerSec));
  lame_set_out_samplerate(gf, static_cast<int>(samplesPerSec));
  lame_set_num_channels(gf, channels);
  lame_set_mode(gf, channels == 1 ? MONO : STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, 64 * channels);
  lame_set_copyright(gf, 0);
  lame_set_original(gf, 0);
  lame_set_error_protection(gf, 0);
  lame_set_extension(gf, 0);
  // The information frame tells decoders the encoder's delay and padding, so that the sound
  // comes back as long as it went in and where it was. Its place is kept in the stream's first
  // bytes; InfoFrame() gives its content at the end.
  lame_set_bWriteVbrTag(gf, 1);
  if (samplesPerSec == 0 || lame_init_params(gf) < 0) return Mp3EncodeError::InitFailed;
  channels_ = channels;
  samplesPerChunk_ = 1152u * channels;
  outputSize_ = samplesPerChunk_ * 5 / 4 + 7200;
  lame->buffer.resize(outputSize_);
  lame_ = std::move(lame);
  return Mp3EncodeError::None;
}

bool Mp3StreamEncoder::Encode(const std::int16_t* samples, std::size_t sampleCount,
                              std::vector<std::uint8_t>& out) {
  if (!lame_ || sampleCount > samplesPerChunk_ || (sampleCount > 0 && !samples)) return false;
  const int frames = static_cast<int>(sampleCount / channels_);
  if (frames == 0) return true;
  auto* buf = lame_->buffer.data();
  const int size = static_cast<int>(lame_->buffer.size());
  int n;
  if (channels_ == 1) {
    n = lame_encode_buffer(lame_->gf, samples, samples, frames, buf, size);
  } else {
    n = lame_encode_buffer_interleaved(lame_->gf, const_cast<short*>(samples), frames, buf, size);
  }
  if (n < 0) return false;
  out.insert(out.end(), buf, buf + n);
  return true;
}

bool Mp3StreamEncoder::Finish(std::vector<std::uint8_t>& out) {
  if (!lame_) return false;
  const int n =
      lame_encode_flush(lame_->gf, lame_->buffer.data(), static_cast<int>(lame_->buffer.size()));
  if (n < 0) return false;
  out.insert(out.end(), lame_->buffer.data(), lame_->buffer.data() + n);
  return true;
}

std::vector<std::uint8_t> Mp3StreamEncoder::InfoFrame() const {
  if (!lame_) return {};
  std::vector<std::uint8_t> frame(lame_get_lametag_frame(lame_->gf, nullptr, 0));
  if (frame.empty()) return {};
  if (lame_get_lametag_frame(lame_->gf, frame.data(), frame.size()) != frame.size()) return {};
  return frame;
}

void Mp3StreamEncoder::Close() {
  lame_.reset();
  channels_ = 0;
  samplesPerChunk_ = outputSize_ = 0;
}

}  // namespace vts::media
