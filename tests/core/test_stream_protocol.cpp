// The classroom link's wire formats: framing in pieces and its cap, the sent messages byte for
// byte, the Student stream's blocks, the decoding of received messages (each malformed kind),
// the destination text and the USB shared-memory slots.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "core/stream_protocol.h"

using namespace vts;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
Bytes Framed(const Bytes& body) {
  Bytes out;
  Put32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
Bytes Span(std::span<const std::uint8_t> s) { return Bytes(s.begin(), s.end()); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

// ---- framing ----

TEST(PipeFramer, MessagesCutAnywhereAreDeliveredOnceWhole) {
  Bytes stream;
  const std::vector<Bytes> bodies = {{1, 2, 3, 4, 5}, {}, Bytes(70000, 0xAB), {9}};
  for (const Bytes& b : bodies) {
    Bytes f = Framed(b);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  // Every piece size, including lengths split 1+3, 2+2 and 3+1.
  for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(5),
                            std::size_t(4099), stream.size()}) {
    SCOPED_TRACE(piece);
    PipeFramer framer;
    std::vector<Bytes> got;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const std::size_t n = std::min(piece, stream.size() - at);
      ASSERT_TRUE(framer.Feed({stream.data() + at, n}, [&](auto m) { got.push_back(Span(m)); }));
    }
    EXPECT_EQ(got, bodies);
    EXPECT_FALSE(framer.Partial());
  }
}

