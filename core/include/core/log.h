// Named logs: any thread writes a line by posting a heap copy of the text to the log thread,
// which time-stamps it, keeps each log's newest text (at most 1 MiB) in memory and rewrites
// each log file every 10 seconds and once at exit.
#pragma once

#include <cstdint>
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

}  // namespace vts
