// The beat sender against the test bulk endpoint: documents per UTC day,
// action lines by server version, HTTP and HTTPS, the template question, and
// what becomes of documents when the endpoint is down, busy, drops the
// connection or refuses single documents.
#include "beats/BeatSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "beats/BeatSenders.h"
#include "beats/BulkPoster.h"
#include "beats/WinLogBeat.h"
#include "support/BulkReceiver.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TBulkReceiver;
using test::TBulkReceiverOptions;
using test::WaitUntil;

// 2024-03-05 and 2024-03-06 as day counts since 1899-12-30, at 23:30 and
// 00:30 UTC.
constexpr double March5 = 45356 + 23.5 / 24;
constexpr double March6 = 45357 + 0.5 / 24;

// Document AId of the day ADate, for 127.0.0.1:APort.
std::unique_ptr<TLogBeat> Document(int AId, double ADate, uint16_t APort = 0) {
  auto document = std::make_unique<TWinLogBeat>();
  document->SetLogDate(ADate);
  document->SetTimeStamp(ADate);
  document->SetEventID(AId);
  document->SetDestinationHost("127.0.0.1");
  document->SetDestinationPort(APort);
  return document;
}

TBeatSender::TItemList Documents(int AFirst, int ACount, double ADate) {
  TBeatSender::TItemList list;
  for (int i = AFirst; i < AFirst + ACount; ++i) list.push_back(Document(i, ADate));
  return list;
}

// The event id of a document's text; -1 without one.
int IdOf(const std::string& AText) {
  const size_t at = AText.find("\"event_id\":");
  return at == std::string::npos ? -1 : std::stoi(AText.substr(at + 11));
}

// The event ids of AIndex's documents, in arrival order.
std::vector<int> Ids(const TBulkReceiver& AReceiver, const std::string& AIndex) {
  std::vector<int> ids;
  for (const std::string& text : AReceiver.Documents(AIndex)) ids.push_back(IdOf(text));
  return ids;
}

std::vector<int> Range(int AFirst, int ACount) {
  std::vector<int> ids;
  for (int i = AFirst; i < AFirst + ACount; ++i) ids.push_back(i);
  return ids;
}

class BeatSenderTest : public testing::Test {
 protected:
  std::unique_ptr<TBeatSender> Start(const TBulkReceiver& AReceiver, TBeatSenderOptions AOptions = {},
                                     size_t AMaxBulk = 2000) {
    auto sender = Make(AReceiver, std::move(AOptions), AMaxBulk);
    EXPECT_TRUE(sender->ThreadStart(false, INFINITE));
    return sender;
  }
  // Not started.
  std::unique_ptr<TBeatSender> Make(const TBulkReceiver& AReceiver, TBeatSenderOptions AOptions = {},
                                    size_t AMaxBulk = 2000) {
    AOptions.Protocol = AReceiver.Endpoint().substr(0, AReceiver.Endpoint().find(':'));
    TBeatSenderTuning tuning;
    tuning.RetryInitialMilliseconds = 20;
    tuning.RetryMaxMilliseconds = 100;
    tuning.MaxBulkDocuments = AMaxBulk;
    tuning.TemplateFolder = FFolder.Path().string();
    return std::make_unique<TBeatSender>("127.0.0.1", AReceiver.Port(), "elastic", "secret", AOptions,
                                         std::move(tuning));
  }
  TBulkReceiverOptions Options() {
    TBulkReceiverOptions options;
    options.UserName = "elastic";
    options.Password = "secret";
    return options;
  }
  static TBeatSenderOptions NoTemplate(int32_t AESVersion = 7) {
    TBeatSenderOptions options;
    options.CreateTemplate = false;
    options.ESVersion = AESVersion;
    return options;
  }
  void WriteTemplate(int32_t AESVersion, const std::string& AText) {
    std::ofstream(FFolder / ("winlogbeat_template_" + std::to_string(AESVersion) + ".json")) << AText;
  }

  test::TempDir FFolder;
};

struct TWireCase {
  const char* Name;
  bool Https;
  int32_t ESVersion;
  size_t TypedActions;  // of the 5 documents
};

class BeatSenderWireTest : public BeatSenderTest, public testing::WithParamInterface<TWireCase> {};

