#include "support/FileLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <thread>

#include "platform/ThreadId.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& AFile, const std::string& ABytes) {
  std::ofstream(AFile, std::ios::binary | std::ios::trunc) << ABytes;
}

std::string ThreadTag(uint32_t AId) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "[0x%.8X]", AId);
  return tag;
}

// A logger on a file in a fresh folder, with a clock the test sets.
class FileLoggerTest : public testing::Test {
 protected:
  FileLoggerTest() { FNow = TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12); }

  std::unique_ptr<TFileLogger> MakeLogger(int ALevel, const fs::path& AFile) {
    auto logger = std::make_unique<TFileLogger>(TMessageProc{}, AFile.string(), [this] { return FNow.load(); });
    logger->SetLoglevel(ALevel);
    return logger;
  }
  std::unique_ptr<TFileLogger> MakeLogger(int ALevel) { return MakeLogger(ALevel, LogFile()); }

  fs::path LogFile() const { return FDir / "svc.log"; }

  // The date part of the stamp the fixture's clock gives.
  static constexpr const char* Stamp = "2024-Mar-05 07:08:09.012 ";

  test::TempDir FDir;
  std::atomic<double> FNow;
};

TEST_F(FileLoggerTest, LinesAreUtf16WithOneMarkAndTheFixedLayout) {
  auto logger = MakeLogger(LOG_DEBUG);
  logger->Log(LOG_FATAL, "f");
  logger->Log(LOG_ERROR, "e");
  logger->Log(LOG_WARN, "w");
  logger->Log(LOG_INFO, "i");
  logger->Log(LOG_DEBUG, "d \xC3\xA9\xF0\x9F\x98\x80");
  logger->Flush();
  const std::string tag = ThreadTag(GetCurrentThreadId());
  EXPECT_EQ(logger->GetCurrentLogContents(), (std::vector<std::string>{
                                                 Stamp + tag + " FATAL - f",
                                                 Stamp + tag + " ERROR - e",
                                                 Stamp + tag + " WARN  - w",
                                                 Stamp + tag + " INFO  - i",
                                                 Stamp + tag + " DEBUG - d \xC3\xA9\xF0\x9F\x98\x80",
                                             }));

  const std::string bytes = ReadBytes(LogFile());
  ASSERT_GE(bytes.size(), 6u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE" "2\0", 4));
  // "f" CR LF ends the first line; the emoji is a surrogate pair.
  EXPECT_NE(bytes.find(std::string("f\0\r\0\n\0", 6)), std::string::npos);
  EXPECT_NE(bytes.find(std::string("\x3D\xD8\x00\xDE\r\0\n\0", 8)), std::string::npos);

  // A second batch appends without a second mark.
  logger->Log(LOG_INFO, "again");
  logger->Flush();
  const std::string twice = ReadBytes(LogFile());
  EXPECT_EQ(twice.compare(0, bytes.size(), bytes), 0);
  EXPECT_EQ(twice.find("\xFF\xFE", 2), std::string::npos);
  EXPECT_EQ(logger->GetCurrentLogContents().back(), Stamp + tag + " INFO  - again");
}

TEST_F(FileLoggerTest, AFileWithContentGetsNoMark) {
  WriteBytes(LogFile(), std::string("x\0\r\0\n\0", 6));
  auto logger = MakeLogger(LOG_INFO);
  logger->Log(LOG_INFO, "y");
  logger->Flush();
  const std::string bytes = ReadBytes(LogFile());
  EXPECT_EQ(bytes.substr(0, 6), std::string("x\0\r\0\n\0", 6));
  EXPECT_EQ(bytes.find("\xFF\xFE"), std::string::npos);
}

TEST_F(FileLoggerTest, TheFolderIsMadeByTheFirstWriteAndAgainWhenRemoved) {
  const fs::path folder = FDir / "a" / "b";
  auto logger = MakeLogger(LOG_INFO, folder / "svc.log");
  EXPECT_FALSE(fs::exists(folder));
  for (const char* text : {"one", "two"}) {
    logger->Log(LOG_INFO, text);
    logger->Flush();
    ASSERT_EQ(logger->GetCurrentLogContents().size(), 1u);
    EXPECT_NE(logger->GetCurrentLogContents()[0].find(text), std::string::npos);
    fs::remove_all(FDir / "a");
  }
}

TEST_F(FileLoggerTest, LevelLetsThroughItsOwnAndMoreSevereLines) {
  const struct {
    int Level;
    const char* Tags;  // first letters of the tags written
  } cases[] = {{LOG_NONE, ""},     {LOG_FATAL, "F"},    {LOG_ERROR, "FE"},   {LOG_WARN, "FEW"},
               {LOG_INFO, "FEWI"}, {LOG_DEBUG, "FEWID"}, {9, "FEWID"},       {-1, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Level);
    const fs::path file = FDir / ("level" + std::to_string(c.Level + 1) + ".log");
    auto logger = MakeLogger(c.Level, file);
    for (int level = LOG_FATAL; level <= LOG_DEBUG; ++level) logger->Log(level, "x");
    logger->Flush();
    std::string tags;
    for (const std::string& line : logger->GetCurrentLogContents()) tags += line.substr(std::strlen(Stamp) + 13, 1);
    EXPECT_EQ(tags, c.Tags);
    // Nothing let through: the file is not even created.
    EXPECT_EQ(fs::exists(file), *c.Tags != '\0');
  }
}

TEST_F(FileLoggerTest, RollsOverAtTwoMebibytesToTheStampedArchive) {
  const fs::path archive = FDir / "svc20240305070809012.log";
  WriteBytes(archive, "an older archive of the same name");
  // One byte short of the limit: appended to.
  WriteBytes(LogFile(), std::string(TFileLogger::RollOverSize - 1, 'a'));
  auto logger = MakeLogger(LOG_ERROR);
  logger->Log(LOG_ERROR, "first");
  logger->Flush();
  EXPECT_GT(fs::file_size(LogFile()), static_cast<uintmax_t>(TFileLogger::RollOverSize));
  EXPECT_EQ(ReadBytes(archive), "an older archive of the same name");

  // At the limit: moved to the archive, replacing the old one, and the notice
  // heads the new file although the level is below INFO.
  WriteBytes(LogFile(), std::string(TFileLogger::RollOverSize, 'b'));
  logger->Log(LOG_ERROR, "second");
  logger->Flush();
  EXPECT_EQ(fs::file_size(archive), static_cast<uintmax_t>(TFileLogger::RollOverSize));
  const std::vector<std::string> lines = logger->GetCurrentLogContents();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" INFO  - Log Rolled Over. File Size Exceded"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" ERROR - second"), std::string::npos);
  EXPECT_EQ(ReadBytes(LogFile()).substr(0, 2), "\xFF\xFE");
}

