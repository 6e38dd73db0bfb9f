// The classroom link's wire formats: framing, stream-pipe messages, stream blocks,
// destination text and USB shared-memory slots.
#include "core/stream_protocol.h"

#include <algorithm>
#include <cstring>

namespace vts {
namespace {

// "Voxtrailstudy" and its NUL: the program's name in every message that carries one.
constexpr std::uint8_t kProgramName[14] = {'V', 'o', 'x', 't', 'r', 'a', 'i',
                                           'l', 's', 't', 'u', 'd', 'y', 0};

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

std::vector<std::uint8_t> HeadOnly(std::uint32_t type) {
  std::vector<std::uint8_t> out;
  Put32(out, 4);
  Put32(out, type);
  return out;
}

// A decimal number of at most `maxDigits` digits making up all of [p, end).
bool ParseDecimal(const char* p, const char* end, std::size_t maxDigits, std::uint64_t* value) {
  if (p == end || static_cast<std::size_t>(end - p) > maxDigits) return false;
  std::uint64_t v = 0;
  for (; p != end; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  *value = v;
  return true;
}

// The record's number as atoi reads it (leading blanks, a sign, digits; the rest ignored).
std::uint32_t ParseNumber(const char* p, const char* end) {
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::uint64_t v = 0;
  for (; p != end && *p >= '0' && *p <= '9'; ++p)
    v = std::min<std::uint64_t>(v * 10 + (*p - '0'), 0xFFFFFFFFu);
  return static_cast<std::uint32_t>(negative ? 0 - v : v);
}

bool ParseAddress(const char* p, const char* end, std::uint8_t out[4]) {
  for (int part = 0; part < 4; ++part) {
    const char* dot = part < 3 ? std::find(p, end, '.') : end;
    if (dot == end && part < 3) return false;
    std::uint64_t v = 0;
    if (!ParseDecimal(p, dot, 3, &v) || v > 255) return false;
    out[part] = static_cast<std::uint8_t>(v);
    p = dot + (part < 3 ? 1 : 0);
  }
  return true;
}

}  // namespace

bool PipeFramer::Feed(std::span<const std::uint8_t> bytes, const Deliver& deliver) {
  std::size_t at = 0;
  while (!failed_ && at < bytes.size()) {
    if (!inBody_) {
      const std::size_t take = std::min(bytes.size() - at, 4 - headerFill_);
      std::memcpy(header_ + headerFill_, bytes.data() + at, take);
      headerFill_ += take;
      at += take;
      if (headerFill_ < 4) break;
      headerFill_ = 0;
      expected_ = Get32(header_);
      if (expected_ > kMaxPipeMessageBytes) {
        failed_ = true;
        break;
      }
      body_.clear();
      if (expected_ == 0) {
        deliver({});
        continue;
      }
      // A whole message already here is handed over without copying.
      if (bytes.size() - at >= expected_) {
        deliver(bytes.subspan(at, expected_));
        at += expected_;
        continue;
      }
      body_.reserve(std::min<std::uint32_t>(expected_, 1u << 16));
      inBody_ = true;
    }
    const std::size_t take = std::min<std::size_t>(bytes.size() - at, expected_ - body_.size());
    body_.insert(body_.end(), bytes.begin() + at, bytes.begin() + at + take);
    at += take;
    if (body_.size() == expected_) {
      inBody_ = false;
      deliver(body_);
      body_.clear();
    }
  }
  return !failed_;
}

std::vector<std::uint8_t> EncodeHello() {
  std::vector<std::uint8_t> out;
  Put32(out, 26);
  Put32(out, STREAM_MSG_HELLO);
  out.insert(out.end(), 8, 0);
  out.insert(out.end(), std::begin(kProgramName), std::end(kProgramName));
  return out;
}

std::vector<std::uint8_t> EncodeClientIdRequest() { return HeadOnly(STREAM_MSG_CLIENT_ID); }

std::vector<std::uint8_t> EncodeMixerInput() { return HeadOnly(STREAM_MSG_MIXER_INPUT); }

std::vector<std::uint8_t> EncodeRelay(std::uint32_t chunkIndex, std::uint32_t position,
                                      std::span<const StreamDestination> destinations,
                                      std::span<const std::int16_t> samples) {
  const auto k = static_cast<std::uint32_t>(destinations.size());
  const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> out;
  out.reserve(4 + 50 + 8 * std::size_t(k) + bytes);
  Put32(out, bytes + 8 * k + 50);
  Put32(out, STREAM_MSG_RELAY);
  Put32(out, 0xFFFFFFFFu);
  Put32(out, 0xFFFFFFFFu);
  out.insert(out.end(), std::begin(kProgramName), std::end(kProgramName));
  Put32(out, bytes + 8 * k + 20);
  Put32(out, STREAM_MSG_AUDIO);
  Put32(out, chunkIndex);
  Put32(out, position);
  Put32(out, bytes);
  Put32(out, k);
  for (const StreamDestination& d : destinations) {
    Put32(out, d.number);
    out.insert(out.end(), {d.a, d.b, d.c, d.d});
  }
  for (std::int16_t s : samples) {
    const auto u = static_cast<std::uint16_t>(s);
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

StreamBlock NextStreamBlock(StreamCursor& cursor, std::int32_t chunk, std::uint32_t chunkLength,
                            bool final) {
  // The position belongs to its chunk: another chunk, or one cut below it, starts afresh.
  if (cursor.chunk != chunk || cursor.position > chunkLength) cursor = {chunk, 0};
  StreamBlock block{cursor.position, 0};
  if (final) {
    // Nothing was sent of this recording yet: nothing goes out (the whole recording fits in
    // one block); otherwise the rest.
    if (cursor.position != 0) block.samples = chunkLength - cursor.position;
    cursor.position = 0;
    return block;
  }
  if (std::uint64_t(cursor.position) + kStreamBlockSamples < chunkLength) {
    block.samples = kStreamBlockSamples;
    cursor.position += kStreamBlockSamples;
  }
  return block;
}

ReceivedStreamMessage DecodeStreamMessage(std::span<const std::uint8_t> message) {
  ReceivedStreamMessage m;
  const std::uint64_t length = message.size();
  if (length < 4) {
    m.fault = "has no type";
    return m;
  }
  const std::uint8_t* p = message.data();
  auto malformed = [&m](std::string fault) {
    m.fault = std::move(fault);
    return m;
  };
  m.type = Get32(p);
  switch (m.type) {
    case STREAM_MSG_TEXT: {
      const std::uint64_t units = (length - 4) / 2;
      if (units == 0) return malformed("holds no whole UTF-16 unit");
      m.text.resize(units);
      for (std::uint64_t i = 0; i < units; ++i)
        m.text[i] = static_cast<char16_t>(p[4 + 2 * i] | (p[5 + 2 * i] << 8));
      m.text.back() = u'\0';
      m.text.resize(m.text.find(u'\0'));
      m.kind = ReceivedStreamMessage::Kind::kText;
      return m;
    }
    case STREAM_MSG_AUDIO: {
      if (length < 4 + 16) return malformed("is too short for its 16-byte head");
      m.chunkIndex = Get32(p + 4);
      m.position = Get32(p + 8);
      const std::uint64_t bytes = Get32(p + 12);
      const std::uint64_t count = Get32(p + 16);
      if (20 + 8 * count + bytes > length)
        return malformed("is shorter than its entry count (" + std::to_string(count) +
                         ") and byte count (" + std::to_string(bytes) + ") say");
      if (m.chunkIndex > kMaxReceivedChunkIndex)
        return malformed("names chunk " + std::to_string(m.chunkIndex) + ", past the last one taken (" +
                         std::to_string(kMaxReceivedChunkIndex) + ")");
      m.entryIds.reserve(count);
      for (std::uint64_t i = 0; i < count; ++i) m.entryIds.push_back(Get32(p + 20 + 8 * i + 4));
      m.pcm = message.subspan(20 + 8 * count, bytes);
      m.kind = ReceivedStreamMessage::Kind::kAudio;
      return m;
    }
    case STREAM_MSG_CLIENT_ID:
      if (length < 8) return malformed("is too short for its 4-byte id");
      m.clientId = Get32(p + 4);
      m.kind = ReceivedStreamMessage::Kind::kClientId;
      return m;
    case STREAM_MSG_MIXER_VALUES:
      if (length < 12) return malformed("is too short for its two 4-byte values");
      m.mixerValues[0] = Get32(p + 4);
      m.mixerValues[1] = Get32(p + 8);
      m.kind = ReceivedStreamMessage::Kind::kMixerValues;
      return m;
    default:
      m.kind = ReceivedStreamMessage::Kind::kOther;
      return m;
  }
}

bool AudioIsFor(const ReceivedStreamMessage& audio, std::uint32_t clientId) {
  if (audio.entryIds.empty()) return true;
  if (clientId == 0) return false;
  return std::find(audio.entryIds.begin(), audio.entryIds.end(), clientId) != audio.entryIds.end();
}

std::vector<StreamDestination> ParseDestinationText(std::span<const std::uint8_t> bytes) {
  std::vector<StreamDestination> list;
  const char* p = reinterpret_cast<const char*>(bytes.data());
  const char* end = p + bytes.size();
  // A NUL ends the text even when cbData says more.
  end = std::find(p, end, '\0');
  while (list.size() < kMaxStreamDestinations) {
    const char* bar1 = std::find(p, end, '|');
    if (bar1 == end) break;
    const char* bar2 = std::find(bar1 + 1, end, '|');
    if (bar2 == end) break;  // an unfinished last record is dropped
    std::uint8_t address[4];
    if (ParseAddress(bar1 + 1, bar2, address)) {
      list.push_back({ParseNumber(p, bar1), address[0], address[1], address[2], address[3]});
    }
    p = bar2 + 1;
  }
  return list;
}

bool TakeUsbSlot(std::span<std::uint8_t> mapping, std::uint32_t position, std::string* path) {
  if (mapping.size() < kUsbSharedMemoryBytes) return false;
  std::size_t offset = 0;
  if (position == 0 || position == 1) {
    offset = kUsbSlotOffsetPos01;
  } else if (position == 2) {
    offset = kUsbSlotOffsetPos2;
  } else {
    return false;
  }
  std::uint8_t* slot = mapping.data() + offset;
  // At most 1000 bytes: the slot's last byte is its NUL even when the framework left none.
  const std::size_t length =
      static_cast<std::size_t>(std::find(slot, slot + kUsbSlotBytes - 1, 0) - slot);
  path->assign(reinterpret_cast<const char*>(slot), length);
  std::memset(slot, 0, kUsbSlotBytes);
  return true;
}

}  // namespace vts