TEST(PipeFramer, LengthOverTheCapFailsTheStream) {
  struct Case {
    std::uint32_t length;
    bool ok;
  } cases[] = {
      {kMaxPipeMessageBytes, true}, {kMaxPipeMessageBytes + 1, false}, {0xFFFFFFFFu, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    PipeFramer framer;
    Bytes head;
    Put32(head, c.length);
    int delivered = 0;
    // The length arrives in two pieces; the failure shows when it is whole.
    EXPECT_TRUE(framer.Feed({head.data(), 2}, [&](auto) { ++delivered; }));
    EXPECT_EQ(framer.Feed({head.data() + 2, 2}, [&](auto) { ++delivered; }), c.ok);
    EXPECT_EQ(framer.Failed(), !c.ok);
    EXPECT_EQ(delivered, 0);
    if (!c.ok) EXPECT_FALSE(framer.Feed(Framed({1}), [&](auto) { ++delivered; }));
  }
}

// ---- messages sent ----

TEST(StreamMessages, FixedMessagesByteForByte) {
  const Bytes hello = {0x1A, 0,   0,   0,   0x36, 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                       0,    'V', 'o', 'x', 't',  'r', 'a', 'i', 'l', 's', 't', 'u', 'd', 'y', 0};
  EXPECT_EQ(EncodeHello(), hello);
  EXPECT_EQ(EncodeClientIdRequest(), (Bytes{4, 0, 0, 0, 0x34, 0, 0, 0}));
  EXPECT_EQ(EncodeMixerInput(), (Bytes{4, 0, 0, 0, 0x39, 0x04, 0, 0}));
}

TEST(StreamMessages, RelayLayoutAndLengths) {
  const std::vector<StreamDestination> dest = {
      {5, 192, 168, 0, 7}, {12, 10, 0, 0, 1}, {7, 1, 2, 3, 4}};
  std::vector<std::int16_t> samples(kStreamBlockSamples);
  std::iota(samples.begin(), samples.end(), std::int16_t(-100));
  const Bytes m = EncodeRelay(3, 32768, dest, samples);
  ASSERT_EQ(m.size(), 4u + 32842u);
  EXPECT_EQ(Get32(m, 0), 32842u);
  EXPECT_EQ(Get32(m, 4), 55u);
  EXPECT_EQ(Get32(m, 8), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(m, 12), 0xFFFFFFFFu);
  EXPECT_EQ(std::memcmp(m.data() + 16, "Voxtrailstudy\0", 14), 0);
  EXPECT_EQ(Get32(m, 30), 32812u);  // inner length
  EXPECT_EQ(Get32(m, 34), 2u);
  EXPECT_EQ(Get32(m, 38), 3u);      // chunk
  EXPECT_EQ(Get32(m, 42), 32768u);  // position
  EXPECT_EQ(Get32(m, 46), 32768u);  // bytes
  EXPECT_EQ(Get32(m, 50), 3u);      // k
  EXPECT_EQ(Get32(m, 54), 5u);
  EXPECT_EQ(Bytes(m.begin() + 58, m.begin() + 62), (Bytes{192, 168, 0, 7}));
  EXPECT_EQ(Get32(m, 62), 12u);
  const std::size_t pcm = 54 + 24;
  EXPECT_EQ(m[pcm], 0x9C);  // -100 little-endian
  EXPECT_EQ(m[pcm + 1], 0xFF);
  EXPECT_EQ(std::int16_t(m[m.size() - 2] | m[m.size() - 1] << 8), samples.back());
  // No destinations and no samples: the bare 50-byte relay.
  const Bytes empty = EncodeRelay(0, 0, {}, {});
  EXPECT_EQ(empty.size(), 54u);
  EXPECT_EQ(Get32(empty, 0), 50u);
  EXPECT_EQ(Get32(empty, 30), 20u);
}

// ---- stream blocks ----

TEST(StreamBlocks, RecordingGrowsThenEnds) {
  // (chunk length at the call, final) -> (position, samples) sent.
  struct Step {
    std::uint32_t length;
    bool final;
    std::uint32_t position, samples;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"20000 samples: one full block, then the rest",
       {{8000, false, 0, 0},
        {16384, false, 0, 0},
        {16385, false, 0, 16384},
        {20000, false, 16384, 0},
        {20000, true, 16384, 3616},
        {25000, false, 0, 16384}}},
      {"never past one block: nothing at all", {{16384, false, 0, 0}, {16384, true, 0, 0}}},
      {"empty chunk", {{0, false, 0, 0}, {0, true, 0, 0}}},
      {"exactly two blocks and one sample",
       {{32769, false, 0, 16384},
        {32769, false, 16384, 16384},
        {32769, false, 32768, 0},
        {32769, true, 32768, 1}}},
      {"chunk cut below the position starts again",
       {{20000, false, 0, 16384}, {10000, false, 0, 0}, {10000, true, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamCursor cursor;
    for (const Step& s : c.steps) {
      StreamBlock b = NextStreamBlock(cursor, 0, s.length, s.final);
      EXPECT_EQ(b.samples, s.samples) << "length " << s.length;
      if (b.samples) EXPECT_EQ(b.position, s.position);
      EXPECT_LE(std::uint64_t(b.position) + b.samples, s.length);
    }
  }
}

TEST(StreamBlocks, AnotherChunkStartsAtZeroAndAFinalWithNothingResets) {
  StreamCursor cursor;
  EXPECT_EQ(NextStreamBlock(cursor, 0, 40000, false).samples, kStreamBlockSamples);
  // The Student moved to chunk 1: its first block starts at 0, not at 16384.
  StreamBlock b = NextStreamBlock(cursor, 1, 40000, false);
  EXPECT_EQ(b.position, 0u);
  EXPECT_EQ(b.samples, kStreamBlockSamples);
  // A final on another chunk sends nothing of it and leaves the cursor at 0.
  EXPECT_EQ(NextStreamBlock(cursor, 2, 40000, true).samples, 0u);
  EXPECT_EQ(cursor.position, 0u);
}

// ---- received messages ----

namespace {
Bytes Msg(std::uint32_t type, const Bytes& payload) {
  Bytes b;
  Put32(b, type);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
Bytes Audio(std::uint32_t chunk, std::uint32_t pos, std::uint32_t bytes,
            std::vector<std::uint32_t> ids, std::size_t pcmPresent) {
  Bytes p;
  Put32(p, chunk);
  Put32(p, pos);
  Put32(p, bytes);
  Put32(p, static_cast<std::uint32_t>(ids.size()));
  for (auto id : ids) {
    Put32(p, 0);
    Put32(p, id);
  }
  p.insert(p.end(), pcmPresent, 0x11);
  return Msg(STREAM_MSG_AUDIO, p);
}
}  // namespace

TEST(StreamMessages, ReceivedKindsAndMalformedOnes) {
  using K = ReceivedStreamMessage::Kind;
  struct Case {
    const char* name;
    Bytes message;
    K kind;
    std::string fault;  // what the log line says of a malformed one
  } cases[] = {
      {"empty", {}, K::kMalformed, "has no type"},
      {"three bytes", {1, 0, 0}, K::kMalformed, "has no type"},
      {"text without a whole unit", Msg(1, {'a'}), K::kMalformed, "holds no whole UTF-16 unit"},
      {"text of one unit", Msg(1, {'a', 0}), K::kText, ""},
      {"client id without id", Msg(52, {1, 2, 3}), K::kMalformed,
       "is too short for its 4-byte id"},
      {"client id", Msg(52, {7, 0, 0, 0}), K::kClientId, ""},
      {"mixer values short", Msg(1001, {1, 0, 0, 0, 2, 0, 0}), K::kMalformed,
       "is too short for its two 4-byte values"},
      {"mixer values", Msg(1001, {1, 0, 0, 0, 2, 0, 0, 0}), K::kMixerValues, ""},
      {"audio head short", Msg(2, Bytes(15, 0)), K::kMalformed,
       "is too short for its 16-byte head"},
      {"audio fits", Audio(0, 0, 8, {3}, 8), K::kAudio, ""},
      {"audio bytes past the end", Audio(0, 0, 9, {3}, 8), K::kMalformed,
       "is shorter than its entry count (1) and byte count (9) say"},
      {"audio without entries or samples", Audio(0, 0, 0, {}, 0), K::kAudio, ""},
      {"audio byte count wraps in 32 bits", Audio(0, 0, 0xFFFFFFF8u, {3}, 8), K::kMalformed,
       "is shorter than its entry count (1) and byte count (4294967288) say"},
      {"audio chunk index past the cap", Audio(kMaxReceivedChunkIndex + 1, 0, 2, {}, 2),
       K::kMalformed, "names chunk 1024, past the last one taken (1023)"},
      {"audio chunk index at the cap", Audio(kMaxReceivedChunkIndex, 0, 2, {}, 2), K::kAudio, ""},
      {"other type", Msg(77, {}), K::kOther, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReceivedStreamMessage m = DecodeStreamMessage(c.message);
    EXPECT_EQ(m.kind, c.kind);
    EXPECT_EQ(m.fault, c.fault);
  }
  // An entry count that would reach past the block in 64 bits.
  Bytes hugeCount = Audio(0, 0, 0, {}, 0);
  hugeCount[16] = hugeCount[17] = hugeCount[18] = hugeCount[19] = 0xFF;
  EXPECT_EQ(DecodeStreamMessage(hugeCount).kind, K::kMalformed);
}

TEST(StreamMessages, ReceivedFieldsAndTextEnd) {
  // The last unit is forced to NUL: "Hi!" without a NUL reads as "Hi"; an odd last byte is no unit.
  auto text = DecodeStreamMessage(Msg(1, {'H', 0, 'i', 0, '!', 0, 'x'}));
  EXPECT_EQ(text.text, u"Hi");
  EXPECT_EQ(DecodeStreamMessage(Msg(1, {'O', 0, 'K', 0, 0, 0})).text, u"OK");
  EXPECT_EQ(DecodeStreamMessage(Msg(1, {'A', 0, 0, 0, 'B', 0, 0, 0})).text, u"A");

  auto audio = DecodeStreamMessage(Audio(4, 100, 6, {9, 12}, 6));
  EXPECT_EQ(audio.chunkIndex, 4u);
  EXPECT_EQ(audio.position, 100u);
  EXPECT_EQ(audio.pcm.size(), 6u);
  EXPECT_EQ(audio.entryIds, (std::vector<std::uint32_t>{9, 12}));

  EXPECT_EQ(DecodeStreamMessage(Msg(52, {0x78, 0x56, 0x34, 0x12})).clientId, 0x12345678u);
  auto mixer = DecodeStreamMessage(Msg(1001, {1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(mixer.mixerValues[0], 1u);
  EXPECT_EQ(mixer.mixerValues[1], 2u);
}

TEST(StreamMessages, AudioIsForTheClientNamed) {
  struct Case {
    std::vector<std::uint32_t> ids;
    std::uint32_t client;
    bool taken;
  } cases[] = {
      {{}, 0, true},      {{}, 7, true},   {{7}, 7, true},  {{3, 7}, 7, true},
      {{3, 4}, 7, false}, {{0}, 0, false}, {{7}, 0, false},
  };
  for (const Case& c : cases) {
    ReceivedStreamMessage m;
    m.entryIds = c.ids;
    EXPECT_EQ(AudioIsFor(m, c.client), c.taken) << c.ids.size() << " entries, client " << c.client;
  }
}

// ---- destination text ----

TEST(DestinationText, Records) {
  struct Case {
    std::string text;
    std::vector<StreamDestination> list;
  } cases[] = {
      {"5|192.168.0.7|12|10.0.0.1|", {{5, 192, 168, 0, 7}, {12, 10, 0, 0, 1}}},
      {"5|192.168.0.7", {}},
      {"5|192.168.0.7|12|", {{5, 192, 168, 0, 7}}},
      {"", {}},
      {"no bars at all", {}},
      {"1|256.0.0.1|2|1.2.3.4|", {{2, 1, 2, 3, 4}}},
      {"1|1.2.3|2|1.2.3.4.5|3|a.b.c.d|4|1..2.3|5|9.8.7.6|", {{5, 9, 8, 7, 6}}},
      {"1|1.2.3.4|\0002|5.6.7.8|", {{1, 1, 2, 3, 4}}},
      {"x|1.2.3.4|", {{0, 1, 2, 3, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDestinationText(Text(c.text)), c.list);
  }
  // The text ends where cbData says, NUL or not.
  std::string cut = "1|1.2.3.4|2|5.6.7.8|";
  EXPECT_EQ(ParseDestinationText({reinterpret_cast<const std::uint8_t*>(cut.data()), 12}).size(),
            1u);
}

TEST(DestinationText, AtMost256Records) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += std::to_string(i) + "|10.0.0." + std::to_string(i % 256) + "|";
  auto list = ParseDestinationText(Text(text));
  ASSERT_EQ(list.size(), kMaxStreamDestinations);
  EXPECT_EQ(list[255].number, 255u);
  EXPECT_EQ(list[255].d, 255u);
}

// ---- USB shared-memory slots ----

TEST(UsbSlots, PositionsReadTheirSlotAndConsumeIt) {
  struct Case {
    std::uint32_t position;
    std::size_t offset;
    std::size_t other;
  } cases[] = {{0, 67, 1068}, {1, 67, 1068}, {2, 1068, 67}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    Bytes mem(kUsbSharedMemoryBytes, 0);
    std::memcpy(mem.data() + c.offset, "/srv/class/", 12);
    std::memcpy(mem.data() + c.other, "/other/", 8);
    mem[66] = 0x55;
    std::string path;
    ASSERT_TRUE(TakeUsbSlot(mem, c.position, &path));
    EXPECT_EQ(path, "/srv/class/");
    EXPECT_EQ(Bytes(mem.begin() + c.offset, mem.begin() + c.offset + kUsbSlotBytes),
              Bytes(kUsbSlotBytes, 0));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(mem.data() + c.other)), "/other/");
    EXPECT_EQ(mem[66], 0x55);
  }
}

TEST(UsbSlots, FullSlotShortMappingAndBadPosition) {
  Bytes mem(kUsbSharedMemoryBytes, 'a');  // no NUL anywhere
  std::string path;
  ASSERT_TRUE(TakeUsbSlot(mem, 2, &path));
  EXPECT_EQ(path, std::string(1000, 'a'));
  EXPECT_EQ(mem.back(), 0);

  Bytes small(kUsbSharedMemoryBytes - 1, 'b');
  path = "kept";
  EXPECT_FALSE(TakeUsbSlot(small, 2, &path));
  EXPECT_FALSE(TakeUsbSlot(small, 0, &path));
  EXPECT_EQ(small, Bytes(kUsbSharedMemoryBytes - 1, 'b'));
  Bytes full(kUsbSharedMemoryBytes, 'c');
  EXPECT_FALSE(TakeUsbSlot(full, 3, &path));
  EXPECT_EQ(full, Bytes(kUsbSharedMemoryBytes, 'c'));
  EXPECT_EQ(path, "kept");
}