TEST_F(FileLoggerTest, RollOverPurgesOwnArchivesCreatedMoreThanSevenDaysBeforeToday) {
  const fs::path archive = FDir / "svc20200101000000000.log";
  const fs::path foreign = FDir / "other.log";
  const fs::path lookalike = FDir / "svc-old.log";
  for (const fs::path& file : {archive, foreign, lookalike}) WriteBytes(file, "x");
  const TDateTime created = TUtilities::GetFileCreationTime(archive.string());
  ASSERT_GT(created, 0);
  const TDateTime createdDay = TUtilities::DateOf(created);
  auto logger = MakeLogger(LOG_INFO);

  const auto rollAt = [&](TDateTime ANow) {
    FNow = ANow;
    WriteBytes(LogFile(), std::string(TFileLogger::RollOverSize, 'c'));
    logger->Log(LOG_INFO, "line");
    logger->Flush();
    return logger->GetCurrentLogContents();
  };
  // Eight days after the day of creation: 7 whole days and some hours before
  // the start of "today", so the archive stays.
  std::vector<std::string> lines = rollAt(createdDay + 8 + 0.5);
  EXPECT_TRUE(fs::exists(archive));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Log Rolled Over"), std::string::npos);

  // A day later it is 8 whole days old: deleted, and the notice says so.
  lines = rollAt(createdDay + 9 + 0.5);
  EXPECT_FALSE(fs::exists(archive));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find(" INFO  - At least one log file aged out"), std::string::npos) << lines[1];
  // Files that are not this logger's stay, and the full file was archived
  // rather than deleted.
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_TRUE(fs::exists(lookalike));
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  TUtilities::DecodeDateTime(createdDay + 9 + 0.5, year, month, day, hour, minute, second, ms);
  EXPECT_TRUE(fs::exists(FDir / TUtilities::Format("svc%.4d%.2d%.2d120000000.log", year, month, day)));
}

