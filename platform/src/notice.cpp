// The platform layer's notice sink and the moving aside of unreadable store files.
#include "platform/notice.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace vts::plat {
namespace {

std::mutex g_sinkMutex;
NoticeSink g_sink;

}  // namespace

void SetNoticeSink(NoticeSink sink) {
  std::lock_guard lock(g_sinkMutex);
  g_sink = std::move(sink);
}

void Notice(const std::string& line) {
  NoticeSink sink;
  {
    std::lock_guard lock(g_sinkMutex);
    sink = g_sink;
  }
  if (sink) {
    sink(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

std::string MoveUnreadableAside(const std::string& path, const std::string& why) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string aside = path + ".unreadable-" + stamp;
  struct stat st {};
  for (int n = 2; ::lstat(aside.c_str(), &st) == 0 && n < 1000; ++n) {
    aside = path + ".unreadable-" + stamp + "-" + std::to_string(n);
  }
  if (std::rename(path.c_str(), aside.c_str()) != 0) {
    Notice("\"" + path + "\" cannot be read (" + why + ") and could not be moved aside");
    return {};
  }
  Notice("\"" + path + "\" cannot be read (" + why + "); moved aside to \"" + aside +
         "\", starting with an empty one");
  return aside;
}

}  // namespace vts::plat
