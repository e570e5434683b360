#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CustomThread.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

// Optional sink that takes each formatted line instead of the file.
using TMessageProc = std::function<void(const std::string& AValue)>;
// Local "now" for line stamps, roll-over names and the purge age.
using TLogClock = std::function<TDateTime()>;

// The service's rolling log file, written by a worker thread of its own.
//
// Any thread logs: the line is formatted on the caller's thread (time and
// thread id of the call), appended to FLogMessageQueue under FQueueLock and
// FLogEvent is set. The logger thread wakes, swaps the queue out and appends
// the whole batch to the file as UTF-16 LE lines ending in CR LF (a new file
// starts with the mark FF FE), so a caller never waits for file I/O.
//
// Before a batch is written, a file of 2 MiB or more is moved to the archive
// "<folder>/<name><YYYYMMDDhhnnsszzz>.log", and this logger's archives created
// more than 7 whole days before the start of today are deleted.
//
// One logger serves the process, reached through the class operations below
// (and the global functions of support/Log.h); it is created on first use at
// level LOG_NONE, so nothing is written until a level is set. Instances can
// also be created on their own (tests, tools); each owns its file.
//
// Locks: FQueueLock guards the queue and the file name (held only for an
// append or a swap); FFileLock is held while a batch is written, the file
// rolled over or read back. FFileLock is taken before FQueueLock, never after.
class TFileLogger : public TCustomThread {
 public:
  static constexpr int64_t RollOverSize = 2097152;
  static constexpr int PurgeAgeDays = 7;

  // AMessageProc: when set, lines go to it instead of a file. ALogFile: the
  // file's full path; empty means the process-wide log folder (SetLogFolder,
  // else the service paths' log folder) and the program's name with ".log".
  // The folder is created by the first write that finds it missing.
  // AClock: empty means the local wall clock.
  explicit TFileLogger(TMessageProc AMessageProc = {}, const std::string& ALogFile = "", TLogClock AClock = {});
  ~TFileLogger() override;

  [[nodiscard]] int Loglevel() const { return FLogLevel.load(std::memory_order_relaxed); }
  void SetLoglevel(int AValue) { FLogLevel.store(AValue, std::memory_order_relaxed); }
  [[nodiscard]] std::string LogFile() const EXCLUDES(FQueueLock);
  // Later batches go to AValue.
  void SetLogFile(const std::string& AValue) EXCLUDES(FQueueLock);

  // Queues AText at ALevel when the current level lets it through.
  void Log(int ALevel, const std::string& AText) EXCLUDES(FQueueLock);
  // Same with a printf format, formatted only when the line is let through.
  void LogV(int ALevel, const char* AFormat, va_list AArgs) EXCLUDES(FQueueLock)
      __attribute__((format(printf, 3, 0)));

  // Writes every queued line now, on the calling thread. Throws EZorError when
  // the file cannot be opened or written (that batch is then lost).
  void Flush() EXCLUDES(FQueueLock, FFileLock);
  // The lines of the current file (UTF-8, without the mark and line ends);
  // empty when the file does not exist.
  [[nodiscard]] std::vector<std::string> GetCurrentLogContents() EXCLUDES(FQueueLock, FFileLock);

  // "YYYY-MMM-DD hh:nn:ss.zzz [0xTTTTTTTT]" + level tag + text.
  [[nodiscard]] static std::string FormatLogLine(TDateTime ATime, uint32_t AThreadId, int ALevel,
                                                 const std::string& AText);
  // " INFO  - " and so on; "" for a level outside 1 to 5.
  [[nodiscard]] static const char* LevelTag(int ALevel);

  // ---- The process-wide logger ----------------------------------------------

  // Creates and starts the logger if there is none (with AMessageProc), then
  // sets its level. An existing logger keeps its sink.
  static void SetFileLogLevel(int AValue, TMessageProc AMessageProc = {});
  // "LOG_INFO" etc. of the current level, "UNKNOWN" outside 0 to 5.
  [[nodiscard]] static std::string LogLevelString();
  // "LOG_INFO" etc., "INVALID" outside 0 to 5.
  [[nodiscard]] static std::string LogLevelToString(int ALogLevel);
  [[nodiscard]] static int CurrentLogLevel();
  [[nodiscard]] static std::string CurrentLogFile();
  // A copy of the current file's lines (for the management endpoint's LOG).
  [[nodiscard]] static std::vector<std::string> CurrentLogFileContents();
  // The folder of the log file (the program's --home/--log-dir). Call at
  // start, before the first line; an existing logger moves to the folder.
  static void SetLogFolder(const std::string& AFolder);

  static void Fatal(const std::string& AValue);
  static void Error(const std::string& AValue);
  static void Warn(const std::string& AValue);
  static void Info(const std::string& AValue);
  static void Debug(const std::string& AValue);
  static void Fatal(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
  static void Error(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
  static void Warn(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
  static void Info(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
  static void Debug(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
  // Queues at ALevel on the process-wide logger (creating it if needed).
  static void Write(int ALevel, const std::string& AValue);
  static void WriteV(int ALevel, const char* AFormat, va_list AArgs) __attribute__((format(printf, 2, 0)));

  // Writes what is queued now, on the calling thread.
  static void PurgeLog();
  // Stops the logger thread after it has written every queued line, and frees
  // the logger. The service calls it last thing before it exits; it also runs
  // at normal process exit. Lines logged after it are not written.
  static void CloseLog();

 protected:
  bool Execute() override;
  bool BeforeThreadStart(bool AWaitTillStarted) override;

 private:
  struct TRollOver {
    bool RolledOver = false;
    bool Deleted = false;
  };

  void Enqueue(std::string&& ALine) EXCLUDES(FQueueLock);
  // Moves a full file to its archive name and deletes aged archives.
  TRollOver RollOverIfNeeded(const std::string& ALogFile) REQUIRES(FFileLock);
  // Flush for the thread body: failures are reported, never thrown.
  bool SafeFlush();

  const TMessageProc FMessageProc;
  const TLogClock FClock;
  bool FIsConsoleApp = false;  // set before the thread starts; echo lines to stderr
  std::atomic<int> FLogLevel{LOG_NONE};
  const std::unique_ptr<TEvent> FLogEvent;

  mutable TCriticalSection FQueueLock;
  std::vector<std::string> FLogMessageQueue GUARDED_BY(FQueueLock);
  std::string FLogFile GUARDED_BY(FQueueLock);

  TCriticalSection FFileLock;
};

}  // namespace zor
