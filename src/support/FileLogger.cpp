#include "support/FileLogger.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <system_error>

#include "platform/File.h"
#include "platform/ServicePaths.h"
#include "platform/ThreadId.h"

namespace zor {

namespace {

constexpr const char* LevelNames[] = {"LOG_NONE", "LOG_FATAL", "LOG_ERROR", "LOG_WARN", "LOG_INFO", "LOG_DEBUG"};
constexpr const char* LevelTags[] = {"", " FATAL - ", " ERROR - ", " WARN  - ", " INFO  - ", " DEBUG - "};
// An archive is the file's name followed by the 17 digits of its stamp.
constexpr size_t ArchiveStampLength = 17;

std::string DefaultFileName() {
  const std::string program = ServicePaths().ProgramFile;
  const std::string stem = std::filesystem::path(program).stem().string();
  return (stem.empty() ? std::string("zor-event-exporter") : stem) + ".log";
}

void CreateFolderOf(const std::string& AFile) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(AFile).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  // A folder that cannot be made shows as the open failure that follows.
}

// Opens the log file for appending, creating it, and its folder when that is
// missing (never made yet, or removed while the service runs).
TFile OpenForAppend(const std::string& AFile) {
  const auto open = [&] { return TFile(AFile, TFile::TMode::fmAppendCreate); };
  try {
    try {
      return open();
    } catch (const EPlatformError& e) {
      if (e.ErrorCode() != ENOENT) throw;
      CreateFolderOf(AFile);
      return open();
    }
  } catch (const EPlatformError& e) {
    throw EZorError(TUtilities::Format("Cannot open log file %s: %s", AFile.c_str(), std::strerror(e.ErrorCode())));
  }
}

std::string FormatArchiveStamp(TDateTime ATime) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  TUtilities::DecodeDateTime(ATime, year, month, day, hour, minute, second, ms);
  return TUtilities::Format("%.4d%.2d%.2d%.2d%.2d%.2d%.3d", year, month, day, hour, minute, second, ms);
}

// True for the current file's name and for its archives' names. The folder
// may be shared (--log-dir), so nothing else in it is ever deleted.
bool IsOwnLogFile(const std::string& AName, const std::string& AStem) {
  if (AName == AStem + ".log") return true;
  if (AName.size() != AStem.size() + ArchiveStampLength + 4 || AName.compare(0, AStem.size(), AStem) != 0 ||
      AName.compare(AName.size() - 4, 4, ".log") != 0)
    return false;
  for (size_t i = AStem.size(); i < AStem.size() + ArchiveStampLength; ++i)
    if (!TUtilities::IsNumeric(AName[i])) return false;
  return true;
}

void AppendUtf16Le(std::string& AOut, const std::u16string& AText) {
  const size_t at = AOut.size();
  AOut.resize(at + AText.size() * 2);
  std::memcpy(AOut.data() + at, AText.data(), AText.size() * 2);
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = at; i < AOut.size(); i += 2) std::swap(AOut[i], AOut[i + 1]);
  }
}

// Appends ALine and CR LF as UTF-16 LE. Log lines are mostly ASCII: that part
// is widened in place, the rest goes through the full conversion.
void AppendLine(std::string& AOut, const std::string& ALine) {
  size_t ascii = 0;
  while (ascii < ALine.size() && static_cast<unsigned char>(ALine[ascii]) < 0x80) ++ascii;
  size_t at = AOut.size();
  AOut.resize(at + ascii * 2);
  for (size_t i = 0; i < ascii; ++i) {
    AOut[at++] = ALine[i];
    AOut[at++] = '\0';
  }
  if (ascii < ALine.size()) AppendUtf16Le(AOut, TUtilities::Utf8ToUtf16(ALine.substr(ascii)));
  AOut.append("\r\0\n\0", 4);
}

