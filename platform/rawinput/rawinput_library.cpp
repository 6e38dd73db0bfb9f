// The raw-input library: keeps each position's subscription (window, UI thread, process,
// screen area) and logs every call to <runtime>/rawinput.log, one line per call. Input
// devices are not routed to positions.
#include <fcntl.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/known_folders.h"
#include "platform/rawinput.h"

#define RAWINPUT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Subscription {
  std::uint64_t window = 0;
  std::uint32_t uiThreadId = 0;
  std::uint32_t processId = 0;
  vts::plat::RawInputRect area;
};

std::mutex g_mutex;
std::map<std::uint32_t, Subscription> g_subscriptions;

void LogLine(const std::string& line) {
  std::string path = vts::plat::RuntimeFolder() + "/rawinput.log";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  std::string text = line + "\n";
  (void)!write(fd, text.data(), text.size());  // one write, so lines of processes never mix
  close(fd);
}

}  // namespace

RAWINPUT_EXPORT int SelectRawInputDevices(std::uint64_t window, std::uint32_t uiThreadId,
                                          std::uint32_t processId, std::uint32_t position,
                                          vts::plat::RawInputRect area) {
  std::lock_guard lock(g_mutex);
  g_subscriptions[position] = Subscription{window, uiThreadId, processId, area};
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "select position=%" PRIu32 " window=0x%016" PRIx64 " thread=%" PRIu32
                " process=%" PRIu32 " area=%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32
                " subscriptions=%zu",
                position, window, uiThreadId, processId, area.left, area.top, area.right,
                area.bottom, g_subscriptions.size());
  LogLine(buf);
  return 1;
}

RAWINPUT_EXPORT int UnsubscribeRawInputDevices(std::uint32_t position) {
  std::lock_guard lock(g_mutex);
  bool had = g_subscriptions.erase(position) > 0;
  char buf[128];
  std::snprintf(buf, sizeof buf, "unsubscribe position=%" PRIu32 " %s subscriptions=%zu", position,
                had ? "removed" : "none", g_subscriptions.size());
  LogLine(buf);
  return had ? 1 : 0;
}

RAWINPUT_EXPORT int DeinitializeRawInput() {
  std::lock_guard lock(g_mutex);
  char buf[96];
  std::snprintf(buf, sizeof buf, "deinitialize dropped=%zu", g_subscriptions.size());
  g_subscriptions.clear();
  LogLine(buf);
  return 1;
}