TEST_F(FileLoggerTest, ManyThreadsLoseNoLineAndKeepTheirOrder) {
  auto logger = MakeLogger(LOG_INFO);
  ASSERT_TRUE(logger->ThreadStart(false, 0));
  logger->Log(LOG_INFO, "wake");
  // The logger thread writes without being asked.
  ASSERT_TRUE(test::WaitUntil([&] { return logger->GetCurrentLogContents().size() == 1; }));

  constexpr int Threads = 8;
  constexpr int LinesPerThread = 1000;
  std::vector<uint32_t> ids(Threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < Threads; ++t)
    workers.emplace_back([&, t] {
      ids[t] = GetCurrentThreadId();
      for (int i = 0; i < LinesPerThread; ++i) logger->Log(LOG_INFO, "worker " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (std::thread& worker : workers) worker.join();
  ASSERT_TRUE(logger->ThreadStop(true, INFINITE));

  const std::vector<std::string> lines = logger->GetCurrentLogContents();
  ASSERT_EQ(lines.size(), 1u + Threads * LinesPerThread + 1u);
  EXPECT_NE(lines.back().find(" INFO  - Queue Processor Received Should Finish Event"), std::string::npos);
  const std::regex layout(R"(2024-Mar-05 07:08:09\.012 (\[0x[0-9A-F]{8}\]) INFO  - worker (\d+) line (\d+))");
  std::vector<int> next(Threads, 0);
  for (size_t k = 1; k + 1 < lines.size(); ++k) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[k], match, layout)) << lines[k];
    const int t = std::stoi(match[2]);
    ASSERT_LT(t, Threads);
    EXPECT_EQ(match[1], ThreadTag(ids[t]));
    ASSERT_EQ(std::stoi(match[3]), next[t]) << "worker " << t << " out of order";
    ++next[t];
  }
}

TEST_F(FileLoggerTest, AnUnwritableFolderIsReportedAndLoggingRecovers) {
  WriteBytes(FDir / "blocker", "a file where the folder should be");
  auto logger = MakeLogger(LOG_INFO, FDir / "blocker" / "svc.log");
  logger->Log(LOG_INFO, "lost");
  try {
    logger->Flush();
    ADD_FAILURE() << "no error";
  } catch (const EZorError& e) {
    EXPECT_NE(std::string(e.what()).find("blocker/svc.log"), std::string::npos) << e.what();
  }

  // On the logger thread the failure goes to standard error and the thread
  // goes on.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(logger->ThreadStart(false, 0));
  logger->Log(LOG_INFO, "also lost");
  ASSERT_TRUE(logger->ThreadStop(true, INFINITE));
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Exception In Log processing: Cannot open log file"), std::string::npos) << errors;

  // The lost batches are gone; a usable file takes the next lines.
  logger->SetLogFile(LogFile().string());
  logger->Log(LOG_INFO, "kept");
  logger->Flush();
  EXPECT_EQ(logger->GetCurrentLogContents(),
            std::vector<std::string>{Stamp + ThreadTag(GetCurrentThreadId()) + " INFO  - kept"});
}

