// CPU of the recorder program as a person uses it: a real window under Xvfb (with openbox),
// sound on a private PulseAudio server. Measures the process's CPU from /proc/<pid>/stat
// over 10 s idle, while the Master plays a long chunk, while the Student records a tone
// from the microphone, and with a video loaded and stopped (after one play of it), with the
// context switches of its threads a second (its wake-ups); prints every run and the median
// of each. Beside it, in the same run, the floor: a plain play stream (paplay) of the same
// lesson and a plain record stream (parecord) of the same microphone, at the engine's
// format; and for every state the sound server's own CPU. Playing and recording are also
// broken down by thread (by name; the first thread is "main").
//
// Usage: bench_recorder_cpu [runs] (default 3). VTS_BENCH_RECORDER names another recorder
// program to measure (another build, for a before-and-after). Needs xvfb, openbox, xdotool, sox,
// pactl, ffmpeg; starts its own sound server and X display and ends them.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Run(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// utime + stime of a process (or of one thread: "<pid>/task/<tid>"), in clock ticks.
long long CpuTicks(const std::string& pid) {
  std::ifstream f("/proc/" + pid + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), {});
  const auto close = all.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

// Context switches of one thread, from its status.
long long ThreadSwitches(const std::string& task) {
  std::ifstream f("/proc/" + task + "/status");
  long long sum = 0;
  for (std::string line; std::getline(f, line);)
    if (line.find("ctxt_switches:") != std::string::npos)
      sum += std::stoll(line.substr(line.find(':') + 1));
  return sum;
}

// Ticks and switches of every thread of a process, summed by thread name ("main" for the
// first thread; threads of the same name are one figure).
struct ThreadCounts {
  long long ticks = 0, switches = 0;
};
std::map<std::string, std::map<std::string, ThreadCounts>> ThreadsByTid(const std::string& pid) {
  std::map<std::string, std::map<std::string, ThreadCounts>> out;  // name -> tid -> counts
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + pid + "/task", ec)) {
    const std::string tid = e.path().filename().string();
    const std::string task = pid + "/task/" + tid;
    std::string name;
    std::ifstream comm("/proc/" + task + "/comm");
    std::getline(comm, name);
    if (tid == pid) name = "main";
    out[name][tid] = {CpuTicks(task), ThreadSwitches(task)};
  }
  return out;
}

// Context switches of all the process's threads: how often its threads woke (a figure that,
// unlike CPU time, hardly depends on what else the machine does).
long long Switches(const std::string& pid) {
  long long sum = 0;
  const std::string list = Run("cat /proc/" + pid +
                               "/task/*/status 2>/dev/null | grep ctxt_switches | "
                               "awk '{s += $2} END {print s + 0}'");
  try {
    sum = std::stoll(list);
  } catch (...) {
  }
  return sum;
}

struct Load {
  double cpuPercent;  // of one core
  double wakeups;     // context switches a second
  std::map<std::string, std::pair<double, double>> byThread;  // name -> cpu, wake-ups
};

