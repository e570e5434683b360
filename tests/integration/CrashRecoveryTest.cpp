// The service killed with SIGKILL at random moments while it forwards a
// growing channel to rsyslog over TCP, RELP and TLS and to the test bulk endpoint,
// and started again each time: every record arrives at every receiver at
// least once. The records sent twice (taken after the last bookmark save, or
// taken by one receiver and not yet by another, at a kill) are counted per
// kill and receiver, and must stay within what was on its way. The beat receiver
// sends a document id, so its index ends with exactly one document a record.
//
// Size: ZOR_CRASH_RECORDS records and ZOR_CRASH_KILLS kills (the defaults
// keep CI short; bench/crash_recovery.sh runs 200,000 records and 20 kills).
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "support/BulkReceiver.h"
#include "support/RsyslogRunner.h"
#include "support/SanitizedBuild.h"
#include "support/ServiceFolders.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TRsyslogRunner;
using TInput = TRsyslogRunner::TInput;

size_t FromEnvironment(const char* AName, size_t ADefault) {
  const char* text = std::getenv(AName);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : ADefault;
}

// The number after AKey in AText, or 0.
uint64_t NumberAfter(std::string_view AText, std::string_view AKey) {
  const size_t at = AText.find(AKey);
  if (at == std::string_view::npos) return 0;
  uint64_t value = 0;
  for (size_t i = at + AKey.size(); i < AText.size() && AText[i] >= '0' && AText[i] <= '9'; ++i)
    value = value * 10 + static_cast<uint64_t>(AText[i] - '0');
  return value;
}

// How often each record id 1..ACount arrived at one receiver.
struct TArrivals {
  std::vector<uint32_t> Count;
  size_t Missing = 0;
  size_t Duplicates = 0;
  size_t Unreadable = 0;  // lines or documents without a record id (a message cut by a kill)

  explicit TArrivals(size_t ARecords) : Count(ARecords + 1, 0) {}
  void Add(uint64_t AId) {
    if (AId == 0 || AId >= Count.size()) {
      ++Unreadable;
      return;
    }
    ++Count[AId];
  }
  void Finish() {
    Missing = Duplicates = 0;
    for (size_t id = 1; id < Count.size(); ++id) {
      if (Count[id] == 0) ++Missing;
      if (Count[id] > 1) Duplicates += Count[id] - 1;
    }
  }
};

// One record of the channel, as a line of an appendable channel.
std::string RecordLine(uint64_t AId) {
  const std::string id = std::to_string(AId);
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='CrashTest'/>"
         "<EventID>1</EventID><Level>4</Level><TimeCreated SystemTime='2024-01-01T00:00:00.0000000Z'/>"
         "<EventRecordID>" + id + "</EventRecordID><Channel>Crash</Channel><Computer>h</Computer></System>"
         "<EventData><Data Name='N'>" + id + "</Data></EventData></Event>\n";
}

class CrashRecoveryTest : public testing::Test, protected test::TServiceFolders {
 protected:
  void SetUp() override {
    if (!TRsyslogRunner::Available()) GTEST_SKIP() << "rsyslogd is not installed (scripts/setup.sh installs it)";
    std::filesystem::create_directories(FRoot / "rsyslog");
    std::filesystem::create_directories(EventLogDir());
    std::filesystem::create_directories(SvcDir());
    FCertificate = std::make_unique<test::TTestCertificate>(FRoot / "rsyslog");
    FRsyslog = std::make_unique<TRsyslogRunner>(FRoot / "rsyslog", *FCertificate);
    FBulk = std::make_unique<test::TBulkReceiver>();
  }

  std::string Config() const {
    const auto syslog = [&](const char* AName, TInput AInput, const char* ATransport) {
      return std::string("{\"name\": \"") + AName + "\", \"host\": \"127.0.0.1\", \"port\": " +
             std::to_string(FRsyslog->Port(AInput)) + ", \"transport\": \"" + ATransport +
             "\", \"tcpDelimiter\": \"\\\\LF\", \"version\": 1}";
    };
    return "{\"logLevel\": 2, \"processingThreads\": " + std::to_string(ProcessingThreads) +
           ", \"interfaces\": [{\"name\": \"Crash\", \"path\": \"Crash\", \"batchSize\": " + std::to_string(BatchSize) +
           ", \"startAtBeginning\": true, \"syslogReceivers\": [" +
           syslog("Tcp", TInput::Tcp, "TCP") + ", " + syslog("Relp", TInput::Relp, "RELP") + ", " +
           syslog("Tls", TInput::Tls, "TLS1.2") +
           "], \"beatReceivers\": [{\"name\": \"B\", \"protocol\": \"http\", \"host\": \"127.0.0.1\", \"port\": " +
           std::to_string(FBulk->Port()) + ", \"esVersion\": 7, \"createTemplate\": false, \"documentId\": true}]}]}";
  }

  TArrivals SyslogArrivals(TInput AInput, size_t ARecords) const {
    TArrivals arrivals(ARecords);
    for (const std::string& line : FRsyslog->Lines(AInput)) arrivals.Add(NumberAfter(line, "<EventRecordID>"));
    arrivals.Finish();
    return arrivals;
  }
  // The index keeps one document per id: a document sent again replaces
  // the first copy and is counted as an update.
  TArrivals BulkArrivals(size_t ARecords) const {
    TArrivals arrivals(ARecords);
    for (const auto& [index, documents] : FBulk->Documents())
      for (const std::string& document : documents) arrivals.Add(NumberAfter(document, "\"record_number\":\""));
    arrivals.Finish();
    arrivals.Duplicates += FBulk->UpdatedDocuments();
    return arrivals;
  }
  // Every receiver's arrivals so far, in the order of ReceiverNames.
  std::vector<TArrivals> Arrivals(size_t ARecords) const {
    return {SyslogArrivals(TInput::Tcp, ARecords), SyslogArrivals(TInput::Relp, ARecords),
            SyslogArrivals(TInput::Tls, ARecords), BulkArrivals(ARecords)};
  }

