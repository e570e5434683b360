#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace zor::test {

// The service program run by a test, with its data, program and event log
// folders under one temporary folder: writes its configuration, starts it,
// and reads its log file.
class TServiceFolders {
 public:
  std::filesystem::path DataDir() const { return FRoot / "data"; }
  std::filesystem::path SvcDir() const { return DataDir() / "Velmora/WinEvtSvc/Svc"; }
  std::filesystem::path ConfigFile() const { return SvcDir() / "SvcConfig.json"; }
  std::filesystem::path BookmarkDir() const { return SvcDir() / "BookMarks"; }
  std::filesystem::path EventLogDir() const { return FRoot / "eventlogs"; }
  std::filesystem::path LogFile() const { return FRoot / "home/Log/zor-event-exporter.log"; }

  // --programdata, --home and --eventlog-dir of these folders.
  std::vector<std::string> Folders() const;
  std::unique_ptr<TChildProcess> Start(std::vector<std::string> AExtra = {},
                                       const std::string& AProgram = ZOR_BINARY) const;
  void WriteConfig(const std::string& AText) const;

  // The log file as UTF-8 text, without its byte order mark.
  std::string Log() const;
  [[nodiscard]] testing::AssertionResult LogHas(const std::string& AText) const;
  // How often AText stands in the log now.
  [[nodiscard]] int LogCount(const std::string& AText) const;
  // The port of the ANth management endpoint the log says was started (1:
  // the first); waits for it, 0 when none came.
  uint16_t EndPointPort(int ANth = 1) const;
  // The texts appear in the log in this order. Waits for them as LogHas does:
  // the service's logger writes its lines a while after they were logged, so
  // one line there says nothing of the lines logged after it.
  [[nodiscard]] testing::AssertionResult LogInOrder(const std::vector<std::string>& ATexts) const;

 protected:
  TempDir FRoot;

 private:
  // The log as read so far: tests poll it often, and a long run's log is
  // large, so each read converts only what was added since the last one.
  struct TLogRead {
    std::mutex Mutex;
    std::string Head;    // the file's first bytes, which tell a new file from the one read
    uint64_t Bytes = 0;  // of the file, converted into Text
    std::string Text;
  };
  std::unique_ptr<TLogRead> FLogRead = std::make_unique<TLogRead>();
};

std::string ReadFile(const std::filesystem::path& APath);

}  // namespace zor::test
