// Decoding chunks on several threads changes nothing that a reader of the
// file sees: the same records, issues and dump output, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "evtx/EvtxReader.h"
#include "evtx/ParallelEvtxReader.h"
#include "support/TempDir.h"

namespace zor {
namespace {

const std::filesystem::path SamplesDir = std::filesystem::path(ZOR_SHARED_DIR) / "evtx-samples";

std::vector<std::string> SampleFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(SamplesDir))
    if (entry.path().extension() == ".evtx") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Everything a reader hands out, as text: one line per record or issue.
template <typename TReader>
std::string Transcript(TReader& AReader, std::string& AIssues, bool AOneLine) {
  std::string text;
  TEvtxRecord record;
  while (AReader.Next(record)) {
    text += std::to_string(record.RecordId) + " " + std::to_string(record.WrittenTime) + " " +
            std::to_string(record.FileOffset) + " ";
    if (AOneLine) {
      text.append(record.Xml);
    } else {
      AppendOneLine(text, record.Xml);
    }
    text += "\n";
    AIssues += "before record " + std::to_string(record.RecordId) + "\n";
  }
  return text;
}

TEvtxReaderOptions Options(std::string& AIssues) {
  TEvtxReaderOptions options;
  options.EveryRecord = true;
  options.OnIssue = [&AIssues](const TEvtxIssue& AIssue) {
    AIssues += std::to_string(static_cast<int>(AIssue.Kind)) + " " + std::to_string(AIssue.FileOffset) + " " +
               std::to_string(AIssue.RecordId) + " " + AIssue.Message + "\n";
  };
  return options;
}

// Records, their places and issues come in the order of the one-thread
// reader (issues between the same records), whatever the thread count, with
// the line breaks written as references on the decoding threads or not.
TEST(ParallelEvtxReaderTest, SamplesGiveWhatTheOneThreadReaderGives) {
  for (const std::string& file : SampleFiles()) {
    SCOPED_TRACE(file);
    std::string issues;
    TEvtxReader plain(file, Options(issues));
    const std::string records = Transcript(plain, issues, false);
    ASSERT_FALSE(records.empty());
    for (const auto& [threads, oneLine] : {std::pair{1u, false}, std::pair{2u, true}, std::pair{3u, false}}) {
      SCOPED_TRACE(std::to_string(threads) + " threads" + (oneLine ? ", one line" : ""));
      std::string parallelIssues;
      TParallelEvtxReader parallel(file, Options(parallelIssues), threads, oneLine);
      EXPECT_EQ(Transcript(parallel, parallelIssues, oneLine), records);
      EXPECT_EQ(parallelIssues, issues);
    }
  }
}

TEST(ParallelEvtxReaderTest, ReadsFromAGivenRecordOnAndFailsLikeThePlainReader) {
  const std::string file = (SamplesDir / "omer_security.evtx").string();
  std::string issues;
  TEvtxReaderOptions options = Options(issues);
  options.StartAfterRecordId = 2000;
  TEvtxReader plain(file, options);
  const std::string records = Transcript(plain, issues, false);
  std::string parallelIssues;
  options.OnIssue = Options(parallelIssues).OnIssue;
  TParallelEvtxReader parallel(file, options, 2);
  EXPECT_EQ(Transcript(parallel, parallelIssues, false), records);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 261);

  EXPECT_THROW(TParallelEvtxReader((SamplesDir / "MANIFEST.md").string(), {}, 2), EEvtxFileError);
}

// The dump command's output, standard output and standard error, is the
// same byte for byte with one decoding thread and with several: on samples
// with damaged chunks and records, with line breaks in values, and the largest.
TEST(ParallelEvtxReaderTest, DumpPrintsTheSameBytesWithOneThreadAndWithSeveral) {
  test::TempDir dir;
  auto dump = [&](const std::string& AFile, const char* AThreads) {
    const std::string out = (dir / (std::string("out") + AThreads)).string();
    const std::string err = (dir / (std::string("err") + AThreads)).string();
    const std::string command = std::string(ZOR_BINARY) + " dump --threads " + AThreads + " '" + AFile + "' > '" +
                                out + "' 2> '" + err + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    auto read = [](const std::string& APath) {
      std::ifstream in(APath, std::ios::binary);
      return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    };
    return read(out) + "\n--- standard error ---\n" + read(err);
  };
  for (const char* name : {"omer_bad_chunk_magic.evtx", "omer_sysmon.evtx", "omer_security_bad_string_cache.evtx",
                           "pyevtx_dns_malformed.evtx", "dbc_powershell_obfuscation_many.evtx",
                           "mdec_security_firewall_disabled.evtx"}) {
    const std::string file = (SamplesDir / name).string();
    SCOPED_TRACE(file);
    const std::string one = dump(file, "1");
    EXPECT_EQ(dump(file, "2"), one);
  }
}

}  // namespace
}  // namespace zor