char* PutDigits(char* AOut, int AValue, int ADigits) {
  for (int i = ADigits - 1; i >= 0; --i, AValue /= 10) AOut[i] = static_cast<char>('0' + AValue % 10);
  return AOut + ADigits;
}

void WriteAll(const TFile& AFile, const std::string& AData) {
  try {
    AFile.Append(AData);
  } catch (const EPlatformError& e) {
    throw EZorError(
        TUtilities::Format("Cannot write log file %s: %s", AFile.Path().c_str(), std::strerror(e.ErrorCode())));
  }
}

// ---- The process-wide logger ---------------------------------------------------
//
// Logging calls take the lock shared, so they run side by side; creation and
// CloseLog take it exclusively, so a logger is never freed under a caller.
// The state is never destroyed: it must outlive every thread, including
// threads still logging while the process exits.
struct TProcessLogger {
  std::shared_mutex Lock;
  std::unique_ptr<TFileLogger> Logger;
  std::string Folder;
  bool Closed = false;  // CloseLog ran: later lines are not written
  bool AtExitRegistered = false;
};

TProcessLogger& Process() {
  static TProcessLogger* const process = new TProcessLogger();
  return *process;
}

void CloseAtExit() { TFileLogger::CloseLog(); }

// Creates and starts the logger; the exclusive lock is held.
void CreateLogger(TProcessLogger& AProcess, TMessageProc AMessageProc) {
  std::string file;
  if (!AProcess.Folder.empty()) file = AProcess.Folder + "/" + DefaultFileName();
  AProcess.Logger = std::make_unique<TFileLogger>(std::move(AMessageProc), file);
  (void)AProcess.Logger->ThreadStart(false, 0);
  if (!AProcess.AtExitRegistered) {
    AProcess.AtExitRegistered = true;
    std::atexit(CloseAtExit);
  }
}

// Runs AAction on the process-wide logger, creating it when there is none.
// Does nothing once CloseLog has run.
template <typename TAction>
void WithLogger(TAction&& AAction) {
  TProcessLogger& process = Process();
  {
    std::shared_lock<std::shared_mutex> shared(process.Lock);
    if (process.Logger) {
      AAction(*process.Logger);
      return;
    }
    if (process.Closed) return;
  }
  {
    std::unique_lock<std::shared_mutex> exclusive(process.Lock);
    if (!process.Logger && !process.Closed) CreateLogger(process, {});
  }
  std::shared_lock<std::shared_mutex> shared(process.Lock);
  if (process.Logger) AAction(*process.Logger);
}

}  // namespace

// ---- Instance ---------------------------------------------------------------------

TFileLogger::TFileLogger(TMessageProc AMessageProc, const std::string& ALogFile, TLogClock AClock)
    : FMessageProc(std::move(AMessageProc)),
      FClock(AClock ? std::move(AClock) : TLogClock(&TUtilities::Now)),
      FLogEvent(std::make_unique<TEvent>()) {
  if (FMessageProc) return;
  // The folder is made by the first write, so a program that never writes a
  // line leaves no trace.
  TCriticalSectionGuard guard(FQueueLock);
  FLogFile = !ALogFile.empty() ? ALogFile : ServicePaths().LogDir + "/" + DefaultFileName();
}

TFileLogger::~TFileLogger() { (void)ThreadStop(true, INFINITE); }

std::string TFileLogger::LogFile() const {
  TCriticalSectionGuard guard(FQueueLock);
  return FLogFile;
}

void TFileLogger::SetLogFile(const std::string& AValue) {
  TCriticalSectionGuard guard(FQueueLock);
  FLogFile = AValue;
}

const char* TFileLogger::LevelTag(int ALevel) { return ALevel >= 1 && ALevel <= 5 ? LevelTags[ALevel] : ""; }

