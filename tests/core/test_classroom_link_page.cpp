// The classroom link's page (docs/classroom-link.md) against the code: every example on the
// page is read from the page itself and checked, so the page cannot drift from the bytes
// the recorder sends and takes. Examples are fenced blocks "```<kind> <name>"; "hex" blocks
// are bytes (two hex digits each, "#" starts a comment), the others are text.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/app_core.h"
#include "core/classroom_memory.h"
#include "core/command_line.h"
#include "core/pipe_channel.h"
#include "core/stream_protocol.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "platform/window_bus.h"
#include "platform/window_bus_wire.h"
#include "test_env.h"
#include "ui/dialog_messages.h"

using namespace vts;
namespace wire = vts::plat::bus_wire;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Example {
  std::string kind;
  std::string text;  // the lines, each with its line feed
};

std::map<std::string, Example> ReadExamples() {
  std::ifstream in(std::string(VTS_SOURCE_DIR) + "/docs/classroom-link.md");
  EXPECT_TRUE(in) << "docs/classroom-link.md cannot be read";
  std::map<std::string, Example> examples;
  std::string line;
  Example* open = nullptr;
  bool inOtherBlock = false;
  while (std::getline(in, line)) {
    if (line.rfind("```", 0) == 0) {
      if (open || inOtherBlock) {
        open = nullptr;
        inOtherBlock = false;
        continue;
      }
      std::istringstream words(line.substr(3));
      std::string kind, name, more;
      words >> kind >> name;
      if (name.empty() || (words >> more)) {
        inOtherBlock = true;  // code that is no example (a program, say)
        continue;
      }
      EXPECT_EQ(examples.count(name), 0u) << "two examples named " << name;
      open = &examples[name];
      open->kind = kind;
      continue;
    }
    if (open) open->text += line + "\n";
  }
  EXPECT_FALSE(open || inOtherBlock) << "a block is not closed";
  return examples;
}

Bytes HexBytes(const Example& e) {
  EXPECT_EQ(e.kind, "hex");
  Bytes out;
  std::istringstream lines(e.text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line.substr(0, line.find('#')));
    for (std::string w; words >> w;) {
      EXPECT_EQ(w.size(), 2u) << "not a byte: " << w;
      out.push_back(static_cast<std::uint8_t>(std::stoul(w, nullptr, 16)));
    }
  }
  return out;
}

// The one message in framed bytes, as the recorder's reader cuts it out.
Bytes Unframe(const Bytes& framed) {
  PipeFramer framer;
  std::vector<Bytes> messages;
  EXPECT_TRUE(framer.Feed(framed, [&](std::span<const std::uint8_t> m) {
    messages.emplace_back(m.begin(), m.end());
  }));
  EXPECT_FALSE(framer.Partial());
  EXPECT_EQ(messages.size(), 1u);
  return messages.empty() ? Bytes{} : messages[0];
}

std::string Relative(const std::string& path) {
  const std::string root = test::TestRoot() + "/";
  EXPECT_EQ(path.rfind(root, 0), 0u) << path;
  return path.substr(root.size());
}

constexpr plat::WindowId kRecorderWindow = 0x0000109200000001;  // process 4242, window 1
constexpr plat::WindowId kFrameworkWindow = 0x000010f700000001;  // process 4343, window 1

class ClassroomLinkPage : public ::testing::Test {
 protected:
  void SetUp() override { examples = ReadExamples(); }
  const Example& Get(const std::string& name) {
    static const Example none;
    auto it = examples.find(name);
    if (it == examples.end()) {
      ADD_FAILURE() << "the page has no example " << name;
      return none;
    }
    return it->second;
  }
  Bytes HexOf(const std::string& name) { return HexBytes(Get(name)); }
  std::map<std::string, Example> examples;
};

}  // namespace

TEST_F(ClassroomLinkPage, EveryExampleIsOneThatThisTestChecks) {
  const std::set<std::string> checked = {
      "runtime-folder",     "stream-hello",      "stream-client-id-request", "stream-client-id",
      "stream-mixer-input", "stream-mixer-values", "stream-text",            "stream-audio",
      "stream-relay",       "bus-registration",  "bus-post-click",           "bus-reply-post",
      "bus-post-link-start", "bus-send-copydata", "bus-reply-copydata",      "usb-slot-position-1",
      "study-sent-path",    "command-line-roles"};
  std::set<std::string> onPage;
  for (const auto& [name, e] : examples) onPage.insert(name);
  EXPECT_EQ(onPage, checked);
}

