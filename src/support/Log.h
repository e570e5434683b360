#pragma once

#include <string>

// The global logging functions. Every component logs through these; they
// format at once on the caller's thread and hand the line to the process-wide
// file logger (support/FileLogger.h), so they never block on file I/O.
// Safe to call from any thread.

namespace zor {

constexpr int LOG_NONE = 0;
constexpr int LOG_FATAL = 1;
constexpr int LOG_ERROR = 2;
constexpr int LOG_WARN = 3;
constexpr int LOG_INFO = 4;
constexpr int LOG_DEBUG = 5;

void LogFatal(const std::string& AText);
void LogError(const std::string& AText);
void LogWarning(const std::string& AText);
void LogInfo(const std::string& AText);
void LogDebug(const std::string& AText);

// printf-style forms. The format must be a literal: the compiler checks it.
void LogError(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
void LogDebug(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zor