std::string TFileLogger::FormatLogLine(TDateTime ATime, uint32_t AThreadId, int ALevel, const std::string& AText) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  TUtilities::DecodeDateTime(ATime, year, month, day, hour, minute, second, ms);
  // "YYYY-MMM-DD hh:nn:ss.zzz [0xTTTTTTTT]", built by hand: this runs on every
  // caller's thread for every line.
  char prefix[40];
  char* p = PutDigits(prefix, year < 0 ? 0 : year % 10000, 4);
  *p++ = '-';
  const char* monthName = TUtilities::ShortMonthName(month);
  for (int i = 0; i < 3; ++i) *p++ = monthName[0] != '\0' ? monthName[i] : '?';
  *p++ = '-';
  p = PutDigits(p, day, 2);
  *p++ = ' ';
  p = PutDigits(p, hour, 2);
  *p++ = ':';
  p = PutDigits(p, minute, 2);
  *p++ = ':';
  p = PutDigits(p, second, 2);
  *p++ = '.';
  p = PutDigits(p, ms, 3);
  std::memcpy(p, " [0x", 4);
  p += 4;
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) *p++ = Hex[(AThreadId >> shift) & 0xF];
  *p++ = ']';
  const char* tag = LevelTag(ALevel);
  const size_t tagLength = std::strlen(tag);
  std::string line;
  line.reserve(static_cast<size_t>(p - prefix) + tagLength + AText.size());
  line.append(prefix, static_cast<size_t>(p - prefix));
  line.append(tag, tagLength);
  line.append(AText);
  return line;
}

void TFileLogger::Enqueue(std::string&& ALine) {
  TCriticalSectionGuard guard(FQueueLock);
  FLogMessageQueue.push_back(std::move(ALine));
  FLogEvent->Set();
}

void TFileLogger::Log(int ALevel, const std::string& AText) {
  if (Loglevel() < ALevel) return;
  Enqueue(FormatLogLine(FClock(), GetCurrentThreadId(), ALevel, AText));
}

void TFileLogger::LogV(int ALevel, const char* AFormat, va_list AArgs) {
  if (Loglevel() < ALevel) return;
  char buffer[512];
  va_list copy;
  va_copy(copy, AArgs);
  const int needed = std::vsnprintf(buffer, sizeof buffer, AFormat, AArgs);
  std::string text;
  if (needed >= 0 && static_cast<size_t>(needed) < sizeof buffer) {
    text.assign(buffer, static_cast<size_t>(needed));
  } else if (needed >= 0) {
    text.resize(static_cast<size_t>(needed));
    std::vsnprintf(text.data(), text.size() + 1, AFormat, copy);
  }
  va_end(copy);
  Enqueue(FormatLogLine(FClock(), GetCurrentThreadId(), ALevel, text));
}

bool TFileLogger::BeforeThreadStart(bool AWaitTillStarted) {
  (void)AWaitTillStarted;
  // Echo to a terminal only: standard output carries command results, and a
  // service's standard error already goes to the system journal.
  FIsConsoleApp = isatty(STDERR_FILENO) == 1;
  return true;
}

bool TFileLogger::Execute() {
  bool result = true;
  // ThreadStop always sets the should-finish event, so the loop waits for
  // it rather than polling Terminated: the finishing line is always written.
  for (;;) {
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), FLogEvent.get()}, INFINITE);
    if (signalled == 0) {
      Log(LOG_INFO, "Queue Processor Received Should Finish Event");
      break;
    }
    if (signalled == 1) {
      // Reset before the swap: a line queued during the write sets it again.
      FLogEvent->Reset();
      result = SafeFlush() && result;
    }
  }
  return SafeFlush() && result;
}

bool TFileLogger::SafeFlush() {
  try {
    Flush();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Exception In Log processing: %s\n", e.what());
    return false;
  }
}

