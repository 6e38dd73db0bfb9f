// classroom-double: the classroom daemon / framework double as a program, for tests that
// need it in a process of its own. Uses VOXTRAILSTUDY_ROOT like the recorder.
//
//   classroom-double window [--class C] [--text T] [--log FILE] [--ready FILE] [--reply N]
//                           [--hang] [--lifetime-ms N]
//       registers a window (default: the daemon's class), appends one line per received
//       message to FILE, writes its window id (hex) to the ready file once reachable, and
//       runs until it gets WM_CLOSE, SIGTERM or its lifetime ends. --hang never handles
//       anything (a hung receiver).
//   classroom-double post  [--class C] [--text T] [--position P] MSG WPARAM LPARAM
//   classroom-double send  [--class C] [--text T] [--position P] [--timeout-ms N] MSG WPARAM LPARAM
//   classroom-double copydata [--class C] [--text T] [--position P] DWDATA TEXT
//       find the window (--position P: the recorder window "_PVoxtrailstudyUser") and post or
//       send; "send" and "copydata" print the result. Exit 0 on success, 1 on failure.
//   classroom-double shm [--usb] [--study SIZE] [--slot P=PATH]... [--ready FILE]
//                        [--out FILE] [--lifetime-ms N]
//       creates and holds the shared memories until SIGTERM or the lifetime ends; then
//       writes the sent-work path found in VOXTRAILSTUDY_SHAREDMEM (UTF-8) to --out.
//   classroom-double register-and-die [--class C] [--text T] [--ready FILE]
//       registers a window and ends at once without unregistering (a crashed program).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "classroom_double.h"
#include "platform/utf.h"

using namespace vts;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Args {
  std::map<std::string, std::string> options;
  std::vector<std::string> slots;
  std::vector<std::string> positional;
  bool Has(const std::string& k) const { return options.count(k) > 0; }
  std::string Get(const std::string& k, const std::string& def = "") const {
    auto it = options.find(k);
    return it == options.end() ? def : it->second;
  }
};

Args Parse(int argc, char** argv, int first) {
  Args a;
  for (int i = first; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--hang" || s == "--usb") {
      a.options[s] = "1";
    } else if (s.rfind("--", 0) == 0 && i + 1 < argc) {
      if (s == "--slot")
        a.slots.push_back(argv[++i]);
      else
        a.options[s] = argv[++i];
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

long long Number(const std::string& s) { return std::strtoll(s.c_str(), nullptr, 0); }

std::u16string Widen(const std::string& s) { return plat::Utf8ToUtf16(s); }

void WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << text;
  }
  std::rename(tmp.c_str(), path.c_str());
}

void RunFor(long long lifetimeMs, const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(lifetimeMs);
  while (!g_stop && !done() && std::chrono::steady_clock::now() < end) usleep(10000);
}

plat::WindowId FindTarget(const Args& a) {
  if (a.Has("--position"))
    return test::ClassroomFrameworkDouble::FindRecorder(
        static_cast<unsigned>(Number(a.Get("--position"))));
  return plat::FindWindow(a.Get("--class", a.Has("--text") ? "" : test::kDaemonClassName),
                          Widen(a.Get("--text")));
}

int Window(const Args& a) {
  test::ClassroomWindowDouble w;
  std::string error;
  std::string log = a.Get("--log");
  std::atomic<bool> closed{false};
  w.OnMessage([&](const test::ReceivedMessage& m) {
    if (!log.empty()) {
      std::ofstream f(log, std::ios::app);
      f << test::DescribeMessage(m) << "\n";
    }
    if (m.message == plat::WM_CLOSE) closed = true;
  });
  w.SetReply(static_cast<plat::LRESULT>(Number(a.Get("--reply", "0"))));
  if (a.Has("--hang")) w.SetHung(true);
  if (!w.Start(a.Get("--class", test::kDaemonClassName), Widen(a.Get("--text")), &error)) {
    std::fprintf(stderr, "classroom-double: %s\n", error.c_str());
    return 1;
  }
  if (a.Has("--ready")) {
    char id[32];
    std::snprintf(id, sizeof id, "%llx\n", static_cast<unsigned long long>(w.Id()));
    WriteFileAtomically(a.Get("--ready"), id);
  }
  RunFor(Number(a.Get("--lifetime-ms", "60000")), [&] { return closed.load(); });
  w.Stop();
  return 0;
}

