// Named logs and the log thread.
#include <time.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <utility>
#include <vector>

#include "core/log_manager.h"
#include "core/product_name.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/notice.h"

namespace vts {

std::atomic<LogManager*> g_pLogManager{nullptr};

namespace {

// Test aid: lParam is a heap std::promise<void> the log thread fulfils after a flush.
constexpr std::uint32_t WM_LOG_FLUSH = plat::WM_USER + 2;
constexpr std::uintptr_t kFlushTimerId = 1;
// Wakes the log thread to take the gathered lines before its next tick.
constexpr std::uint32_t WM_LOG_TAKE = plat::WM_USER + 3;
// Lines gathered before a writer wakes the log thread; below it they wait for the tick.
constexpr std::size_t kLinesPerWake = 256;

std::atomic<plat::ThreadId> g_logThreadId{0};
std::mutex g_lifeMutex;  // InitLogging / StopLogging

// Lines written but not yet taken by the log thread, already time-stamped: writers gather
// them here so a steady trickle of lines does not wake the thread for each one.
struct PendingLines {
  std::mutex mutex;
  bool open = false;  // the log thread takes lines; false before it starts and after it ends
  std::vector<std::pair<LogId, std::string>> lines;
};
PendingLines g_pending;

// Hands every gathered line to its log, in the order written. `close`: no later line is taken.
void TakePendingLines(LogManager* manager, bool close = false) {
  std::vector<std::pair<LogId, std::string>> taken;
  {
    std::lock_guard lock(g_pending.mutex);
    taken.swap(g_pending.lines);
    if (close) g_pending.open = false;
  }
  for (const auto& [id, line] : taken)
    if (auto log = manager->Find(id)) log->AppendLine(line);
}

struct LogDef {
  LogId id;
  const char* displayName;
  const char* fileName;
};
constexpr LogDef kLogs[] = {
    {LOG_UDP_NETWORK, "UDP Network Log", "DispanoUDPNetwork.log"},
    {LOG_TCP_NETWORK, "TCP Network Log", "DispanoTCPNetwork.log"},
    {LOG_MAIN, "Main Log", "DispanoServ.log"},
    {LOG_SCREEN, "Screen Log", "DispanoScreen.log"},
    {LOG_SOUND, "Sound Log", "DispanoSound.log"},
    {LOG_UPDATE, "Update Log", "DispanoUpdate.log"},
    {LOG_LOGIC, "Logic Log", "DispanoLogic.log"},
    {LOG_INPUT, "Input Log", "DispanoInput.log"},
    {LOG_UDP_DUMP_IN, "UDP Dump In", "UDPDumpIn.log"},
    {LOG_UDP_DUMP_OUT, "UDP Dump Out", "UDPDumpOut.log"},
    {LOG_KESTRIN, "Kestrin", "Kestrin.log"},
    {LOG_WAVE_MANAGER, "WaveManager", "WavManager.log"},
};

void ReleasePayload(const plat::Msg& m) {
  if (m.message == WM_LOG_FLUSH) delete reinterpret_cast<std::promise<void>*>(m.lParam);
}

void LogThreadProc(LogManager* manager, std::chrono::milliseconds interval,
                   std::promise<void>* ready) {
  plat::CreateQueueByPostingToSelf();
  manager->threadId = plat::CurrentThreadId();
  std::uintptr_t timer = plat::SetThreadTimer(kFlushTimerId, interval);
  ready->set_value();

  plat::Msg msg;
  while (plat::GetMessage(&msg)) {
    switch (msg.message) {
      case plat::WM_TIMER:
        if (msg.wParam == timer) {
          TakePendingLines(manager);
          manager->FlushAll();
        }
        break;
      case WM_LOG_TAKE:
        TakePendingLines(manager);
        break;
      case WM_LOG_FLUSH: {
        auto* done = reinterpret_cast<std::promise<void>*>(msg.lParam);
        TakePendingLines(manager);
        manager->FlushAll();
        done->set_value();
        delete done;
        break;
      }
      default:
        break;
    }
  }
  plat::KillThreadTimer(timer);
  TakePendingLines(manager, true);  // every line written before the stop
  // A flush asked for after the quit is dropped; its promise is still ours to free.
  plat::EndQueue(ReleasePayload);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// ---- CLogFile --------------------------------------------------------------------------

CLogFile::CLogFile(const std::string& path, const std::string& displayName)
    : path_(path), displayName_(displayName) {
  fd_ = plat::OpenFile(path, plat::kOpenWrite | plat::kOpenCreate, 0644).release();
  if (fd_ >= 0) {
    plat::TruncateFile(fd_, 0);
  } else {
    openError_ = errno != 0 ? errno : EIO;
  }
  text_.reserve(kLogCapacityStep);
}

CLogFile::~CLogFile() {
  Flush();
  plat::UniqueFd{fd_}.reset();  // closes it
}

void CLogFile::Write(const char* text) { AppendLine(FormatLogLine(text)); }

void CLogFile::AppendLine(std::string_view line) {
  const std::size_t n = line.size() + 1;  // the line and its NUL must fit under the limit
  if (text_.size() + n > limit_) {
    // Drop about the oldest quarter, ending right after a CR LF.
    std::size_t i = text_.size() / 4;
    while (i + 1 < text_.size() && !(text_[i] == '\r' && text_[i + 1] == '\n')) ++i;
    std::size_t drop = i + 2 <= text_.size() ? i + 2 : text_.size();
    text_.erase(0, drop);
  }
  if (text_.size() + n >= text_.capacity()) text_.reserve(text_.capacity() + kLogCapacityStep);
  text_.append(line);
}

void CLogFile::Flush() {
  if (fd_ < 0) return;
  // The text is written whole beside the file and renamed over it: on a full disk the file
  // keeps what it had, where a rewrite in place would leave it cut or empty.
  plat::FileReplacement next;
  plat::UniqueFd written;
  if (next.Open(path_, 0644) && next.Write(text_.data(), text_.size()) &&
      next.CommitKeepingOpen(&written)) {
    plat::UniqueFd{fd_}.reset();  // closes the replaced file
    fd_ = written.release();
  }
}

void CLogFile::TruncateFile() {
  if (fd_ >= 0) plat::TruncateFile(fd_, 0);
}

// ---- formatting and folder ---------------------------------------------------------------

std::string FormatLogLine(const char* text) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char prefix[64];
  int p = std::snprintf(
      prefix, sizeof prefix, "%02u.%02u.%02u | %02u:%02u:%02u:%03u | ",
      static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_mon + 1),
      static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_hour),
      static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
      static_cast<unsigned>(ts.tv_nsec / 1000000));
  std::string_view body = text ? std::string_view(text) : std::string_view();
  const std::size_t room = kLogLineBufferBytes - 1 - static_cast<std::size_t>(p) - 2;
  if (body.size() > room) {
    std::size_t cut = room;
    // Do not split a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;
    body = body.substr(0, cut);
  }
  std::string line;
  line.reserve(static_cast<std::size_t>(p) + body.size() + 2);
  line.append(prefix, static_cast<std::size_t>(p));
  line.append(body);
  line.append("\r\n");
  return line;
}

