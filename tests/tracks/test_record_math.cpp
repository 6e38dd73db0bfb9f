// The recording arithmetic: automatic gain, mixing, float to 16-bit conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tracks/record_math.h"

namespace vts {
namespace {

struct GainCase {
  const char* what;
  int gainBefore;
  std::int16_t peak;  // the block is {peak, -peak/2, 0}
  int gainAfter;
};

TEST(AutoGain, FollowsThePeakOfEachBlock) {
  const GainCase cases[] = {
      {"silent block keeps the gain", 700, 0, 700},
      {"quiet block: rises half way to its target", 256, 10000, 256 + (786 - 256) / 2},
      {"very quiet block: the rise stops at 1024", 1024, 100, 1024},
      {"after a quiet passage a loud block falls at once", 1024, 30000, 7864080 / 30000},
      {"full-scale negative peak", 256, -32768, 7864080 / 32768},
  };
  for (const auto& c : cases) {
    std::vector<std::int16_t> block = {c.peak, static_cast<std::int16_t>(c.peak / 2 * -1), 0};
    int gain = ApplyAutoGain(block.data(), block.size(), c.gainBefore);
    EXPECT_EQ(gain, c.gainAfter) << c.what;
    EXPECT_EQ(block[0], static_cast<std::int16_t>((int(c.peak) * gain) >> 8)) << c.what;
    EXPECT_LE(std::abs(int(block[0])), 30719) << c.what;
  }
}

TEST(AutoGain, ConvergesOnASteadyToneAndNeverClips) {
  int gain = kUnityGain;
  std::vector<std::int16_t> block(1764);
  for (int round = 0; round < 40; ++round) {
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(i) / 44100));
    gain = ApplyAutoGain(block.data(), block.size(), gain);
    for (auto s : block) ASSERT_LE(std::abs(int(s)), 30719);
  }
  // The half-way rise stops one step short of the target, 7864080 / 8000 = 983.
  EXPECT_GE(gain, 980);
  EXPECT_LE(gain, 983);
}

TEST(AutoGain, SharedValueIsUpdated) {
  RecordGain() = kUnityGain;
  std::vector<std::int16_t> block = {100};
  ApplyAutoGain(block.data(), block.size());
  EXPECT_EQ(RecordGain().load(), kMaxGain);  // target 78640: half way is past the cap
  block = {20000};
  ApplyAutoGain(block.data(), block.size());
  EXPECT_EQ(RecordGain().load(), 7864080 / 20000);
}

TEST(Mixing, AddsWithoutScalingOrClipping) {
  std::vector<float> base = {0.5f, 0.75f, -1.0f};
  std::vector<float> add = {0.75f, 0.5f, -0.5f};
  MixSamples(base.data(), add.data(), base.size());
  EXPECT_FLOAT_EQ(base[0], 1.25f);
  EXPECT_FLOAT_EQ(base[1], 1.25f);
  EXPECT_FLOAT_EQ(base[2], -1.5f);
}

TEST(Converter, FloatToSixteenBitClipsAtFullScale) {
  MonoS16Converter converter;
  ASSERT_TRUE(converter.Valid());
  std::vector<float> in = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -2.0f};
  std::vector<std::int16_t> out(in.size());
  int n = converter.Convert(in.data(), int(in.size()), out.data(), int(out.size()));
  ASSERT_EQ(n, int(in.size()));  // same rate: one sample out per sample in
  EXPECT_EQ(out[0], 0);
  EXPECT_NEAR(out[1], 16384, 1);
  EXPECT_NEAR(out[2], -16384, 1);
  EXPECT_EQ(out[3], 32767);
  EXPECT_EQ(out[4], -32768);
  EXPECT_EQ(out[5], 32767);
  EXPECT_EQ(out[6], -32768);
}

// The recording path converts without the resampler: its samples must be the resampler's,
// on the rounding's halves, at full scale and past it, for blocks of any length and offset.
TEST(Converter, PlainConversionGivesTheResamplersSamples) {
  std::vector<float> values = {0.0f,
                               -0.0f,
                               1.0f,
                               -1.0f,
                               2.0f,
                               -2.0f,
                               1.0f / 65536,
                               -1.0f / 65536,
                               3.0f / 65536,
                               -3.0f / 65536,
                               1e-30f,
                               0.99999f,
                               -0.99999f,
                               32767.5f / 32768,
                               -32768.5f / 32768,
                               32766.5f / 32768};
  // Past full scale as far as two full-scale streams mixed go, and much further (beyond
  // +-65536 times it, and for NaN, the resampler's own results differ with the block's length).
  for (float far : {1.9999f, -1.9999f, 65535.0f, -65535.0f}) values.push_back(far);
  for (int i = -20; i <= 20; ++i) values.push_back((float(i) + 0.5f) / 32768);
  for (int i = 0; i < 997; ++i) values.push_back(float(2.4 * std::sin(i * 0.37)));
  MonoS16Converter reference;
  ASSERT_TRUE(reference.Valid());
  for (std::size_t offset : {std::size_t(0), std::size_t(1), std::size_t(3)})
    for (std::size_t count : {std::size_t(1), std::size_t(7), std::size_t(8), std::size_t(16),
                              std::size_t(31), values.size() - offset}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << ", count " << count);
      std::vector<std::int16_t> want(count), got(count, 12345);
      ASSERT_EQ(reference.Convert(values.data() + offset, int(count), want.data(), int(count)),
                int(count));
      FloatToS16(values.data() + offset, count, got.data());
      for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(got[i], want[i]) << "value " << values[offset + i];
    }
}

}  // namespace
}  // namespace vts