// Every document once, in order, in the index of its UTC day; "_type" only
// for servers of version 7 and below (a server of 8 would refuse it).
TEST_P(BeatSenderWireTest, DeliversEachDocumentToTheIndexOfItsDay) {
  const TWireCase& c = GetParam();
  const test::TTestCertificate certificate(FFolder.Path());
  TBulkReceiverOptions options = Options();
  if (c.Https) {
    options.Certificate = certificate.Certificate();
    options.Key = certificate.Key();
  }
  options.RejectTypes = c.ESVersion >= 8;
  TBulkReceiver receiver(options);
  auto sender = Start(receiver, NoTemplate(c.ESVersion));

  TBeatSender::TItemList batch = Documents(1, 2, March5);
  batch.push_back(Document(3, March6));
  batch.push_back(Document(4, March5));
  sender->AddBeatBatch(std::move(batch));
  sender->AddBeat(Document(5, March6));

  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 5; }));
  // Two hand-overs may go out as two requests side by side: their order at
  // the endpoint is open, the order within each is not.
  std::vector<int> second = Ids(receiver, "winlogbeat-2024-03-06");
  std::sort(second.begin(), second.end());
  EXPECT_EQ(Ids(receiver, "winlogbeat-2024-03-05"), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(second, (std::vector<int>{3, 5}));
  EXPECT_EQ(receiver.TypedActions(), c.TypedActions);
  EXPECT_EQ(receiver.GrammarErrors(), 0u) << receiver.LastGrammarError();
  EXPECT_EQ(receiver.Unauthorised(), 0u);
  EXPECT_EQ(sender->QueuedCount(), 0u);
}

const TWireCase WireCases[] = {
    {"HttpVersion7", false, 7, 5},
    {"HttpVersion8", false, 8, 0},
    {"HttpsVersion6", true, 6, 5},
};

INSTANTIATE_TEST_SUITE_P(Endpoints, BeatSenderWireTest, testing::ValuesIn(WireCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

struct TTemplateCase {
  const char* Name;
  bool Present;     // the endpoint has the template already
  bool File;        // the template file exists
  size_t Puts;      // uploads expected
};

class BeatSenderTemplateTest : public BeatSenderTest, public testing::WithParamInterface<TTemplateCase> {};

// The template is asked for before the first bulk request and uploaded, in
// compact form, only when missing; without a file delivery goes on.
TEST_P(BeatSenderTemplateTest, InstallsTheTemplateOnlyWhenMissing) {
  const TTemplateCase& c = GetParam();
  TBulkReceiver receiver(Options());
  if (c.Present) receiver.AddTemplate("wlb", "{}");
  if (c.File) WriteTemplate(7, "{\n  \"index_patterns\": [\"winlogbeat-*\"],\n  \"order\": 1\n}\n");
  TBeatSenderOptions options;
  options.ESVersion = 7;
  options.TemplateName = "wlb";
  auto sender = Start(receiver, options);
  sender->AddBeatBatch(Documents(1, 3, March5));

  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 3; }));
  EXPECT_EQ(receiver.TemplateHeads(), 1u);
  EXPECT_EQ(receiver.TemplatePuts(), c.Puts);
  if (c.Puts == 1) {
    EXPECT_EQ(receiver.Templates()["wlb"], "{\"index_patterns\":[\"winlogbeat-*\"],\"order\":1}");
  }
}

const TTemplateCase TemplateCases[] = {
    {"MissingIsUploaded", false, true, 1},
    {"PresentIsLeftAlone", true, true, 0},
    {"NoFileNoUpload", false, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Templates, BeatSenderTemplateTest, testing::ValuesIn(TemplateCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// An endpoint that is down when the sender starts gets the template first
// once it is up, then every document, in order.
TEST_F(BeatSenderTest, EndpointDownAtStartGetsTheTemplateThenEverything) {
  TBulkReceiver receiver(Options());
  WriteTemplate(6, "{\"order\":1}");
  receiver.Stop();
  auto sender = Start(receiver, TBeatSenderOptions{});
  sender->AddBeatBatch(Documents(1, 50, March5));
  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().FailedAttempts >= 2; }));
  EXPECT_EQ(sender->QueuedCount(), 50u);

  receiver.Start();
  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 50; }));
  EXPECT_EQ(receiver.TemplatePuts(), 1u);
  EXPECT_EQ(Ids(receiver, "winlogbeat-2024-03-05"), Range(1, 50));
  EXPECT_EQ(sender->Counts().Dropped, 0u);
}