std::string LogFolderForProgram(const std::string& programPath) {
  std::string n = "Mentavo";
  auto slash = programPath.find_last_of('/');
  if (slash != std::string::npos) {
    std::string folder = programPath.substr(0, slash);
    auto parentSlash = folder.find_last_of('/');
    if (parentSlash != std::string::npos) {
      std::string name = folder.substr(parentSlash + 1);
      if (!name.empty()) n = name;
    }
  }
  std::string upper = Upper(n);
  if (upper == "DEBUG" || upper == "RELEASE") n = "Mentavo";
  return plat::CommonAppDataFolder() + "/" + n + "/Logs";
}

std::string GetLogFolder() { return LogFolderForProgram(plat::ProgramPath()); }

// ---- LogManager ----------------------------------------------------------------------------

LogManager::LogManager(std::string folder) : folder_(std::move(folder)) {
  // What rewrites of a process that ended half-way left beside the logs.
  plat::RemoveStaleReplacements(folder_);
}

void LogManager::RegisterLog(LogId id, const std::string& fileName,
                             const std::string& displayName) {
  auto log = std::make_shared<CLogFile>(folder_ + "/" + fileName, displayName);
  std::lock_guard lock(mutex_);
  logs_[id] = std::move(log);
}

std::shared_ptr<ILogFile> LogManager::Find(LogId id) const {
  std::lock_guard lock(mutex_);
  auto it = logs_.find(id);
  return it == logs_.end() ? nullptr : it->second;
}

