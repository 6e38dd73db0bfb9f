// The named logs behind WriteLog: the log registry, one CLogFile per log and the log thread.
//
// Threading: RegisterLog runs before the log thread starts (InitLogging does it); afterwards
// every CLogFile is used by the log thread alone. Writers hand over time-stamped lines that the
// log thread takes at its tick, at a flush, at its stop, or when enough have gathered.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "core/log.h"
#include "platform/thread_queue.h"

namespace vts {

constexpr std::uint32_t kLogLimitBytes = 1048576;    // most bytes of text kept per log
constexpr std::uint32_t kLogCapacityStep = 1048575;  // buffer growth step
constexpr std::size_t kLogLineBufferBytes = 4096;    // a formatted line with its NUL

class ILogFile {
 public:
  virtual void Write(const char* text) = 0;
  virtual void AppendLine(std::string_view line) = 0;
  virtual ~ILogFile() = default;
};

class CLogFile : public ILogFile {
 public:
  // Opens (creates) the file and empties it.
  CLogFile(const std::string& path, const std::string& displayName);
  // Writes the file a last time and closes it.
  ~CLogFile() override;
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // Appends one time-stamped line, dropping the oldest quarter of whole lines when the text
  // would pass the limit.
  void Write(const char* text) override;
  // Appends an already formatted line (used by Write; tests feed fixed lines through it).
  void AppendLine(std::string_view line) override;
  // Replaces the file with the text in one step (written beside it, then renamed): a file
  // that cannot take the whole text (a full disk) keeps what it had.
  void Flush();
  // Empties the file on disk; the text stays and is written again by the next flush.
  void TruncateFile();

  const std::string& Text() const { return text_; }
  const std::string& Path() const { return path_; }
  // The file could not be opened; `OpenError` is why (an errno value).
  bool Unwritable() const { return fd_ < 0; }
  int OpenError() const { return openError_; }

 private:
  std::string text_;
  std::uint32_t limit_ = kLogLimitBytes;
  int fd_ = -1;
  int openError_ = 0;
  std::string path_;
  std::string displayName_;
};

// "DD.MM.YYYY | hh:mm:ss:mmm | text\r\n" for the local time now, at most 4095 bytes: a longer
// text is cut (at a UTF-8 character boundary) so the line still ends in CR LF.
std::string FormatLogLine(const char* text);

// The log folder for a program file: CommonAppData/N/Logs, N the name of the folder that holds
// the program, or "Mentavo" when there is none or it is DEBUG or RELEASE in any case.
std::string LogFolderForProgram(const std::string& programPath);

class LogManager {
 public:
  explicit LogManager(std::string folder);
  // Replaces (and releases) any log stored under the id.
  void RegisterLog(LogId id, const std::string& fileName, const std::string& displayName);
  std::shared_ptr<ILogFile> Find(LogId id) const;
  void FlushAll();
  // Why some log files could not be opened (an errno value of one of them); 0 when all were.
  int UnwritableReason() const;
  const std::string& Folder() const { return folder_; }

  std::thread thread;
  std::atomic<plat::ThreadId> threadId{0};

 private:
  mutable std::mutex mutex_;
  std::map<LogId, std::shared_ptr<CLogFile>> logs_;  // registration order is not needed later
  std::string folder_;
};

// The one registry; null while logging is not running.
extern std::atomic<LogManager*> g_pLogManager;

}  // namespace vts
