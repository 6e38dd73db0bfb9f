// Named logs: any thread writes a time-stamped line that the log thread takes (in batches, so a
// steady trickle of lines costs few wake-ups); the thread keeps each log's newest text (at most 1
// MiB) in memory and rewrites each log file that got lines every 10 seconds and once at exit.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vts {

using LogId = std::int32_t;

constexpr LogId LOG_MAIN = 0;
constexpr LogId LOG_SOUND = 2;
constexpr LogId LOG_UDP_NETWORK = 3;
constexpr LogId LOG_TCP_NETWORK = 4;
constexpr LogId LOG_SCREEN = 5;
constexpr LogId LOG_LOGIC = 6;
constexpr LogId LOG_UPDATE = 7;
constexpr LogId LOG_INPUT = 8;
constexpr LogId LOG_UDP_DUMP_IN = 9;
constexpr LogId LOG_UDP_DUMP_OUT = 10;
constexpr LogId LOG_KESTRIN = 11;
constexpr LogId LOG_WAVE_MANAGER = 12;

// Writes one line to the log `id` (any thread; never blocks, never touches a file).
// Without a running log thread the line is dropped.
void WriteLog(LogId id, const char* text);
inline void WriteLog(LogId id, const std::string& text) { WriteLog(id, text.c_str()); }

// A log for lines that a peer can cause at any rate (protocol faults): at most one line per
// interval goes out; the lines in between are counted, and the next line written says how
// many were left out. Any thread.
class RateLimitedLog {
 public:
  using Clock = std::chrono::steady_clock;
  RateLimitedLog(LogId id, std::chrono::milliseconds interval) : id_(id), interval_(interval) {}
  // Writes the line now, unless one went out less than an interval ago.
  void Write(const std::string& text) {
    if (auto line = Admit(Clock::now(), text)) WriteLog(id_, *line);
  }
  // The line to write at `now` (with the count of the ones left out since the last), or
  // nothing when it falls in the quiet time and is only counted.
  std::optional<std::string> Admit(Clock::time_point now, const std::string& text);

 private:
  const LogId id_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  bool wrote_ = false;
  Clock::time_point last_;
  std::uint64_t leftOut_ = 0;
};

// Start and stop of logging (the application object does both; tests may too).
struct LogOptions {
  std::chrono::milliseconds flushInterval{10000};  // the log thread's file rewrite tick
  std::string folder;                              // empty: GetLogFolder()
};

// Creates the log registry, computes and creates the log folder (with its parents), registers
// the twelve logs (emptying their files) and starts the log thread. Returns once the thread
// accepts lines. Call once; a second call without StopLogging does nothing.
void InitLogging(const LogOptions& options = {});

// Stops the log thread after every line posted before this call, writes each log file a last
// time and frees the logs. Lines written afterwards are dropped. Safe without InitLogging.
void StopLogging();

// Test aid: waits (up to `timeout`) until the log thread has handled every line posted
// before the call and rewritten every log file. False when no log thread runs or on timeout.
bool FlushLogs(std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The folder of the log files (no trailing "/"): see log_manager.h for the rule.
std::string GetLogFolder();

}  // namespace vts