struct TFailureCase {
  const char* Name;
  int Status;           // whole requests answered so (0: none) ...
  int Count;            // ... this many times
  int Drops;            // connections dropped ...
  bool AfterStoring;    // ... after the documents were stored
  size_t Duplicates;    // documents that may arrive twice
};

class BeatSenderFailureTest : public BeatSenderTest, public testing::WithParamInterface<TFailureCase> {};

// Requests that fail as a whole are retried, in order, after the back-off,
// with several requests in flight: every document arrives, none is lost, and
// only a connection lost after the endpoint stored a body brings duplicates.
TEST_P(BeatSenderFailureTest, RetriesUntilEveryDocumentArrives) {
  const TFailureCase& c = GetParam();
  TBulkReceiver receiver(Options());
  if (c.Status != 0) receiver.FailRequests(c.Status, c.Count);
  if (c.Drops != 0) receiver.DropConnections(c.Drops, c.AfterStoring);
  auto sender = Start(receiver, NoTemplate(), 10);
  sender->AddBeatBatch(Documents(1, 100, March5));

  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 100; }));
  EXPECT_GE(sender->Counts().FailedAttempts, 1u);
  EXPECT_EQ(sender->Counts().Dropped, 0u);
  std::vector<int> ids = Ids(receiver, "winlogbeat-2024-03-05");
  EXPECT_LE(ids.size(), 100u + c.Duplicates);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  EXPECT_EQ(ids, Range(1, 100));
}

const TFailureCase FailureCases[] = {
    {"TooManyRequests", 429, 3, 0, false, 0},
    {"ServerError", 500, 3, 0, false, 0},
    {"DroppedMidBody", 0, 0, 2, false, 0},
    {"DroppedAfterStoring", 0, 0, 1, true, 20},
};

INSTANTIATE_TEST_SUITE_P(Failures, BeatSenderFailureTest, testing::ValuesIn(FailureCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// The action line by server version, with and without a document id; the id
// is the SHA-256 of computer, channel and record identifier, each ended by a
// line feed, so its value is pinned: another text would break the
// replacement of documents indexed by an earlier version.
TEST(BulkActionLineTest, NamesTheIndexTypeAndDocumentId) {
  EXPECT_EQ(BulkActionLine(7, "2024-03-05"), R"({"index":{"_index":"winlogbeat-2024-03-05", "_type":"winLogBeat"}})");
  EXPECT_EQ(BulkActionLine(8, "2024-03-05"), R"({"index":{"_index":"winlogbeat-2024-03-05"}})");
  EXPECT_EQ(BulkActionLine(8, "2024-03-05", "ab"), R"({"index":{"_index":"winlogbeat-2024-03-05","_id":"ab"}})");
  EXPECT_EQ(BulkActionLine(6, "2024-03-05", "ab"),
            R"({"index":{"_index":"winlogbeat-2024-03-05", "_type":"winLogBeat","_id":"ab"}})");

  TWinLogBeat document;
  document.SetComputerName("HOST-1");
  document.SetLogName("Security");
  document.SetRecord_Number("42");
  EXPECT_EQ(BulkDocumentId(document), "b11f39277ad36ced723090f27addd81bc651bcb30920b92526a7f65b857cc5dd");
  document.SetEventID(7);  // other fields take no part
  document.SetLogMessage("changed");
  EXPECT_EQ(BulkDocumentId(document), "b11f39277ad36ced723090f27addd81bc651bcb30920b92526a7f65b857cc5dd");
  document.SetRecord_Number("43");
  EXPECT_EQ(BulkDocumentId(document), "be0a02ee44b7068b702c46bf4b6efdac48e2e7650383a3418e56a06754eacb99");
  // The parts are separated: moving text from one to the next changes the id.
  TWinLogBeat shifted;
  shifted.SetComputerName("HOST-1\nSecurity");
  shifted.SetRecord_Number("43");
  EXPECT_NE(BulkDocumentId(shifted), BulkDocumentId(document));
}

// With DocumentId, a document sent again replaces its first copy: the index
// holds each record once; without it, every sending is a new document.
TEST_F(BeatSenderTest, DocumentIdsMakeASecondSendingReplaceTheFirst) {
  const auto records = [](int AFirst, int ACount) {
    TBeatSender::TItemList list = Documents(AFirst, ACount, March5);
    for (auto& document : list) {
      auto& beat = static_cast<TWinLogBeat&>(*document);
      beat.SetComputerName("HOST-1");
      beat.SetLogName("Security");
      beat.SetRecord_Number(std::to_string(beat.EventID()));
    }
    return list;
  };
  for (const bool withIds : {true, false}) {
    SCOPED_TRACE(withIds ? "with ids" : "without ids");
    TBulkReceiverOptions receiverOptions = Options();
    receiverOptions.RejectTypes = true;
    TBulkReceiver receiver(receiverOptions);
    TBeatSenderOptions options = NoTemplate(8);
    options.DocumentId = withIds;
    auto sender = Start(receiver, options, 4);
    sender->AddBeatBatch(records(1, 10));
    ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 10; }));
    sender->AddBeatBatch(records(4, 5));
    ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent == 15; }));
    EXPECT_EQ(receiver.GrammarErrors(), 0u) << receiver.LastGrammarError();
    EXPECT_EQ(receiver.DocumentCount(), withIds ? 10u : 15u);
    EXPECT_EQ(receiver.UpdatedDocuments(), withIds ? 5u : 0u);
    EXPECT_EQ(sender->Counts().Dropped, 0u);
  }
}