Load Measure(const std::string& pid, int seconds) {
  const long long hz = ::sysconf(_SC_CLK_TCK);
  const auto ta = ThreadsByTid(pid);
  const long long a = CpuTicks(pid);
  const long long sa = Switches(pid);
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long long b = CpuTicks(pid);
  const long long sb = Switches(pid);
  const auto tb = ThreadsByTid(pid);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  Load load{100.0 * double(b - a) / double(hz) / wall, double(sb - sa) / wall, {}};
  // Threads that lived through the whole window.
  for (const auto& [name, tids] : tb) {
    const auto before = ta.find(name);
    if (before == ta.end()) continue;
    long long ticks = 0, switches = 0;
    for (const auto& [tid, end] : tids) {
      const auto start = before->second.find(tid);
      if (start == before->second.end()) continue;
      ticks += end.ticks - start->second.ticks;
      switches += end.switches - start->second.switches;
    }
    load.byThread[name] = {100.0 * double(ticks) / double(hz) / wall, double(switches) / wall};
  }
  return load;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Median and spread (lowest … highest) of a figure over the runs.
std::string Summary(const std::vector<double>& v, const char* unit, int decimals) {
  if (v.empty()) return "-";
  char text[96];
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  std::snprintf(text, sizeof text, "%.*f%s (%.*f..%.*f)", decimals, Median(v), unit, decimals, *lo,
                decimals, *hi);
  return text;
}

// A figure of one state: our process (or the floor's), and the sound server beside it.
struct Figures {
  std::vector<double> cpu, wake, server;
  std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> byThread;
  void Take(const Load& own, const Load& srv) {
    cpu.push_back(own.cpuPercent);
    wake.push_back(own.wakeups);
    server.push_back(srv.cpuPercent);
    for (const auto& [name, figures] : own.byThread) {
      byThread[name].first.push_back(figures.first);
      byThread[name].second.push_back(figures.second);
    }
  }
  // The threads that cost anything: name cpu wake-ups, medians of the runs it was in.
  std::string Threads() const {
    std::string text;
    for (const auto& [name, figures] : byThread) {
      const double c = Median(figures.first), w = Median(figures.second);
      if (c < 0.05 && w < 2) continue;
      char item[160];
      std::snprintf(item, sizeof item, "%s%s %.2f%% %.0f/s", text.empty() ? "" : ", ",
                    name.c_str(), c, w);
      text += item;
    }
    return text.empty() ? "-" : text;
  }
  std::string Last() const {
    char text[128];
    std::snprintf(text, sizeof text, "%.2f%% %.0f/s server %.2f%%", cpu.back(), wake.back(),
                  server.back());
    return text;
  }
  std::string All() const {
    return Summary(cpu, "%", 2) + ", " + Summary(wake, "/s", 0) + ", server " +
           Summary(server, "%", 2);
  }
};

// Our process and the server over the same window.
std::pair<Load, Load> MeasureBoth(const std::string& pid, const std::string& server, int seconds) {
  Load own{}, srv{};
  std::thread t([&] { srv = Measure(server, seconds); });
  own = Measure(pid, seconds);
  t.join();
  return {own, srv};
}

void WriteTone(const std::string& path, int seconds) {
  std::vector<std::int16_t> s(std::size_t(44100) * seconds);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = std::int16_t(8000 * std::sin(2 * M_PI * 440 * double(i) / 44100));
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  const std::uint32_t bytes = std::uint32_t(s.size() * 2);
  f.write("RIFF", 4);
  u32(bytes + 36);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(44100);
  u32(88200);
  u16(2);
  u16(16);
  f.write("data", 4);
  u32(bytes);
  f.write(reinterpret_cast<const char*>(s.data()), bytes);
}

// Centre of a control of the window's template, in window pixels (x*3/2, y*13/8).
std::string Centre(int x, int y, int w, int h) {
  return std::to_string((2 * x + w) * 3 / 4) + " " + std::to_string((2 * y + h) * 13 / 16);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char dirTemplate[] = "/tmp/vts-bench-cpu-XXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  const std::string pulseDir = dir + "/pulse";
  const std::string src = VTS_SOURCE_DIR;
  if (Run(src + "/scripts/pulse-test-server.sh start " + pulseDir + " >/dev/null 2>&1; echo $?") !=
      "0") {
    std::cerr << "bench_recorder_cpu: no sound server could be started\n";
    return 1;
  }
  const std::string env = ". " + pulseDir + "/env; ";
  const std::string display =
      Run("exec 3>" + dir +
          "/display; (Xvfb -displayfd 3 -screen 0 1280x800x24 >/dev/null 2>&1 & "
          "echo $! > " +
          dir + "/xvfb.pid); for i in $(seq 50); do [ -s " + dir +
          "/display ] && break; sleep 0.1; done; cat " + dir + "/display");
  if (display.empty()) {
    std::cerr << "bench_recorder_cpu: Xvfb did not start\n";
    return 1;
  }
  const std::string x = "DISPLAY=:" + display + " ";
  Run(x + "openbox >/dev/null 2>&1 & echo $! > " + dir + "/openbox.pid");
  WriteTone(dir + "/lesson.wav", 60);
  const bool withVideo =
      Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi "
          "-i sine=frequency=440 -t 20 -c:v libx264 -preset ultrafast -c:a aac " +
          dir + "/lesson.mp4 >/dev/null 2>&1; echo $?") == "0";
  if (!withVideo) std::cerr << "bench_recorder_cpu: no video could be made (ffmpeg)\n";
  const char* other = std::getenv("VTS_BENCH_RECORDER");
  const std::string recorder = other && *other ? other : VTS_RECORDER_PATH;

  const std::string server = Run("cat " + pulseDir + "/pulse/pid");
  if (server.empty()) {
    std::cerr << "bench_recorder_cpu: the sound server's pid is unknown\n";
    return 1;
  }
  Figures idle, playing, recording, video, floorPlaying, floorRecording;
  auto take = [&](const std::string& pid, Figures& f) {
    auto [own, srv] = MeasureBoth(pid, server, 10);
    f.Take(own, srv);
  };
  // The engine's format: mono float at 44.1 kHz; the same for the floor.
  const std::string format = " --format=float32le --rate=44100 --channels=1 ";
  auto feedTone = [&] {
    return Run(env +
               "sox -q -n -t raw -r 44100 -e signed -b 16 -c 1 - synth 30 sine 660 vol 0.3 | "
               "pacat --device=vts_mic_in --raw --format=s16le --rate=44100 --channels=1 "
               ">/dev/null 2>&1 & echo $!");
  };
  auto stopTone = [&](const std::string& tone) {
    Run("kill " + tone + " 2>/dev/null; pkill -P " + tone + " 2>/dev/null");
  };
  // Starts the recorder on `file`; its pid and its window, or an empty pid.
  auto launch = [&](const std::string& root, const std::string& file, std::string* window) {
    const std::string pid = Run(env + x + "QT_QPA_PLATFORM=xcb VOXTRAILSTUDY_ROOT=" + root + " '" +
                                recorder + "' " + file + " >/dev/null 2>&1 & echo $!");
    // The recorder's main window by its size: the process may show another window first
    // (a hint's tooltip).
    const std::string findMain = "export " + x + "; for w in $(xdotool search --pid " + pid +
                                 " --onlyvisible 2>/dev/null); do xdotool getwindowgeometry $w | "
                                 "grep -q 'Geometry: 516x470' && echo $w && break; done";
    window->clear();
    for (int i = 0; i < 100 && window->empty(); ++i) {
      *window = Run(findMain);
      if (window->empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (window->empty()) {
      std::cerr << "bench_recorder_cpu: the recorder showed no window\n";
      Run("kill " + pid);
      return std::string();
    }
    return pid;
  };
  for (int run = 0; run < runs; ++run) {
    const std::string root = dir + "/root" + std::to_string(run);
    ::mkdir(root.c_str(), 0700);
    std::string window;
    const std::string pid = launch(root, dir + "/lesson.wav", &window);
    if (pid.empty()) break;
    auto click = [&](int cx, int cy, int w, int h) {
      Run(x + "xdotool mousemove --window " + window + " " + Centre(cx, cy, w, h) + " click 1");
    };
    std::this_thread::sleep_for(std::chrono::seconds(3));  // start-up settles
    take(pid, idle);
    click(49, 221, 22, 18);  // Master play
    std::this_thread::sleep_for(std::chrono::seconds(1));
    take(pid, playing);
    click(75, 221, 24, 18);  // Master stop
    const std::string tone = feedTone();
    click(185, 256, 31, 18);  // Student record
    std::this_thread::sleep_for(std::chrono::seconds(1));
    take(pid, recording);
    click(185, 256, 31, 18);  // stop recording
    stopTone(tone);
    Run("kill -KILL " + pid);
    // The floor, in the same sitting: a plain play and a plain record stream.
    {
      const std::string player = Run(env + "exec paplay --device=vts_speaker '" + dir +
                                     "/lesson.wav' >/dev/null 2>&1 & echo $!");
      std::this_thread::sleep_for(std::chrono::seconds(1));
      take(player, floorPlaying);
      Run("kill " + player + " 2>/dev/null");
      const std::string floorTone = feedTone();
      const std::string recorderPid = Run(env + "exec parecord --device=vts_mic --raw" + format +
                                          "/dev/null >/dev/null 2>&1 & echo $!");
      std::this_thread::sleep_for(std::chrono::seconds(1));
      take(recorderPid, floorRecording);
      Run("kill " + recorderPid + " 2>/dev/null");
      stopTone(floorTone);
    }
    if (withVideo) {
      // A video lesson, played for a moment and stopped: nothing should tick for it then.
      const std::string videoPid = launch(root, dir + "/lesson.mp4", &window);
      if (!videoPid.empty()) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        click(49, 221, 22, 18);  // Master play
        std::this_thread::sleep_for(std::chrono::seconds(2));
        click(75, 221, 24, 18);  // Master stop
        std::this_thread::sleep_for(std::chrono::seconds(1));
        take(videoPid, video);
        Run("kill -KILL " + videoPid);
      }
    }
    std::printf(
        "run %d (cpu of a core, wake-ups, server cpu): idle %s | playing %s | recording %s | "
        "video stopped %s | floor playing %s | floor recording %s\n",
        run + 1, idle.Last().c_str(), playing.Last().c_str(), recording.Last().c_str(),
        video.cpu.empty() ? "-" : video.Last().c_str(), floorPlaying.Last().c_str(),
        floorRecording.Last().c_str());
    std::fflush(stdout);
  }
  std::printf("median (lowest..highest) of %zu runs: cpu of a core, wake-ups, server cpu\n",
              idle.cpu.size());
  std::printf("  idle            %s\n", idle.All().c_str());
  std::printf("  playing         %s\n", playing.All().c_str());
  std::printf("  floor playing   %s\n", floorPlaying.All().c_str());
  std::printf("  recording       %s\n", recording.All().c_str());
  std::printf("  floor recording %s\n", floorRecording.All().c_str());
  std::printf("  video stopped   %s\n", video.All().c_str());
  std::printf("by thread (medians): cpu of a core, wake-ups\n");
  std::printf("  playing         %s\n", playing.Threads().c_str());
  std::printf("  recording       %s\n", recording.Threads().c_str());
  Run("kill $(cat " + dir + "/openbox.pid) $(cat " + dir + "/xvfb.pid) 2>/dev/null");
  Run(src + "/scripts/pulse-test-server.sh stop " + pulseDir + " >/dev/null 2>&1");
  Run("rm -rf " + dir);
  return idle.cpu.empty() ? 1 : 0;
}
