// The global logging functions: each forwards to the process-wide file logger.
#include "support/Log.h"

#include <cstdarg>

#include "support/FileLogger.h"

namespace zor {

void LogFatal(const std::string& AText) { TFileLogger::Write(LOG_FATAL, AText); }
void LogError(const std::string& AText) { TFileLogger::Write(LOG_ERROR, AText); }
void LogWarning(const std::string& AText) { TFileLogger::Write(LOG_WARN, AText); }
void LogInfo(const std::string& AText) { TFileLogger::Write(LOG_INFO, AText); }
void LogDebug(const std::string& AText) { TFileLogger::Write(LOG_DEBUG, AText); }

void LogError(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  TFileLogger::WriteV(LOG_ERROR, AFormat, args);
  va_end(args);
}

void LogInfo(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  TFileLogger::WriteV(LOG_INFO, AFormat, args);
  va_end(args);
}

void LogDebug(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  TFileLogger::WriteV(LOG_DEBUG, AFormat, args);
  va_end(args);
}

}  // namespace zor