  static constexpr size_t BatchSize = 500;
  static constexpr size_t ProcessingThreads = 2;
  // Most records one kill may bring twice to one receiver: a reader keeps at
  // most threads + 1 batches on their way (taken by some receivers, or in a
  // bulk request not yet answered), and fewer than two batches' worth taken
  // by every receiver but not yet saved (it waits for a slow save beyond
  // that). One batch more for lines a receiver writes out late, so that they
  // count with the next kill.
  static constexpr size_t DuplicateBound = (ProcessingThreads + 1 + 2 + 1) * BatchSize;
  static constexpr const char* ReceiverNames[] = {"TCP", "RELP", "TLS", "Bulk"};

  std::unique_ptr<test::TTestCertificate> FCertificate;
  std::unique_ptr<TRsyslogRunner> FRsyslog;
  std::unique_ptr<test::TBulkReceiver> FBulk;
};

TEST_F(CrashRecoveryTest, EveryRecordArrivesAtEveryReceiverAcrossKills) {
#ifdef ZOR_SANITIZED_BUILD
  const size_t records = FromEnvironment("ZOR_CRASH_RECORDS", 5'000);
  const size_t kills = FromEnvironment("ZOR_CRASH_KILLS", 3);
#else
  const size_t records = FromEnvironment("ZOR_CRASH_RECORDS", 20'000);
  const size_t kills = FromEnvironment("ZOR_CRASH_KILLS", 5);
#endif
  WriteConfig(Config());
  TFile channel((EventLogDir() / "Crash.xml").string(), TFile::TMode::fmAppendCreate);

  // The channel grows in bursts while the service runs, is killed and comes
  // back: about a second of bursts per kill.
  std::atomic<size_t> written{0};
  std::thread writer([&] {
    const size_t burst = std::max<size_t>(1, records / (kills + 1) / 20);
    while (written < records) {
      std::string lines;
      const size_t from = written + 1;
      const size_t to = std::min(records, written + burst);
      for (size_t id = from; id <= to; ++id) lines += RecordLine(id);
      channel.Append(lines);
      written = to;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the pace of the producer, not a wait
    }
  });

  // Duplicates of each receiver counted after each kill, before the restart:
  // those the restart after kill k sends again show up by kill k + 1.
  std::vector<std::vector<size_t>> duplicatesAfter(std::size(ReceiverNames), std::vector<size_t>{0});
  const auto noteDuplicates = [&] {
    const std::vector<TArrivals> now = Arrivals(records);
    for (size_t r = 0; r < now.size(); ++r) duplicatesAfter[r].push_back(now[r].Duplicates);
  };
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delay(200, 1500);
  for (size_t k = 0; k < kills; ++k) {
    auto service = Start();
    // A random moment of the run; the service is busy all along.
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    service->Signal(SIGKILL);
    ASSERT_TRUE(service->WaitForExit()) << "kill " << k;
    if (k > 0) noteDuplicates();
  }
  writer.join();
  auto service = Start();

  // Reading every receiver's output is not cheap: look again only after a
  // while, until every record is there.
  auto lastLook = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const auto complete = [&] {
    if (std::chrono::steady_clock::now() - lastLook < std::chrono::milliseconds(500)) return false;
    lastLook = std::chrono::steady_clock::now();
    return FBulk->DocumentCount() >= records && SyslogArrivals(TInput::Tcp, records).Missing == 0 &&
           SyslogArrivals(TInput::Relp, records).Missing == 0 &&
           SyslogArrivals(TInput::Tls, records).Missing == 0 && BulkArrivals(records).Missing == 0;
  };
  const bool all = test::WaitUntil(complete, std::chrono::seconds(600), "every record at every receiver");
  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();

  noteDuplicates();

  const std::vector<TArrivals> arrivals = Arrivals(records);
  for (size_t r = 0; r < arrivals.size(); ++r) {
    const char* name = ReceiverNames[r];
    SCOPED_TRACE(name);
    EXPECT_EQ(arrivals[r].Missing, 0u);
    std::vector<size_t> perKill;
    for (size_t k = 1; k < duplicatesAfter[r].size(); ++k)
      perKill.push_back(duplicatesAfter[r][k] - duplicatesAfter[r][k - 1]);
    std::printf("%s duplicates by kill:", name);
    for (const size_t count : perKill) std::printf(" %zu", count);
    std::printf("\n");
    std::sort(perKill.begin(), perKill.end());
    const size_t median = perKill[perKill.size() / 2];
    RecordProperty(std::string(name) + "DuplicatesPerKillMedian", std::to_string(median));
    RecordProperty(std::string(name) + "DuplicatesPerKillMax", std::to_string(perKill.back()));
    std::printf("%s: %zu records, %zu kills, %zu duplicates, per kill min %zu median %zu max %zu, %zu cut messages\n",
                name, records, kills, arrivals[r].Duplicates, perKill.front(), median, perKill.back(),
                arrivals[r].Unreadable);
    // Sent again after a kill: what was taken since the last save (about a
    // batch) and what one receiver took ahead of the others.
    EXPECT_LE(perKill.back(), DuplicateBound) << "the most duplicates of one kill";
  }
  // One document per record in the index, however often one was sent.
  EXPECT_EQ(FBulk->DocumentCount(), records);
  size_t stored = 0;
  for (const auto& [index, documents] : FBulk->Documents()) stored += documents.size();
  EXPECT_EQ(stored, records);
  EXPECT_TRUE(all);
}

}  // namespace
}  // namespace zor
