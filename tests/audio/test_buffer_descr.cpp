// Buffer descriptors: creation, header placement, header layout.
#include <gtest/gtest.h>

#include <cstddef>

#include "audio/buffer_descr.h"

namespace vts {
namespace {

TEST(BufferDescr, MakeGivesZeroedDescriptorWithBlockOfRequestedSize) {
  for (std::uint32_t size : {0u, 1u, 48u, 3528u + 48u}) {
    CBufferDescr* d = MakeBufferDescr(size);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->kind, 0u);
    EXPECT_EQ(d->size, size);
    EXPECT_EQ(d->used, 0u);
    EXPECT_EQ(d->ownerId, 0u);
    EXPECT_EQ(d->trackIndex, 0);
    EXPECT_TRUE(d->spare.empty());
    EXPECT_EQ(d->origin, 0u);
    EXPECT_EQ(d->index, -1);
    EXPECT_EQ(d->holdCount, 1u);
    ASSERT_TRUE(d->data);
    EXPECT_EQ(d->data->size, size);
    EXPECT_NE(d->data->data, nullptr);
    ReleaseBufferDescr(d);
  }
}

TEST(BufferDescr, DataBlockOutlivesDescriptorWhileReferenced) {
  CBufferDescr* d = MakeBufferDescr(100);
  std::shared_ptr<CBufferData> keep = d->data;
  std::weak_ptr<CBufferData> watch = d->data;
  ReleaseBufferDescr(d);
  EXPECT_FALSE(watch.expired());
  keep.reset();
  EXPECT_TRUE(watch.expired());
  ReleaseBufferDescr(nullptr);  // ignored
}

TEST(BufferDescr, CapturedHeaderSitsAtFirst16ByteAlignedAddress) {
  // A captured block carries 64 bytes beyond its samples: whatever the block's alignment,
  // the header starts at the next multiple of 16 and the samples end inside the block.
  for (std::size_t offset : {0u, 8u, 1u, 15u}) {
    CBufferDescr d;
    const std::uint32_t sampleBytes = 4 * 1764;
    auto raw = std::make_shared<CBufferData>(sampleBytes + 64 + 16);
    // Shift the visible start to produce each misalignment.
    std::uint8_t* base = AlignUp16(raw->data) + offset;
    CBufferData view;
    view.data = base;
    view.size = sampleBytes + 64;
    std::shared_ptr<CBufferData> alias(raw, &view);
    d.data = alias;
    SoundBlockHeader* h = CapturedHeader(d);
    auto addr = reinterpret_cast<std::uintptr_t>(h);
    EXPECT_EQ(addr % 16, 0u);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(h) - base, std::ptrdiff_t((16 - offset % 16) % 16));
    EXPECT_LE(SamplesBehind(h) + sampleBytes, base + view.size);
    view.data = nullptr;  // the alias does not own it
    d.data.reset();
  }
}

TEST(BufferDescr, PlaybackHeaderIsAtTheBlockStart) {
  CBufferDescr* d = MakeBufferDescr(48 + 4);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(PlaybackHeader(*d)), d->data->data);
  ReleaseBufferDescr(d);
}

TEST(BufferDescr, HeaderWordsAndMessageNumbers) {
  EXPECT_EQ(offsetof(SoundBlockHeader, channels), 0u);
  EXPECT_EQ(offsetof(SoundBlockHeader, samplesPerSec), 4u);
  EXPECT_EQ(offsetof(SoundBlockHeader, userValue), 8u);
  EXPECT_EQ(offsetof(SoundBlockHeader, sender), 12u);
  EXPECT_EQ(offsetof(SoundBlockHeader, streamIndex), 20u);
  EXPECT_EQ(offsetof(SoundBlockHeader, encoding), 24u);
  EXPECT_EQ(offsetof(SoundBlockHeader, frames), 28u);
  EXPECT_EQ(offsetof(SoundBlockHeader, bitsPerSample), 32u);
  EXPECT_EQ(offsetof(SoundBlockHeader, timestampLo), 40u);
  SoundBlockHeader h{};
  h.SetTimestamp(0x123456789ABCull);
  EXPECT_EQ(h.timestampLo, 0x56789ABCu);
  EXPECT_EQ(h.timestampHi, 0x1234u);
  EXPECT_EQ(h.Timestamp(), 0x123456789ABCull);
  EXPECT_EQ(WM_SOUND_OUT, 0x48Fu);
  EXPECT_EQ(WM_SOUND_IN, 0x490u);
  EngineStateBlock block;
  EXPECT_EQ(block.magic, 0xC0FFEE99u);
}

}  // namespace
}  // namespace vts