void TFileLogger::Flush() {
  // The swap happens under the file lock, so two flushers (the logger thread
  // and PurgeLog) can never write their batches out of order.
  TCriticalSectionGuard fileGuard(FFileLock);
  std::vector<std::string> batch;
  std::string logFile;
  {
    TCriticalSectionGuard guard(FQueueLock);
    batch.swap(FLogMessageQueue);
    logFile = FLogFile;
  }
  if (batch.empty()) return;

  if (FMessageProc) {
    for (const std::string& line : batch) {
      if (FIsConsoleApp) std::fprintf(stderr, "%s\n", line.c_str());
      FMessageProc(line);
    }
    return;
  }

  TRollOver rollOver;
  try {
    rollOver = RollOverIfNeeded(logFile);
  } catch (const std::exception&) {
    rollOver = {};  // writing goes on to the current file
  }
  if (FIsConsoleApp)
    for (const std::string& line : batch) std::fprintf(stderr, "%s\n", line.c_str());

  std::string body;
  for (const std::string& line : batch) AppendLine(body, line);

  const TFile file = OpenForAppend(logFile);
  std::string head;
  try {
    if (file.Identity().Size == 0) head.append("\xFF\xFE", 2);
  } catch (const EPlatformError&) {
    // Not knowing the size costs only the byte order mark.
  }
  // The notices are written whatever the level.
  const uint32_t self = GetCurrentThreadId();
  if (rollOver.RolledOver)
    AppendLine(head, FormatLogLine(FClock(), self, LOG_INFO, "Log Rolled Over. File Size Exceded"));
  if (rollOver.Deleted)
    AppendLine(head, FormatLogLine(FClock(), self, LOG_INFO, "At least one log file aged out"));
  WriteAll(file, head);
  WriteAll(file, body);
}

TFileLogger::TRollOver TFileLogger::RollOverIfNeeded(const std::string& ALogFile) {
  TRollOver result;
  if (TUtilities::GetFileSize(ALogFile) < RollOverSize) return result;
  result.RolledOver = true;

  const std::filesystem::path path(ALogFile);
  const std::filesystem::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const TDateTime now = FClock();
  const TDateTime today = TUtilities::DateOf(now);

  // Age = whole days between the start of today and the file's creation. The
  // current file is archived below rather than deleted: its lines are recent.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name == path.filename().string() || !IsOwnLogFile(name, stem)) continue;
    const TDateTime created = TUtilities::GetFileCreationTime(entry.path().string());
    if (created < 0) continue;  // gone meanwhile
    if (std::trunc(today - created) > PurgeAgeDays) {
      std::error_code removeError;
      if (std::filesystem::remove(entry.path(), removeError)) result.Deleted = true;
    }
  }

  const std::filesystem::path archive = folder / (stem + FormatArchiveStamp(now) + ".log");
  std::filesystem::rename(path, archive, error);  // a failed move leaves the batch on the full file
  return result;
}

