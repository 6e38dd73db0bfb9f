// "MixerData.bin" on the virtual sound backend (and, with VTS_MIXER_PULSE, on the private
// PulseAudio server): the fresh block from the present devices, the file's bytes, levels
// restored and unmuted at the next start, line levels of the output's adapter, files that
// are treated as missing, and what is not stored or applied.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "audio/virtual_endpoints.h"
#include "core/mixer_state.h"
#include "pulse_endpoints.h"
#include "test_env.h"
#ifdef VTS_MIXER_PULSE
#include "pulse_util.h"
#endif

namespace vts {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
std::uint32_t U32At(const std::string& b, std::size_t at) {
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
         std::uint32_t(std::uint8_t(b[at + 2])) << 16 |
         std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}
// The id at a file offset, read up to its NUL.
std::u16string IdAt(const std::string& b, std::size_t at) {
  std::u16string id;
  for (std::size_t i = 0; i < 128; ++i) {
    const char16_t u = char16_t(std::uint8_t(b[at + 2 * i]) | std::uint8_t(b[at + 2 * i + 1]) << 8);
    if (!u) break;
    id.push_back(u);
  }
  return id;
}

#ifndef VTS_MIXER_PULSE

class MixerState : public ::testing::Test {
 protected:
  void SetUp() override {
    v = audio::VirtualEndpoints::Instance();
    v->Reset(false);
    auto add = [this](std::string id, std::string name, DataFlow flow, std::string card = {},
                      std::string port = {}) {
      audio::VirtualDeviceSpec spec;
      spec.id = std::move(id);
      spec.name = std::move(name);
      spec.flow = flow;
      spec.card = std::move(card);
      spec.port = std::move(port);
      v->AddDevice(spec);
    };
    add("hdmi", "HDMI Output", DataFlow::Render, "card2");
    add("spk", "Speakers", DataFlow::Render, "card1");
    add("mic", "Microphone", DataFlow::Capture, "card1", "Front Mic");
    add("line", "Line", DataFlow::Capture, "card1", "Line In");
    add("cable2", "Cable Output (VB-Audio Virtual Cable)", DataFlow::Capture);
    add("cable", "CABLE Output (VB-Audio Virtual Cable)", DataFlow::Capture);
    v->SetDefault(DataFlow::Render, "spk");
    v->SetDefault(DataFlow::Capture, "mic");
    Level("hdmi", 0.9f);
    Level("spk", 0.59f);
    Level("mic", 0.3f);
    Level("line", 0.45f);
    Level("cable", 0.8f);
    path = test::MakeTempDir("mixer") + "/MixerData.bin";
  }
  void TearDown() override { v->Reset(); }
  void Level(const char* id, float level, bool muted = false) {
    ASSERT_TRUE(v->SetVolumeState(id, level, muted));
  }
  float LevelOf(const char* id, bool* muted = nullptr) {
    float level = -1;
    bool m = false;
    EXPECT_TRUE(v->VolumeState(id, &level, &m));
    if (muted) *muted = m;
    return level;
  }
  std::shared_ptr<audio::VirtualEndpoints> v;
  std::string path;
};

TEST_F(MixerState, AFreshBlockTakesThePresentDevicesAndTheirLevels) {
  CMixerState state(v);
  EXPECT_FALSE(state.SerializeMixerState(false, path)) << "no file";
  const MixerBlock& b = state.Block();
  const MixerSet& s0 = b.sets[0];
  const MixerSet& s1 = b.sets[1];
  EXPECT_EQ(s0.entries[0].id, u"spk");
  EXPECT_EQ(s0.entries[1].id, u"mic");
  EXPECT_EQ(s0.entries[2].id, u"cable") << "the exact name only";
  EXPECT_EQ(s0.entries[3].id, u"");
  EXPECT_EQ(s1.entries[0].id, u"hdmi");
  EXPECT_EQ(s1.entries[1].id, u"line");
  EXPECT_EQ(s1.entries[2].id, u"");
  EXPECT_EQ(s0.entries[0].volume, 59u);
  EXPECT_EQ(s0.entries[1].volume, 30u);
  EXPECT_EQ(s0.entries[2].volume, 80u);
  EXPECT_EQ(s1.entries[0].volume, 90u);
  EXPECT_EQ(s1.entries[1].volume, 45u);
  // The speakers' card: "Front Mic" is a microphone line, "Line In" a line-in; no wave.
  EXPECT_EQ(s0.micLine, 30u);
  EXPECT_EQ(s0.lineInLine, 45u);
  EXPECT_EQ(s0.waveLine, 0u);
  EXPECT_EQ(s1.micLine, 0u) << "the HDMI card has no lines";
}

TEST_F(MixerState, TheFileIs2116BytesAndTheNextStartRestoresAndUnmutes) {
  {
    CMixerState state(v);
    state.SerializeMixerState(false, path);
    ASSERT_TRUE(state.SerializeMixerState(true, ""));
  }
  const std::string b = Bytes(path);
  ASSERT_EQ(b.size(), 2116u);
  EXPECT_EQ(U32At(b, 0), 2u);
  struct Field {
    std::size_t at;
    std::u16string id;
    std::uint32_t value;
  };
  // Set 0 at 4, set 1 at 4 + 1056.
  const Field fields[] = {
      {4 + 0, u"spk", 0},     {4 + 256, {}, 59},      {4 + 260, {}, 30},
      {4 + 264, {}, 45},      {4 + 268, {}, 0},       {4 + 272, u"mic", 0},
      {4 + 528, {}, 30},      {4 + 532, u"cable", 0}, {4 + 788, {}, 80},
      {4 + 792, u"", 0},      {4 + 1048, {}, 0},      {4 + 1052, {}, 0},
      {1060 + 0, u"hdmi", 0}, {1060 + 256, {}, 90},   {1060 + 272, u"line", 0},
      {1060 + 528, {}, 45},
  };
  for (const Field& f : fields) {
    if (!f.id.empty() || f.value == 0) EXPECT_EQ(IdAt(b, f.at), f.id) << f.at;
    if (f.id.empty()) EXPECT_EQ(U32At(b, f.at), f.value) << f.at;
  }

  // The user changes levels while the program is away; the next start puts them back.
  Level("spk", 0.1f, true);
  Level("mic", 1.0f, true);
  Level("line", 0.0f);
  Level("hdmi", 0.2f, true);
  CMixerState again(v);
  EXPECT_TRUE(again.SerializeMixerState(false, path));
  bool muted = true;
  EXPECT_NEAR(LevelOf("spk", &muted), 0.59f, 1e-6);
  EXPECT_FALSE(muted);
  EXPECT_NEAR(LevelOf("mic", &muted), 0.30f, 1e-6);
  EXPECT_FALSE(muted);
  EXPECT_NEAR(LevelOf("line"), 0.45f, 1e-6) << "its line value";
  EXPECT_NEAR(LevelOf("hdmi", &muted), 0.90f, 1e-6);
  EXPECT_FALSE(muted);
  // The block is not read again: the same bytes go back at exit.
  ASSERT_TRUE(again.SerializeMixerState(true, ""));
  EXPECT_EQ(Bytes(path), b);
}

TEST_F(MixerState, FilesTreatedAsMissingAreReplacedWithVersion2) {
  struct Case {
    const char* what;
    std::string bytes;
    bool result;
  };
  std::string version1(2116, '\0');
  version1[0] = 1;
  std::string shortBlock(100, '\0');
  shortBlock[0] = 2;
  const Case cases[] = {
      {"version 1", version1, false},
      {"shorter than the version", std::string(3, '\x02'), false},
      {"version 2 with a short block", shortBlock, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(path, c.bytes);
    CMixerState state(v);
    EXPECT_EQ(state.SerializeMixerState(false, path), c.result);
    EXPECT_EQ(state.Block().sets[0].entries[0].id, u"spk");
    EXPECT_EQ(state.Block().sets[0].entries[0].volume, 59u) << "read from the device";
    ASSERT_TRUE(state.SerializeMixerState(true, ""));
    const std::string b = Bytes(path);
    ASSERT_EQ(b.size(), 2116u);
    EXPECT_EQ(U32At(b, 0), 2u);
  }
}

TEST_F(MixerState, OneRenderAndOneCaptureFillBothSetsAlike) {
  v->Reset(false);
  v->AddDevice({"only_out", "Out", DataFlow::Render});
  v->AddDevice({"only_in", "In", DataFlow::Capture});
  v->SetDefault(DataFlow::Render, "only_out");
  v->SetDefault(DataFlow::Capture, "only_in");
  CMixerState state(v);
  state.BuildMixerDefaults();
  const MixerBlock& b = state.Block();
  EXPECT_EQ(b.sets[1].entries[0].id, u"only_out");
  EXPECT_EQ(b.sets[1].entries[1].id, u"only_in");
  EXPECT_EQ(b.sets[0].entries[0].id, u"only_out");
  EXPECT_EQ(b.sets[0].entries[1].id, u"only_in");
}

TEST_F(MixerState, NoDevicesLeaveAZeroBlock) {
  v->Reset(false);
  CMixerState state(v);
  EXPECT_FALSE(state.SerializeMixerState(false, path));
  EXPECT_EQ(state.Block(), MixerBlock{});
  ASSERT_TRUE(state.SerializeMixerState(true, ""));
  EXPECT_EQ(Bytes(path).substr(4), std::string(2112, '\0'));
}

TEST_F(MixerState, IdsThatDoNotFitAndLevelsBeyond100AreNeitherStoredNorApplied) {
  // A server id of 128 units or more could not end in a NUL: stored empty.
  const std::string longId(130, 'x');
  v->AddDevice({longId, "Long", DataFlow::Render});
  v->SetDefault(DataFlow::Render, longId);
  CMixerState state(v);
  state.BuildMixerDefaults();
  EXPECT_EQ(state.Block().sets[0].entries[0].id, u"");
  const auto bytes = EncodeMixerBlock(state.Block());
  EXPECT_EQ(DecodeMixerBlock(bytes.data()), state.Block());

  // An id without its NUL is read to 128 units, not into the volume after it.
  std::array<std::uint8_t, kMixerBlockBytes> raw{};
  for (std::size_t i = 0; i < 256; i += 2) raw[i] = 'a';
  raw[256] = 42;
  const MixerBlock read = DecodeMixerBlock(raw.data());
  EXPECT_EQ(read.sets[0].entries[0].id, std::u16string(128, u'a'));
  EXPECT_EQ(read.sets[0].entries[0].volume, 42u);

  // A remembered volume over 100 leaves the device's level alone (it is still unmuted); a
  // line value of 0 is the line's lowest level.
  MixerBlock block{};
  block.sets[0].entries[0] = {u"spk", 150};
  block.sets[0].entries[1] = {u"mic", 20};
  block.sets[0].micLine = 0;
  block.sets[0].lineInLine = 250;
  std::string file(4, '\0');
  file[0] = 2;
  const auto encoded = EncodeMixerBlock(block);
  file.append(encoded.begin(), encoded.end());
  Write(path, file);
  Level("spk", 0.59f, true);
  CMixerState load(v);
  EXPECT_TRUE(load.SerializeMixerState(false, path));
  bool muted = true;
  EXPECT_NEAR(LevelOf("spk", &muted), 0.59f, 1e-6);
  EXPECT_FALSE(muted);
  EXPECT_NEAR(LevelOf("mic"), 0.0f, 1e-6) << "mic line value 0 after its volume 20";
  EXPECT_NEAR(LevelOf("line"), 0.45f, 1e-6) << "line-in value 250 not applied";
}

TEST(MixerStateNoServer, AZeroBlockWhenTheServerCannotBeReached) {
  setenv("PULSE_SERVER", "unix:/nonexistent/vts-no-server", 1);
  CMixerState state(audio::MakePulseBackend());
  const std::string path = test::MakeTempDir("mixer") + "/MixerData.bin";
  EXPECT_FALSE(state.SerializeMixerState(false, path));
  EXPECT_EQ(state.Block(), MixerBlock{});
  EXPECT_TRUE(state.SerializeMixerState(true, ""));
  EXPECT_EQ(Bytes(path).size(), 2116u);
  unsetenv("PULSE_SERVER");
}

#else  // the private PulseAudio server

TEST(MixerStatePulse, TheServersDevicesAreRememberedAndRestoredUnmuted) {
  ASSERT_FALSE(test::PulseTestServer().empty()) << "no private PulseAudio server";
  const test::ServerLevelsKeeper levels({"vts_speaker"}, {"vts_mic"});
  test::RunShell("pactl set-default-sink vts_speaker; pactl set-default-source vts_mic");
  test::RunShell("pactl set-sink-volume vts_speaker 59% && pactl set-sink-mute vts_speaker 0");
  test::RunShell("pactl set-source-volume vts_mic 35% && pactl set-source-mute vts_mic 0");
  const std::string path = test::MakeTempDir("mixer") + "/MixerData.bin";
  {
    CMixerState state(audio::MakePulseBackend());
    EXPECT_FALSE(state.SerializeMixerState(false, path));
    ASSERT_TRUE(state.SerializeMixerState(true, ""));
  }
  const std::string b = Bytes(path);
  ASSERT_EQ(b.size(), 2116u);
  EXPECT_EQ(U32At(b, 0), 2u);
  EXPECT_EQ(IdAt(b, 4), u"vts_speaker");
  EXPECT_EQ(U32At(b, 4 + 256), 59u);
  EXPECT_EQ(IdAt(b, 4 + 272), u"vts_mic");
  EXPECT_EQ(U32At(b, 4 + 528), 35u);
  EXPECT_EQ(IdAt(b, 4 + 532), u"") << "no virtual cable on this server";
  EXPECT_EQ(IdAt(b, 1060), u"vts_mic_in") << "set 1: the other sink";

  test::RunShell("pactl set-sink-volume vts_speaker 12% && pactl set-sink-mute vts_speaker 1");
  test::RunShell("pactl set-source-volume vts_mic 90% && pactl set-source-mute vts_mic 1");
  {
    CMixerState state(audio::MakePulseBackend());
    EXPECT_TRUE(state.SerializeMixerState(false, path));
  }
  EXPECT_NE(test::RunShell("pactl get-sink-volume vts_speaker").find(" 59% "), std::string::npos);
  EXPECT_EQ(test::RunShell("pactl get-sink-mute vts_speaker"), "Mute: no");
  EXPECT_NE(test::RunShell("pactl get-source-volume vts_mic").find(" 35% "), std::string::npos);
  EXPECT_EQ(test::RunShell("pactl get-source-mute vts_mic"), "Mute: no");
}

#endif

}  // namespace
}  // namespace vts
