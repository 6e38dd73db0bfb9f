// Stream-pipe messages as a peer builds them (little-endian, length first), for the tests and
// the classroom-pipes program.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/stream_protocol.h"
#include "test_files.h"

namespace vts::test {

inline void Put32(Bytes& b, std::uint32_t v) { PutLe32(b, v); }
inline std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) { return Le32(b, at); }

// A framed message: length, type, payload.
inline Bytes Message(std::uint32_t type, const Bytes& payload) {
  Bytes b;
  Put32(b, static_cast<std::uint32_t>(payload.size() + 4));
  Put32(b, type);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

// Master audio (2): chunk, position, byte count, entries naming `ids`, then the samples.
inline Bytes AudioMessage(std::uint32_t chunk, std::uint32_t pos,
                          const std::vector<std::int16_t>& pcm,
                          const std::vector<std::uint32_t>& ids) {
  Bytes p;
  Put32(p, chunk);
  Put32(p, pos);
  Put32(p, static_cast<std::uint32_t>(pcm.size() * 2));
  Put32(p, static_cast<std::uint32_t>(ids.size()));
  for (auto id : ids) {
    Put32(p, 1);
    Put32(p, id);
  }
  for (std::int16_t s : pcm) {
    p.push_back(static_cast<std::uint8_t>(s));
    p.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return Message(STREAM_MSG_AUDIO, p);
}

}  // namespace vts::test
