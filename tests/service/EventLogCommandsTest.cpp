// The channels, write-event and dump commands, run as the program.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ServiceFolders.h"
#include "support/TempDir.h"

namespace zor {
namespace {

class EventLogCommandsTest : public testing::Test {
 protected:
  int Run(std::vector<std::string> AArguments, std::string* AOut = nullptr, std::string* AErr = nullptr) {
    AArguments.insert(AArguments.begin(), {"--programdata", FDir.Path().string()});
    return test::RunProgram(ZOR_BINARY, AArguments, FDir / "out", AOut, AErr);
  }

  static std::vector<std::string> Lines(const std::string& AText) {
    std::vector<std::string> lines;
    std::istringstream in(AText);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  void SetUp() override { std::filesystem::create_directory(FDir / "out"); }

  test::TempDir FDir;
  // The default root under --programdata.
  const std::filesystem::path FRoot = FDir / "Velmora" / "WinEvtSvc" / "Svc" / "EventLogs";
};

TEST_F(EventLogCommandsTest, ConcurrentWritersThenChannelsAndDump) {
  std::vector<std::unique_ptr<test::TChildProcess>> writers;
  for (int i = 0; i < 6; ++i) {
    std::filesystem::create_directory(FDir / ("w" + std::to_string(i)));
    writers.push_back(std::make_unique<test::TChildProcess>(
        ZOR_BINARY,
        std::vector<std::string>{"--programdata", FDir.Path().string(), "write-event", "--channel",
                                 "Microsoft-Windows-Test/Operational", "--provider", "Writer", "--id",
                                 std::to_string(100 + i), "--data", "Text=a\r\nb & c", "--computer", "ws01"},
        FDir / ("w" + std::to_string(i))));
  }
  for (auto& writer : writers) EXPECT_EQ(writer->WaitForExit(), 0) << writer->StandardError();
  ASSERT_EQ(Run({"write-event", "--channel", "Application", "--provider", "P", "--id", "1", "--level", "2"}), 0);

  std::string out;
  std::string err;
  ASSERT_EQ(Run({"channels"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "Application\nMicrosoft-Windows-Test/Operational\n");

  ASSERT_EQ(Run({"dump", "Microsoft-Windows-Test/Operational"}, &out, &err), 0) << err;
  EXPECT_EQ(err, "6 records\n");
  std::set<std::string> ids;
  for (const std::string& line : Lines(out)) {
    EXPECT_NE(line.find("<Data Name='Text'>a&#13;&#10;b &amp; c</Data>"), std::string::npos) << line;
    EXPECT_NE(line.find("<Computer>ws01</Computer>"), std::string::npos) << line;
    ids.insert(line.substr(line.find("<EventRecordID>"), 20));
  }
  EXPECT_EQ(ids.size(), 6u);

  ASSERT_EQ(Run({"--eventlog-dir", FRoot.string(), "dump", "microsoft-windows-test/operational", "--query",
                 "*[System[EventID=103]]"},
                &out, &err),
            0)
      << err;
  EXPECT_EQ(err, "1 records\n");
  EXPECT_NE(out.find("<EventID>103</EventID>"), std::string::npos);
}

TEST_F(EventLogCommandsTest, DumpsFilesAndChannelsOfEitherKind) {
  const std::string sample = std::string(ZOR_SHARED_DIR) + "/evtx-samples/eas_powershell_4104.evtx";
  std::filesystem::create_directories(FRoot);
  std::filesystem::copy_file(sample, FRoot / "Microsoft-Windows-PowerShell%4Operational.evtx");
  std::string out;
  std::string err;
  ASSERT_EQ(Run({"dump", sample}, &out, &err), 0) << err;
  EXPECT_EQ(err, "4 records\n");
  const std::string whole = out;
  ASSERT_EQ(Run({"dump", "Microsoft-Windows-PowerShell/Operational"}, &out, &err), 0) << err;
  EXPECT_EQ(out, whole);
  ASSERT_EQ(Run({"dump", sample, "--query",
                 "<QueryList><Query Id='0' Path='Microsoft-Windows-PowerShell/Operational'><Select>*</Select>"
                 "<Suppress>*[System[EventID=4104]]</Suppress></Query></QueryList>"},
                &out, &err),
            0)
      << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "0 records\n");
}

// An XML channel put together from elsewhere: the ids of its lines repeat and
// go backwards. A record's id is its line's own: dump shows every line as it
// stands, a query on EventRecordID sees that id, and write-event gives the
// next event the id after the highest.
TEST_F(EventLogCommandsTest, XmlChannelRecordIdsAreTheLinesOwn) {
  std::filesystem::create_directories(FRoot);
  std::string text;
  int line = 0;
  for (const int id : {3, 1, 3, 2, 9, 1})
    text += "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='P'/>"
            "<EventID>1</EventID><EventRecordID>" +
            std::to_string(id) + "</EventRecordID></System><EventData><Data>" + std::to_string(line++) +
            "</Data></EventData></Event>\n";
  {
    std::ofstream out(FRoot / "Mixed.xml", std::ios::binary);
    out << text;
  }
  std::string out;
  std::string err;
  ASSERT_EQ(Run({"dump", "Mixed"}, &out, &err), 0) << err;
  EXPECT_EQ(err, "6 records\n");
  EXPECT_EQ(out, text);

  ASSERT_EQ(Run({"dump", "Mixed", "--query", "*[System[EventRecordID=3]]"}, &out, &err), 0) << err;
  EXPECT_EQ(err, "2 records\n");
  const std::vector<std::string> all = Lines(text);
  EXPECT_EQ(Lines(out), (std::vector<std::string>{all[0], all[2]}));

  ASSERT_EQ(Run({"write-event", "--channel", "Mixed", "--provider", "P", "--id", "5"}, &out, &err), 0) << err;
  ASSERT_EQ(Run({"dump", "Mixed"}, &out, &err), 0) << err;
  EXPECT_EQ(err, "7 records\n");
  ASSERT_EQ(Lines(out).size(), 7u);
  EXPECT_NE(Lines(out).back().find("<EventRecordID>10</EventRecordID>"), std::string::npos);
}

// A large file dumped with standard error at a terminal shows a progress line
// there, rewritten in place and cleared before the count; standard error
// that is a file gets the count alone.
TEST_F(EventLogCommandsTest, ProgressOfALargeDumpOnlyAtATerminal) {
  std::filesystem::create_directories(FRoot);
  const std::string padding(2200, 'x');
  {
    std::ofstream out(FRoot / "Large.xml", std::ios::binary);
    for (int id = 1; id <= 4200; ++id)
      out << "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='P'/>"
             "<EventID>1</EventID><EventRecordID>"
          << id << "</EventRecordID></System><EventData><Data>" << padding << "</Data></EventData></Event>\n";
  }
  ASSERT_GT(std::filesystem::file_size(FRoot / "Large.xml"), 8u * 1024 * 1024);

  std::string out;
  std::string err;
  ASSERT_EQ(Run({"dump", "Large"}, &out, &err), 0) << err;
  EXPECT_EQ(err, "4200 records\n");

  // script(1) gives the program a terminal; standard output still goes to a file.
  const std::string command = std::string("'") + ZOR_BINARY + "' --programdata '" + FDir.Path().string() +
                              "' dump Large > '" + (FDir / "out" / "records").string() + "'";
  const std::filesystem::path typescript = FDir / "out" / "typescript";
  ASSERT_EQ(test::RunProgram("/usr/bin/script", {"-qec", command, typescript.string()}, FDir / "out", &out, &err), 0)
      << out << err;
  std::ifstream in(typescript, std::ios::binary);
  const std::string terminal((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(terminal.find("\rdump: 4096 records, 97% of the file"), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("\r\033[K4200 records"), std::string::npos) << terminal;
  EXPECT_EQ(Lines(test::ReadFile(FDir / "out" / "records")).size(), 4200u);
}

// A reader that goes away early (dump FILE | head -c 1). By default SIGPIPE
// ends the dump quietly, as it ends any filter; with SIGPIPE ignored the dump
// stops at its first failed write and says why. With one decoding thread and
// with two.
TEST_F(EventLogCommandsTest, AReaderThatGoesAwayEndsTheDump) {
  const std::string sample = std::string(ZOR_SHARED_DIR) + "/evtx-samples/dbc_powershell_obfuscation_many.evtx";
  struct TCase {
    const char* IgnorePipe;
    const char* Threads;
    int Status;
    const char* Message;
  };
  const TCase cases[] = {
      {"", "1", 128 + SIGPIPE, ""},
      {"", "2", 128 + SIGPIPE, ""},
      {"trap '' PIPE; ", "1", 1, "dump: cannot write to standard output: Broken pipe\n"},
      {"trap '' PIPE; ", "2", 1, "dump: cannot write to standard output: Broken pipe\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.IgnorePipe) + "threads " + c.Threads);
    const std::string script = std::string("set -o pipefail; ") + c.IgnorePipe + "\"$0\" dump --threads " +
                               c.Threads + " \"$1\" | head -c 1 > /dev/null";
    std::string err;
    EXPECT_EQ(test::RunProgram("/bin/bash", {"-c", script, ZOR_BINARY, sample}, FDir / "out", nullptr, &err), c.Status);
    EXPECT_EQ(err, c.Message);
  }
}

TEST_F(EventLogCommandsTest, AGlobalOptionsValueThatReadsAsACommandIsTheValue) {
  // The command is found before the command line is parsed: the word after a
  // global option that takes a value is that value, whatever it reads as.
  ASSERT_EQ(Run({"write-event", "--channel", "Application", "--provider", "P", "--id", "1"}), 0);
  for (const char* word : {"dump", "status", "write-event"}) {
    SCOPED_TRACE(word);
    std::string out;
    std::string err;
    ASSERT_EQ(test::RunProgram(ZOR_BINARY, {"--home", word, "--programdata", FDir.Path().string(), "channels"},
                               FDir / "out", &out, &err),
              0)
        << err;
    EXPECT_EQ(out, "Application\n");
  }
}

TEST_F(EventLogCommandsTest, FailuresAreReportedWithNonZeroStatus) {
  std::filesystem::create_directories(FRoot);
  std::filesystem::copy_file(std::string(ZOR_SHARED_DIR) + "/evtx-samples/eas_powershell_4104.evtx",
                             FRoot / "Security.evtx");
  struct TCase {
    std::vector<std::string> Arguments;
    const char* Message;
  };
  const TCase cases[] = {
      {{"write-event", "--channel", "security", "--provider", "P", "--id", "1"}, "only XML channels can be written"},
      {{"write-event", "--channel", "App", "--provider", "P", "--id", "1", "--data", "x"}, "NAME=VALUE"},
      {{"write-event", "--channel", "App", "--provider", "P", "--id", "70000"}, "out of range"},
      {{"dump", "Security", "--query", "//Data"}, "invalid query"},
      {{"dump", "NoSuchChannel"}, "no file or channel NoSuchChannel"},
      {{"--eventlog-dir", (FDir / "none").string(), "channels"}, "cannot list"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Message);
    std::string out;
    std::string err;
    EXPECT_NE(Run(c.Arguments, &out, &err), 0);
    EXPECT_NE(err.find(c.Message), std::string::npos) << err;
  }
  // Nothing was half-written.
  EXPECT_FALSE(std::filesystem::exists(FRoot / "App.xml"));
}

}  // namespace
}  // namespace zor
