// Fuzz target for what the classroom link reads from outside: the pipe framer (the stream
// cut at the places the input chooses), the stream-message decoder on every framed message,
// the destination text and the USB shared-memory slots.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/stream_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vts;
  if (size < 1) return 0;
  // The first byte picks the piece size, so lengths and bodies arrive split anywhere.
  const std::size_t piece = 1 + data[0] % 37;
  std::span<const std::uint8_t> stream(data + 1, size - 1);

  PipeFramer framer;
  std::uint32_t clientId = 0;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const std::size_t n = std::min(piece, stream.size() - at);
    framer.Feed(stream.subspan(at, n), [&](std::span<const std::uint8_t> message) {
      ReceivedStreamMessage m = DecodeStreamMessage(message);
      if (m.kind == ReceivedStreamMessage::Kind::kClientId) clientId = m.clientId;
      if (m.kind == ReceivedStreamMessage::Kind::kAudio) {
        volatile bool taken = AudioIsFor(m, clientId);
        (void)taken;
        volatile std::uint8_t sum = 0;
        for (std::uint8_t b : m.pcm) sum = sum + b;
      }
      if (m.kind == ReceivedStreamMessage::Kind::kText) {
        volatile std::size_t units = m.text.size();
        (void)units;
      }
    });
    if (framer.Failed()) break;
  }

  (void)ParseDestinationText(stream);

  std::vector<std::uint8_t> mapping(stream.begin(), stream.end());
  std::string path;
  for (std::uint32_t position = 0; position < 4; ++position) TakeUsbSlot(mapping, position, &path);
  return 0;
}