// Documents refused for good are dropped and counted; the others of the same
// request are indexed and none is sent again.
TEST_F(BeatSenderTest, RefusedDocumentsAreDroppedAndCounted) {
  TBulkReceiver receiver(Options());
  receiver.RejectDocuments([](std::string_view, std::string_view ADocument) {
    const int id = IdOf(std::string(ADocument));
    return id == 3 || id == 7;
  });
  auto sender = Start(receiver, NoTemplate());
  sender->AddBeatBatch(Documents(1, 10, March5));

  ASSERT_TRUE(WaitUntil([&] { return sender->Counts().Sent + sender->Counts().Dropped == 10; }));
  EXPECT_EQ(sender->Counts().Dropped, 2u);
  EXPECT_EQ(sender->Counts().FailedAttempts, 0u);
  EXPECT_EQ(Ids(receiver, "winlogbeat-2024-03-05"), (std::vector<int>{1, 2, 4, 5, 6, 8, 9, 10}));
}

// What a stopped sender did not deliver goes back, in order, to the owner;
// the registry puts it in front of the outbound queue for the next start.
TEST_F(BeatSenderTest, UndeliveredDocumentsSurviveAStopInOrder) {
  TBulkReceiver receiver(Options());
  receiver.Stop();
  TSignalledQueue<TLogBeat> queue;
  {
    TBeatSenders senders(&queue);
    senders.AddSender(Make(receiver, NoTemplate()));
    EXPECT_TRUE(senders.HasSender("127.0.0.1", receiver.Port()));
    ASSERT_TRUE(senders.ThreadStart(false, INFINITE));
    TSignalledQueue<TLogBeat>::TItemList batch;
    for (int i = 1; i <= 30; ++i) batch.push_back(Document(i, March5, receiver.Port()));
    batch.push_back(Document(99, March5, 1));  // no sender for 127.0.0.1:1
    queue.EnqueueBatch(std::move(batch));
    ASSERT_TRUE(WaitUntil([&] {
      return queue.Count() == 0 && senders.FindSender("127.0.0.1:" + std::to_string(receiver.Port()))
                                           ->Counts()
                                           .FailedAttempts >= 1;
    }));
    ASSERT_TRUE(senders.ThreadStop(true, INFINITE));
    senders.Clear();
  }
  std::vector<int> ids;
  for (auto& document : queue.DequeueAll()) ids.push_back(static_cast<TWinLogBeat&>(*document).EventID());
  EXPECT_EQ(ids, Range(1, 30));
}

}  // namespace
}  // namespace zor