int PostOrSend(const std::string& verb, const Args& a) {
  plat::WindowId target = FindTarget(a);
  if (!target) {
    std::fprintf(stderr, "classroom-double: no such window\n");
    return 1;
  }
  auto timeout = std::chrono::milliseconds(Number(a.Get("--timeout-ms", "5000")));
  plat::LRESULT result = 0;
  bool ok = false;
  if (verb == "copydata") {
    if (a.positional.size() != 2) return 2;
    ok = test::ClassroomFrameworkDouble::SendCopyText(
        target, static_cast<plat::ULONG_PTR>(Number(a.positional[0])), a.positional[1], &result,
        timeout);
  } else {
    if (a.positional.size() != 3) return 2;
    auto msg = static_cast<std::uint32_t>(Number(a.positional[0]));
    auto wp = static_cast<plat::WPARAM>(Number(a.positional[1]));
    auto lp = static_cast<plat::LPARAM>(Number(a.positional[2]));
    ok = verb == "post" ? plat::PostMessage(target, msg, wp, lp)
                        : plat::SendMessage(target, msg, wp, lp, &result, timeout);
  }
  if (ok && verb != "post") std::printf("%lld\n", static_cast<long long>(result));
  return ok ? 0 : 1;
}

int Shm(const Args& a) {
  test::ClassroomFrameworkDouble fw;
  std::string error;
  if (a.Has("--usb") && !fw.CreateUsbSharedMemory(&error)) {
    std::fprintf(stderr, "classroom-double: %s\n", error.c_str());
    return 1;
  }
  if (a.Has("--study") &&
      !fw.CreateStudySharedMemory(static_cast<std::size_t>(Number(a.Get("--study"))), &error)) {
    std::fprintf(stderr, "classroom-double: %s\n", error.c_str());
    return 1;
  }
  for (const auto& s : a.slots) {
    auto eq = s.find('=');
    if (eq == std::string::npos ||
        !fw.SetTargetPath(static_cast<unsigned>(Number(s.substr(0, eq))), s.substr(eq + 1)))
      return 2;
  }
  if (a.Has("--ready")) WriteFileAtomically(a.Get("--ready"), "ready\n");
  RunFor(Number(a.Get("--lifetime-ms", "60000")), [] { return false; });
  if (a.Has("--out")) {
    WriteFileAtomically(a.Get("--out"), plat::Utf16ToUtf8(fw.ReadSentWorkPath()));
  }
  return 0;
}

int RegisterAndDie(const Args& a) {
  auto w = plat::BusWindow::Create(a.Get("--class", test::kDaemonClassName), Widen(a.Get("--text")),
                                   nullptr);
  if (!w) return 1;
  if (a.Has("--ready")) {
    char id[32];
    std::snprintf(id, sizeof id, "%llx\n", static_cast<unsigned long long>(w->Id()));
    WriteFileAtomically(a.Get("--ready"), id);
  }
  std::fflush(nullptr);
  _exit(0);  // no unregistering: the registration stays behind
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: classroom-double window|post|send|copydata|shm|register-and-die ...\n");
    return 2;
  }
  std::string verb = argv[1];
  Args a = Parse(argc, argv, 2);
  if (verb == "window") return Window(a);
  if (verb == "post" || verb == "send" || verb == "copydata") return PostOrSend(verb, a);
  if (verb == "shm") return Shm(a);
  if (verb == "register-and-die") return RegisterAndDie(a);
  std::fprintf(stderr, "classroom-double: unknown command %s\n", verb.c_str());
  return 2;
}