void LogManager::FlushAll() {
  std::lock_guard lock(mutex_);
  for (auto& [id, log] : logs_) log->Flush();
}

int LogManager::UnwritableReason() const {
  std::lock_guard lock(mutex_);
  for (const auto& [id, log] : logs_)
    if (log->Unwritable()) return log->OpenError();
  return 0;
}

// ---- public entry points -------------------------------------------------------------------

void WriteLog(LogId id, const char* text) {
  plat::ThreadId target = g_logThreadId.load(std::memory_order_acquire);
  if (target == 0 || !text) return;
  // Stamped now: the log thread may take the line only at its next tick.
  std::string line = FormatLogLine(text);
  bool wake = false;
  {
    std::lock_guard lock(g_pending.mutex);
    if (!g_pending.open) return;
    g_pending.lines.emplace_back(id, std::move(line));
    wake = g_pending.lines.size() == kLinesPerWake;
  }
  if (wake) plat::PostThreadMessage(target, WM_LOG_TAKE, 0, 0);
}

std::optional<std::string> RateLimitedLog::Admit(Clock::time_point now, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (wrote_ && now - last_ < interval_) {
    ++leftOut_;
    return std::nullopt;
  }
  std::string line = text;
  if (leftOut_ != 0)
    line += " (" + std::to_string(leftOut_) + (leftOut_ == 1 ? " line" : " lines") +
            " left out before this one)";
  wrote_ = true;
  last_ = now;
  leftOut_ = 0;
  return line;
}

void InitLogging(const LogOptions& options) {
  std::lock_guard life(g_lifeMutex);
  if (g_pLogManager.load()) return;
  std::string folder = options.folder.empty() ? GetLogFolder() : options.folder;
  plat::CreateFolderChain(folder);
  auto* manager = new LogManager(folder);
  for (const LogDef& def : kLogs) manager->RegisterLog(def.id, def.fileName, def.displayName);
  // Nobody would learn it otherwise: the logs keep their lines in memory only.
  if (const int why = manager->UnwritableReason()) {
    std::fprintf(stderr, "%s: the logs cannot be written in %s: %s\n", GetProductNameUtf8().c_str(),
                 folder.c_str(), std::strerror(why));
    std::fflush(stderr);
  }
  std::promise<void> ready;
  auto started = ready.get_future();
  {
    std::lock_guard lock(g_pending.mutex);
    g_pending.lines.clear();
    g_pending.open = true;
  }
  manager->thread = std::thread(LogThreadProc, manager, options.flushInterval, &ready);
  started.wait();
  g_pLogManager.store(manager);
  g_logThreadId.store(manager->threadId.load(), std::memory_order_release);
  // The platform layer's news (a store moved aside, say) belongs in the main log.
  plat::SetNoticeSink([](const std::string& line) { WriteLog(LOG_MAIN, line); });
}

void StopLogging() {
  std::lock_guard life(g_lifeMutex);
  LogManager* manager = g_pLogManager.load();
  if (!manager) return;
  plat::SetNoticeSink({});
  plat::PostThreadMessage(manager->threadId, plat::WM_QUIT, 0, 0);
  manager->thread.join();
  g_logThreadId.store(0, std::memory_order_release);
  g_pLogManager.store(nullptr);
  delete manager;  // each CLogFile writes its file a last time
}

bool FlushLogs(std::chrono::milliseconds timeout) {
  plat::ThreadId target = g_logThreadId.load(std::memory_order_acquire);
  if (target == 0) return false;
  auto* done = new std::promise<void>();
  auto future = done->get_future();
  if (!plat::PostThreadMessage(target, WM_LOG_FLUSH, 0, reinterpret_cast<plat::LPARAM>(done))) {
    delete done;
    return false;
  }
  if (future.wait_for(timeout) != std::future_status::ready) return false;
  try {
    future.get();
    return true;
  } catch (const std::future_error&) {
    return false;  // the thread ended before it got to the request
  }
}

}  // namespace vts