std::vector<std::string> TFileLogger::GetCurrentLogContents() {
  TCriticalSectionGuard fileGuard(FFileLock);
  std::string bytes;
  {
    std::ifstream in(LogFile(), std::ios::binary);
    if (!in) return {};
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  size_t start = !text.empty() && text[0] == 0xFEFF ? 1 : 0;
  std::vector<std::string> lines;
  // Lines end with CR LF, CR or LF, as a text list reads them.
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.push_back(TUtilities::Utf16ToUtf8(std::u16string_view(text).substr(start, i - start)));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(TUtilities::Utf16ToUtf8(std::u16string_view(text).substr(start)));
  return lines;
}

// ---- Class operations ---------------------------------------------------------------

void TFileLogger::SetFileLogLevel(int AValue, TMessageProc AMessageProc) {
  TProcessLogger& process = Process();
  std::unique_lock<std::shared_mutex> exclusive(process.Lock);
  // A new level after CloseLog opens the log again (a reconfiguration).
  process.Closed = false;
  if (!process.Logger) CreateLogger(process, std::move(AMessageProc));
  process.Logger->SetLoglevel(AValue);
}

std::string TFileLogger::LogLevelToString(int ALogLevel) {
  return ALogLevel >= LOG_NONE && ALogLevel <= LOG_DEBUG ? LevelNames[ALogLevel] : "INVALID";
}

std::string TFileLogger::LogLevelString() {
  const int level = CurrentLogLevel();
  return level >= LOG_NONE && level <= LOG_DEBUG ? LevelNames[level] : "UNKNOWN";
}

int TFileLogger::CurrentLogLevel() {
  int level = LOG_NONE;
  WithLogger([&](TFileLogger& ALogger) { level = ALogger.Loglevel(); });
  return level;
}

std::string TFileLogger::CurrentLogFile() {
  std::string file;
  WithLogger([&](TFileLogger& ALogger) { file = ALogger.LogFile(); });
  return file;
}

std::vector<std::string> TFileLogger::CurrentLogFileContents() {
  std::vector<std::string> lines;
  WithLogger([&](TFileLogger& ALogger) { lines = ALogger.GetCurrentLogContents(); });
  return lines;
}

void TFileLogger::SetLogFolder(const std::string& AFolder) {
  TProcessLogger& process = Process();
  std::unique_lock<std::shared_mutex> exclusive(process.Lock);
  process.Folder = AFolder;
  while (process.Folder.size() > 1 && process.Folder.back() == '/') process.Folder.pop_back();
  if (process.Logger && !process.Folder.empty()) process.Logger->SetLogFile(process.Folder + "/" + DefaultFileName());
}

void TFileLogger::Write(int ALevel, const std::string& AValue) {
  WithLogger([&](TFileLogger& ALogger) { ALogger.Log(ALevel, AValue); });
}

void TFileLogger::WriteV(int ALevel, const char* AFormat, va_list AArgs) {
  WithLogger([&](TFileLogger& ALogger) { ALogger.LogV(ALevel, AFormat, AArgs); });
}

void TFileLogger::Fatal(const std::string& AValue) { Write(LOG_FATAL, AValue); }
void TFileLogger::Error(const std::string& AValue) { Write(LOG_ERROR, AValue); }
void TFileLogger::Warn(const std::string& AValue) { Write(LOG_WARN, AValue); }
void TFileLogger::Info(const std::string& AValue) { Write(LOG_INFO, AValue); }
void TFileLogger::Debug(const std::string& AValue) { Write(LOG_DEBUG, AValue); }

#define ZOR_LOG_FORMAT_OPERATION(name, level)  \
  void TFileLogger::name(const char* AFormat, ...) { \
    va_list args;                               \
    va_start(args, AFormat);                    \
    WriteV(level, AFormat, args);               \
    va_end(args);                               \
  }
ZOR_LOG_FORMAT_OPERATION(Fatal, LOG_FATAL)
ZOR_LOG_FORMAT_OPERATION(Error, LOG_ERROR)
ZOR_LOG_FORMAT_OPERATION(Warn, LOG_WARN)
ZOR_LOG_FORMAT_OPERATION(Info, LOG_INFO)
ZOR_LOG_FORMAT_OPERATION(Debug, LOG_DEBUG)
#undef ZOR_LOG_FORMAT_OPERATION

void TFileLogger::PurgeLog() {
  TProcessLogger& process = Process();
  std::shared_lock<std::shared_mutex> shared(process.Lock);
  if (!process.Logger) return;
  try {
    process.Logger->Flush();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Exception In Log processing: %s\n", e.what());
  }
}

void TFileLogger::CloseLog() {
  TProcessLogger& process = Process();
  std::unique_ptr<TFileLogger> logger;
  {
    std::unique_lock<std::shared_mutex> exclusive(process.Lock);
    logger = std::move(process.Logger);
    process.Closed = true;
  }
  // Stopping writes every line queued so far; it runs outside the lock, so a
  // caller logging meanwhile is not held up (its line is dropped).
  if (logger) (void)logger->ThreadStop(true, INFINITE);
}

}  // namespace zor