TEST_F(FileLoggerTest, AMessageProcTakesTheLinesInsteadOfTheFile) {
  std::vector<std::string> taken;
  TFileLogger logger([&](const std::string& ALine) { taken.push_back(ALine); }, LogFile().string(),
                     [this] { return FNow.load(); });
  logger.SetLoglevel(LOG_INFO);
  logger.Log(LOG_INFO, "to the sink");
  logger.Flush();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0], Stamp + ThreadTag(GetCurrentThreadId()) + " INFO  - to the sink");
  EXPECT_FALSE(fs::exists(LogFile()));
}

TEST(ProcessLogger, GlobalFunctionsReachTheFileInTheChosenFolder) {
  test::TempDir dir;
  // Whatever happens, the process logger leaves the folder before it goes.
  struct TRestore {
    ~TRestore() {
      TFileLogger::CloseLog();
      TFileLogger::SetLogFolder("");
    }
  } restore;
  TFileLogger::SetLogFolder((dir / "logs").string());
  TFileLogger::SetFileLogLevel(LOG_INFO);
  EXPECT_EQ(fs::path(TFileLogger::CurrentLogFile()).parent_path(), dir / "logs");
  EXPECT_EQ(TFileLogger::LogLevelString(), "LOG_INFO");
  LogInfo("number %d", 5);
  LogDebug("hidden %d", 6);
  LogError(std::string("error 100%"));
  LogFatal("fatal");
  TFileLogger::Warn("warned %s", "here");
  TFileLogger::PurgeLog();
  std::vector<std::string> lines = TFileLogger::CurrentLogFileContents();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find(" INFO  - number 5"), std::string::npos);
  EXPECT_NE(lines[1].find(" ERROR - error 100%"), std::string::npos);
  EXPECT_NE(lines[2].find(" FATAL - fatal"), std::string::npos);
  EXPECT_NE(lines[3].find(" WARN  - warned here"), std::string::npos);

  TFileLogger::SetFileLogLevel(9);
  EXPECT_EQ(TFileLogger::LogLevelString(), "UNKNOWN");
  EXPECT_EQ(TFileLogger::CurrentLogLevel(), 9);
  EXPECT_EQ(TFileLogger::LogLevelToString(9), "INVALID");
  EXPECT_EQ(TFileLogger::LogLevelToString(LOG_WARN), "LOG_WARN");
  EXPECT_EQ(TFileLogger::LogLevelToString(LOG_NONE), "LOG_NONE");

  // Lines logged just before the close reach the file.
  const std::string file = TFileLogger::CurrentLogFile();
  LogDebug("last words");
  TFileLogger::CloseLog();
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::u16string expected = TUtilities::Utf8ToUtf16(" DEBUG - last words\r\n");
  EXPECT_NE(bytes.find(std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2)),
            std::string::npos);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// The child process logs and exits without closing the log: the exit handler
// must still hand every queued line over. The child's sink is slow (a
// millisecond a line), so lines are still queued when it exits.
TEST(ProcessLoggerDeathTest, LinesLoggedJustBeforeExitAreWritten) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child runs this body again from the start: it takes the parent's
  // folder from the environment.
  constexpr const char* FolderVariable = "ZOR_TEST_EXIT_LOG_DIR";
  std::optional<test::TempDir> dir;
  std::string folder;
  if (const char* inherited = std::getenv(FolderVariable)) {
    folder = inherited;
  } else {
    dir.emplace();
    folder = dir->Path().string();
    setenv(FolderVariable, folder.c_str(), 1);
  }
  const std::string sink = folder + "/sink.txt";
  EXPECT_EXIT(
      {
        TFileLogger::SetFileLogLevel(LOG_INFO, [&](const std::string& ALine) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          std::ofstream(sink, std::ios::app) << ALine << "\n";
        });
        for (int i = 0; i < 100; ++i) LogInfo("line %d", i);
        std::exit(3);
      },
      testing::ExitedWithCode(3), "");
  unsetenv(FolderVariable);

  std::ifstream in(sink);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_NE(lines[99].find(" INFO  - line 99"), std::string::npos);
  EXPECT_NE(lines[100].find("Queue Processor Received Should Finish Event"), std::string::npos);
}

}  // namespace
}  // namespace zor