// Each line: the switches ("-" for none), then the role and the position they give.
TEST_F(ClassroomLinkPage, TheRoleAndPositionOfEachCommandLine) {
  std::istringstream lines(Get("command-line-roles").text);
  int checked = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    ASSERT_GE(args.size(), 3u) << line;
    const std::uint32_t position = static_cast<std::uint32_t>(std::stoul(args.back()));
    args.pop_back();
    const std::string role = args.back();
    args.pop_back();
    if (args == std::vector<std::string>{"-"}) args.clear();
    const CommandLineSwitches s = ParseSwitches(args);
    const std::string got = s.teacherFlag ? "teacher" : s.studentFlag ? "student" : "neither";
    EXPECT_EQ(got, role) << line;
    EXPECT_EQ(s.position, position) << line;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_F(ClassroomLinkPage, PathsBelowTheRoot) {
  const std::string paths = Relative(CPipeChannel::PipePath(CAppCore::kInterfacePipeName)) + "\n" +
                            Relative(CPipeChannel::PipePath(CAppCore::kStreamPipeName)) + "\n" +
                            Relative(plat::WindowBusFolder()) + "\n" +
                            Relative(plat::SharedMemory::Folder() + "/" + kUsbSharedMemoryName) +
                            "\n" +
                            Relative(plat::SharedMemory::Folder() + "/" + kStudySharedMemoryName) +
                            "\n" + Relative(plat::NamedMutexPath(kRecordMutexName)) + "\n";
  EXPECT_EQ(Get("runtime-folder").text, paths);
}

TEST_F(ClassroomLinkPage, WhatTheRecorderSendsOnTheStreamPipe) {
  EXPECT_EQ(HexOf("stream-hello"), EncodeHello());
  EXPECT_EQ(HexOf("stream-client-id-request"), EncodeClientIdRequest());
  EXPECT_EQ(HexOf("stream-mixer-input"), EncodeMixerInput());
  const std::vector<StreamDestination> destinations = {{5, 192, 168, 0, 7}, {12, 10, 0, 0, 1}};
  const std::vector<std::int16_t> samples = {100, -100, 0};
  EXPECT_EQ(HexOf("stream-relay"), EncodeRelay(0, 16384, destinations, samples));
}

TEST_F(ClassroomLinkPage, WhatTheRecorderTakesOnTheStreamPipe) {
  using K = ReceivedStreamMessage::Kind;
  const Bytes id = Unframe(HexOf("stream-client-id"));
  ReceivedStreamMessage m = DecodeStreamMessage(id);
  EXPECT_EQ(m.kind, K::kClientId);
  EXPECT_EQ(m.clientId, 7u);

  const Bytes values = Unframe(HexOf("stream-mixer-values"));
  m = DecodeStreamMessage(values);
  EXPECT_EQ(m.kind, K::kMixerValues);
  EXPECT_EQ(m.mixerValues[0], 5u);
  EXPECT_EQ(m.mixerValues[1], 6u);

  const Bytes text = Unframe(HexOf("stream-text"));
  m = DecodeStreamMessage(text);
  EXPECT_EQ(m.kind, K::kText);
  EXPECT_EQ(m.text, u"Hi");

  const Bytes audio = Unframe(HexOf("stream-audio"));
  m = DecodeStreamMessage(audio);
  ASSERT_EQ(m.kind, K::kAudio);
  EXPECT_EQ(m.chunkIndex, 0u);
  EXPECT_EQ(m.position, 0u);
  EXPECT_EQ(m.entryIds, std::vector<std::uint32_t>{7});
  EXPECT_EQ(Bytes(m.pcm.begin(), m.pcm.end()), (Bytes{0x01, 0x00, 0x02, 0x00, 0xff, 0xff}));
  EXPECT_TRUE(AudioIsFor(m, 7));
  EXPECT_FALSE(AudioIsFor(m, 8));
}

TEST_F(ClassroomLinkPage, TheRegistrationOfAWindow) {
  const std::string text = Get("bus-registration").text;
  wire::Registration r;
  ASSERT_TRUE(wire::ParseRegistration(text, &r)) << text;
  EXPECT_EQ(r.id, kRecorderWindow);
  EXPECT_EQ(r.id >> 32, r.pid) << "a window id begins with its process id";
  EXPECT_EQ(r.pid, 4242u);
  EXPECT_EQ(r.startTime, 1234567u);
  EXPECT_EQ(r.createdNs, 1733840000000000000u);
  EXPECT_EQ(r.className, "#32770");
  EXPECT_EQ(r.text, u"_1VoxtrailstudyUser");
  EXPECT_EQ(wire::FormatRegistration(r), text);
  EXPECT_EQ(wire::IdName(r.id), "0000109200000001");
}

TEST_F(ClassroomLinkPage, RequestsAndRepliesOnTheBus) {
  wire::Request click;
  click.kind = wire::kKindPost;
  click.target = kRecorderWindow;
  click.message = ui::WM_REMOTECONTROL;
  click.senderPid = 4343;
  click.wParam = 1017;
  wire::Request link = click;
  link.wParam = static_cast<std::uint64_t>(std::int64_t{-3});
  link.lParam = kFrameworkWindow;
  wire::Request copy = click;
  copy.kind = wire::kKindSend;
  copy.message = ui::WM_COPYDATA;
  copy.wParam = kFrameworkWindow;
  copy.copyData = true;
  copy.dwData = 1;
  const std::string list = "5|192.168.0.7|12|10.0.0.1|";
  copy.payload.assign(list.begin(), list.end());

  struct Row {
    const char* name;
    const wire::Request& request;
  } rows[] = {{"bus-post-click", click}, {"bus-post-link-start", link}, {"bus-send-copydata", copy}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Bytes bytes = HexOf(r.name);
    EXPECT_EQ(bytes, wire::EncodeRequest(r.request));
    // And the window takes it as it stands.
    std::size_t total = 0;
    ASSERT_TRUE(wire::CheckRequestHeader(bytes, &total));
    EXPECT_EQ(total, bytes.size());
    EXPECT_EQ(wire::EncodeRequest(wire::DecodeRequest(bytes)), bytes);
  }
  EXPECT_EQ(ui::WM_COPYDATA, plat::WM_COPYDATA);
  EXPECT_EQ(ParseDestinationText(copy.payload),
            (std::vector<StreamDestination>{{5, 192, 168, 0, 7}, {12, 10, 0, 0, 1}}));

  const auto postReply = wire::EncodeReply(wire::kStatusOk, 0);
  const auto copyReply = wire::EncodeReply(wire::kStatusOk, 1);
  EXPECT_EQ(HexOf("bus-reply-post"), Bytes(postReply.begin(), postReply.end()));
  EXPECT_EQ(HexOf("bus-reply-copydata"), Bytes(copyReply.begin(), copyReply.end()));
}

TEST_F(ClassroomLinkPage, TheSharedMemoriesAsTheRecorderUsesThem) {
  // A framework's target path for position 1, taken by the recorder's request 11.
  auto usb = plat::SharedMemory::Create(kUsbSharedMemoryName, kUsbSharedMemoryBytes);
  ASSERT_TRUE(usb);
  const Bytes slot = HexOf("usb-slot-position-1");
  std::memcpy(usb->Data() + kUsbSlotOffsetPos01, slot.data(), slot.size());
  std::string path;
  ASSERT_TRUE(TakeStudentWorkTarget(1, &path));
  EXPECT_EQ(path, "/home/student/work/");
  EXPECT_EQ(Bytes(usb->Data() + kUsbSlotOffsetPos01,
                  usb->Data() + kUsbSlotOffsetPos01 + kUsbSlotBytes),
            Bytes(kUsbSlotBytes, 0));

  // The path Send leaves for the framework.
  auto study = plat::SharedMemory::Create(kStudySharedMemoryName, 4096);
  ASSERT_TRUE(study);
  ASSERT_EQ(WriteSentWorkPath(u"/home/teacher/Documents/QOR123456.vxb"), SentWorkResult::kWritten);
  const Bytes sent = HexOf("study-sent-path");
  EXPECT_EQ(Bytes(study->Data(), study->Data() + sent.size()), sent);
}
