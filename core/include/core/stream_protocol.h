// The classroom link's wire formats, free of threads, sockets and Qt so that they can be
// tested and fuzzed on their own:
// - the pipe framing (u32 LE length N, then N bytes) as an incremental framer;
// - the stream-pipe messages the recorder sends (hello, client-id request, mixer-input
//   notice, Student audio relay) and the decoding of those it receives;
// - the planning of the Student stream in blocks;
// - the destination text of WM_COPYDATA and the target-path slots of the USB shared memory.
//
// Threading: plain functions and value types; a PipeFramer belongs to one reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vts {

// One receiver of the stream: a number and an IPv4 address a.b.c.d.
struct StreamDestination {
  std::uint32_t number = 0;
  std::uint8_t a = 0, b = 0, c = 0, d = 0;
  bool operator==(const StreamDestination&) const = default;
};
static_assert(sizeof(StreamDestination) == 8);
constexpr std::uint32_t kMaxStreamDestinations = 256;

// Stream-pipe message types.
constexpr std::uint32_t STREAM_MSG_TEXT = 1;
constexpr std::uint32_t STREAM_MSG_AUDIO = 2;
constexpr std::uint32_t STREAM_MSG_CLIENT_ID = 52;
constexpr std::uint32_t STREAM_MSG_HELLO = 54;
constexpr std::uint32_t STREAM_MSG_RELAY = 55;
constexpr std::uint32_t STREAM_MSG_MIXER_VALUES = 1001;
constexpr std::uint32_t STREAM_MSG_MIXER_INPUT = 1081;

// A framed message longer than this ends the connection (nothing legitimate comes near it).
constexpr std::uint32_t kMaxPipeMessageBytes = 16u * 1024 * 1024;
// Samples per full relay block.
constexpr std::uint32_t kStreamBlockSamples = 16384;
// Received audio naming a chunk past this index is dropped (each index may add a chunk).
constexpr std::uint32_t kMaxReceivedChunkIndex = 1023;

// Cuts a byte stream into framed messages; lengths and bodies may arrive in any pieces.
class PipeFramer {
 public:
  // One whole message: its N bytes (the block of the channel is u32 N, then these).
  using Deliver = std::function<void(std::span<const std::uint8_t> message)>;

  // Feeds bytes; calls `deliver` for every message completed by them. False when a length
  // over kMaxPipeMessageBytes arrived: the stream is unusable from then on.
  bool Feed(std::span<const std::uint8_t> bytes, const Deliver& deliver);
  bool Failed() const { return failed_; }
  // The length that failed the stream.
  std::uint32_t RefusedLength() const { return failed_ ? expected_ : 0; }
  // True while a message is half received (a length or a body in pieces).
  bool Partial() const { return headerFill_ != 0 || inBody_; }
  // Of a half-received message: the bytes that came, its length field's included, and the
  // size it will have with that field (4 while the length itself is incomplete).
  std::size_t PartialBytes() const { return inBody_ ? 4 + body_.size() : headerFill_; }
  std::size_t PartialSize() const { return inBody_ ? 4 + std::size_t(expected_) : 4; }

 private:
  std::uint8_t header_[4] = {};
  std::size_t headerFill_ = 0;
  bool inBody_ = false;
  std::uint32_t expected_ = 0;
  std::vector<std::uint8_t> body_;
  bool failed_ = false;
};

// ---- messages sent by the recorder (each returned whole, its length field first) ----
std::vector<std::uint8_t> EncodeHello();            // 54
std::vector<std::uint8_t> EncodeClientIdRequest();  // 52
std::vector<std::uint8_t> EncodeMixerInput();       // 1081
// 55: n samples of chunk `chunkIndex` from `position`, addressed to `destinations`.
std::vector<std::uint8_t> EncodeRelay(std::uint32_t chunkIndex, std::uint32_t position,
                                      std::span<const StreamDestination> destinations,
                                      std::span<const std::int16_t> samples);

// ---- the Student stream's blocks ----
// Where the stream stands: the chunk it belongs to and the first sample not yet sent.
struct StreamCursor {
  std::int32_t chunk = -1;
  std::uint32_t position = 0;
};
struct StreamBlock {
  std::uint32_t position = 0;  // first sample
  std::uint32_t samples = 0;   // 0: nothing to send
};
// The next block of a chunk now `chunkLength` samples long; moves the cursor past it (a
// final block, or a final call with nothing to send, puts it back to 0). A cursor of another
// chunk, or past the chunk's end (the chunk was cut), starts again at 0.
StreamBlock NextStreamBlock(StreamCursor& cursor, std::int32_t chunk, std::uint32_t chunkLength,
                            bool final);

// ---- messages received from the stream peer ----
struct ReceivedStreamMessage {
  enum class Kind { kMalformed, kOther, kText, kAudio, kClientId, kMixerValues };
  Kind kind = Kind::kMalformed;
  std::uint32_t type = 0;
  std::string fault;  // kMalformed: what does not fit, e.g. "has no type"
  std::u16string text;  // kText: up to its NUL (the last unit is forced to NUL)
  // kAudio
  std::uint32_t chunkIndex = 0;
  std::uint32_t position = 0;
  std::span<const std::uint8_t> pcm;    // points into the decoded message
  std::vector<std::uint32_t> entryIds;  // the second u32 of each entry
  // kClientId
  std::uint32_t clientId = 0;
  // kMixerValues: input 1 ("Mic"), input 2 ("Mix")
  std::uint32_t mixerValues[2] = {0, 0};
};
// Decodes the N bytes of one framed message (type first). Anything that does not fit its
// own length, or an audio message past kMaxReceivedChunkIndex, is kMalformed.
ReceivedStreamMessage DecodeStreamMessage(std::span<const std::uint8_t> message);
// Whether received audio is meant for this client: no entries, or an entry naming the id
// (never before an id arrived: 0 names nobody).
bool AudioIsFor(const ReceivedStreamMessage& audio, std::uint32_t clientId);

// ---- classroom requests ----
// The WM_COPYDATA destination text "5|192.168.0.7|12|10.0.0.1|": complete records only, at
// most kMaxStreamDestinations; a record whose address is not four numbers 0-255 is skipped.
std::vector<StreamDestination> ParseDestinationText(std::span<const std::uint8_t> text);

// "PXN_USB_SHAREDMEM": the target-path slots of the positions.
constexpr std::size_t kUsbSharedMemoryBytes = 2069;
constexpr std::size_t kUsbSlotBytes = 1001;
constexpr std::size_t kUsbSlotOffsetPos01 = 67;
constexpr std::size_t kUsbSlotOffsetPos2 = 1068;
constexpr std::size_t kMaxTargetPathChars = 259;
// Takes the target path of `position` out of the mapping's bytes: at most 1000 bytes up to
// a NUL, then the slot's 1001 bytes are zeroed (the path is consumed). False (nothing read,
// nothing cleared) for a mapping under 2069 bytes or a position other than 0, 1, 2.
bool TakeUsbSlot(std::span<std::uint8_t> mapping, std::uint32_t position, std::string* path);

}  // namespace vts
