#include "syslog/SysLogSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/FakeClock.h"
#include "support/LoopbackSink.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"

namespace zor {
namespace {

using test::TLoopbackSink;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A message whose wire text is exactly AText.
TSysLogSender::TMessage Message(const std::string& AText, const std::string& AFraming = "") {
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->SetSendMessageOnly(true);
  message->SetMessageContent(AText);
  message->SetFraming(AFraming);
  return message;
}

TSysLogSender::TMessageList Batch(const std::vector<std::string>& ATexts) {
  TSysLogSender::TMessageList batch;
  for (const std::string& text : ATexts) batch.push_back(Message(text));
  return batch;
}

class SysLogSenderTest : public testing::Test {
 protected:
  std::unique_ptr<TSysLogSender> Start(TSysLogTransport ATransport, TSyslogDelimiter ADelimiter, uint16_t APort,
                                       const TSyslogSenderOptions& AOptions = {}, size_t AMaxQueued = 100000) {
    TSysLogSenderTuning tuning;
    tuning.Clock = FClock.Function();
    tuning.MaxQueuedMessages = AMaxQueued;
    auto sender = std::make_unique<TSysLogSender>("127.0.0.1", APort, ATransport, ADelimiter, "receiver", AOptions,
                                                  std::move(tuning));
    EXPECT_TRUE(sender->ThreadStart(false, INFINITE));
    return sender;
  }

  // A TCP sender with LF framing that flushes at ACount messages or after
  // ASeconds.
  std::unique_ptr<TSysLogSender> StartWithThresholds(const TLoopbackSink& ASink, uint32_t ACount,
                                                     uint32_t ASeconds) {
    TSyslogSenderOptions options;
    options.QueueCountThreshold = ACount;
    options.QueueSecondsThreshold = ASeconds;
    return Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, ASink.Port(), options);
  }

  // Wakes the sender without giving it anything, and waits until it has
  // handled the wake-up without flushing (a sender that is holding its queue,
  // by threshold or back-off, reads the clock at least twice before it waits
  // again).
  void Poke(TSysLogSender& ASender) {
    const uint64_t before = FClock.Reads();
    ASender.AddMessageBatch({});
    ASSERT_TRUE(test::WaitUntil([&] { return FClock.Reads() >= before + 2; }));
  }

  test::TFakeClock FClock;
};

struct TWireCase {
  const char* Name;
  TSysLogTransport Transport;
  TSyslogDelimiter Delimiter;
  bool NoDelimOnLast;
  std::string SecondFraming;
  std::string Expected;  // everything the receiver gets for "hello", "caf\u00e9"
};

class SysLogSenderWireTest : public SysLogSenderTest, public testing::WithParamInterface<TWireCase> {};

TEST_P(SysLogSenderWireTest, SendsExactBytes) {
  const TWireCase& c = GetParam();
  test::TempDir folder;
  const test::TTestCertificate certificate(folder.Path());
  std::unique_ptr<TLoopbackSink> sink;
  switch (c.Transport) {
    case TSysLogTransport::sltUDP: sink = TLoopbackSink::Udp(); break;
    case TSysLogTransport::sltTCP: sink = TLoopbackSink::Tcp(); break;
    default: sink = TLoopbackSink::Tls(certificate, TLS1_VERSION, TLS1_3_VERSION); break;
  }
  TSyslogSenderOptions options;
  options.NoDelimOnLast = c.NoDelimOnLast;
  auto sender = Start(c.Transport, c.Delimiter, sink->Port(), options);

  TSysLogSender::TMessageList batch;
  batch.push_back(Message("hello"));
  batch.push_back(Message("caf\xC3\xA9", c.SecondFraming));
  sender->AddMessageBatch(std::move(batch));

  ASSERT_TRUE(sink->WaitForBytes(c.Expected.size()));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 2; }));
  EXPECT_EQ(sink->Received(), c.Expected);
  if (c.Transport == TSysLogTransport::sltUDP)
    EXPECT_EQ(sink->Datagrams(), (std::vector<std::string>{"hello", "caf\xE9"}));
  else
    EXPECT_EQ(sink->Connections(), 1u);
}

const TWireCase WireCases[] = {
    {"UdpOneDatagramEach", TSysLogTransport::sltUDP, TSyslogDelimiter::sdlLineFeed, false, "", "hellocaf\xE9"},
    {"TcpOctetCounting", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNone, false, "", "5 hello4 caf\xE9"},
    {"TcpLf", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, false, "", "hello\ncaf\xE9\n"},
    {"TcpCrLf", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNewLine, false, "", "hello\r\ncaf\xE9\r\n"},
    {"TcpNul", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNull, false, "", std::string("hello\0caf\xE9\0", 11)},
    {"TcpOverrideToOctets", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNewLine, false, "T",
     "hello\r\n4 caf\xE9"},
    {"TcpNoDelimOnLast", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, true, "", "hello\ncaf\xE9"},
    {"Tls12Lf", TSysLogTransport::sltTLSv1_2, TSyslogDelimiter::sdlLineFeed, false, "", "hello\ncaf\xE9\n"},
    {"Tls10OctetCounting", TSysLogTransport::sltTLSv1, TSyslogDelimiter::sdlNone, false, "", "5 hello4 caf\xE9"},
};

INSTANTIATE_TEST_SUITE_P(Framing, SysLogSenderWireTest, testing::ValuesIn(WireCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(SysLogSenderTest, SendsTheEncodedLineUnlessMessageOnly) {
  auto sink = TLoopbackSink::Tcp();
  auto sender = Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, sink->Port());
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->SetHost("h1");
  message->SetProcess("app");
  message->SetMessageContent("text");
  const std::string expected = message->EncodedMessage() + "\n";
  ASSERT_NE(expected.find("text"), std::string::npos);
  sender->AddMessage(std::move(message));
  ASSERT_TRUE(sink->WaitForBytes(expected.size()));
  EXPECT_EQ(sink->Received(), expected);
}

TEST_F(SysLogSenderTest, AppendsSentTextsToTheCopyFile) {
  test::TempDir folder;
  auto sink = TLoopbackSink::Tcp();
  TSyslogSenderOptions options;
  options.FileName = (folder / "receiver.bsd").string();
  auto sender = Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNone, sink->Port(), options);

  sender->AddMessageBatch(Batch({"one", "caf\xC3\xA9"}));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 2; }));
  sender->AddMessage(Message("three"));
  ASSERT_TRUE(sink->WaitForBytes(std::string("3 one4 caf\xE9" "5 three").size()));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 3; }));
  // The text before framing, in UTF-8, each with CR LF; the file is written
  // after the sends, so wait for its last line.
  std::string content;
  ASSERT_TRUE(test::WaitUntil([&] {
    std::ifstream file(options.FileName, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    content = text.str();
    return content.find("three\r\n") != std::string::npos;
  }));
  EXPECT_EQ(content, "one\r\ncaf\xC3\xA9\r\nthree\r\n");
}

TEST_F(SysLogSenderTest, CountThresholdHoldsMessagesUntilReached) {
  auto sink = TLoopbackSink::Tcp();
  auto sender = StartWithThresholds(*sink, 3, 60);

  sender->AddMessage(Message("a"));
  Poke(*sender);
  sender->AddMessage(Message("b"));
  Poke(*sender);
  EXPECT_EQ(sink->Connections(), 0u);
  EXPECT_EQ(sender->QueuedCount(), 2u);

  sender->AddMessageBatch(Batch({"c"}));
  ASSERT_TRUE(sink->WaitForBytes(6));
  EXPECT_EQ(sink->Received(), "a\nb\nc\n");
  EXPECT_EQ(sink->Connections(), 1u);
}

TEST_F(SysLogSenderTest, TimeThresholdCountsFromTheLastFlushNotTheLastMessage) {
  auto sink = TLoopbackSink::Tcp();
  auto sender = StartWithThresholds(*sink, 100, 1000);

  // A trickle below the count threshold: each message comes before the
  // period ends, but together they span more than one period.
  sender->AddMessage(Message("a"));
  Poke(*sender);
  FClock.Advance(seconds(600));
  sender->AddMessage(Message("b"));
  Poke(*sender);
  EXPECT_EQ(sink->Connections(), 0u);
  FClock.Advance(seconds(500));
  sender->AddMessage(Message("c"));
  ASSERT_TRUE(sink->WaitForBytes(6));
  EXPECT_EQ(sink->Received(), "a\nb\nc\n");
}

TEST_F(SysLogSenderTest, KeepsMessagesInOrderUntilTheReceiverComesBack) {
  const uint16_t port = TLoopbackSink::Tcp()->Port();  // receiver down
  auto sender = Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, port);

  sender->AddMessageBatch(Batch({"m1", "m2", "m3"}));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().FailedAttempts == 1; }));
  EXPECT_EQ(sender->Counts().Sent, 0u);
  EXPECT_EQ(sender->Counts().Retried, 3u);
  EXPECT_EQ(sender->QueuedCount(), 3u);

  // Second attempt after the first back-off (1 s), which doubles the next.
  FClock.Advance(milliseconds(1000));
  sender->AddMessageBatch(Batch({"m4"}));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().FailedAttempts == 2; }));
  EXPECT_EQ(sender->Counts().Retried, 7u);

  auto sink = TLoopbackSink::Tcp(port);  // receiver back
  FClock.Advance(milliseconds(1000));
  Poke(*sender);  // 1 s of the 2 s back-off: no attempt yet
  EXPECT_EQ(sink->Connections(), 0u);
  EXPECT_EQ(sender->Counts().FailedAttempts, 2u);

  FClock.Advance(milliseconds(1000));
  sender->AddMessage(Message("m5"));
  ASSERT_TRUE(sink->WaitForBytes(15));
  EXPECT_EQ(sink->Received(), "m1\nm2\nm3\nm4\nm5\n");
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 5; }));
  EXPECT_EQ(sender->Counts().Dropped, 0u);
  EXPECT_EQ(sender->QueuedCount(), 0u);
}

// Stands in for the receiver's socket: takes every byte written until
// Budget runs out, then fails that write once. It reports the bytes it took
// before the failure, as the raw and TLS sockets do, or (Throws) throws
// without a count.
class TScriptedSocket : public TBlockingSocket {
 public:
  struct TScript {
    std::mutex Mutex;
    std::string Taken;  // every byte that reached the "receiver"
    int Writes = 0;
    size_t Budget = SIZE_MAX;
    bool Throws = false;
  };

  explicit TScriptedSocket(TScript& AScript) : TBlockingSocket("scripted", 514), FScript(AScript) {}
  bool Connected() const override { return FConnected; }
  bool InitSocket(int, int) override { return true; }
  bool ConnectSocket() override { return FConnected = true; }
  void DisconnectSocket() override { FConnected = false; }
  int SendMessage(const uint8_t* AMsg, int ALength) override {
    return SendBytes(AMsg, ALength) == ALength ? ALength : -1;
  }
  int SendBytes(const uint8_t* AData, int ALength) override {
    std::lock_guard lock(FScript.Mutex);
    ++FScript.Writes;
    const auto length = static_cast<size_t>(ALength);
    const size_t taken = std::min(length, FScript.Budget);
    FScript.Taken.append(reinterpret_cast<const char*>(AData), taken);
    if (taken == length) {
      if (FScript.Budget != SIZE_MAX) FScript.Budget -= taken;
      return ALength;
    }
    FScript.Budget = SIZE_MAX;
    SetLastError(ECONNRESET);
    if (FScript.Throws) throw ESocketError("Socket Error sending message");
    return static_cast<int>(taken);
  }

 private:
  TScript& FScript;
  bool FConnected = false;
};

struct TPartialWriteCase {
  const char* Name;
  size_t Count;         // messages of one flush ...
  size_t Bytes;         // ... each this long framed (text and LF)
  size_t Budget;        // bytes the socket takes before it fails
  bool Throws;
  size_t Sent;          // messages that count as sent at the failure
  int WritesToFailure;  // writes of the first attempt
};

class SysLogSenderPartialWriteTest : public SysLogSenderTest,
                                     public testing::WithParamInterface<TPartialWriteCase> {};

// A flush goes out in joined writes; when the socket fails part way, the
// messages it took whole count as sent and the others (a message cut in two
// among them) are retried whole and in order, so the receiver has every
// message at least once and nothing is lost.
TEST_P(SysLogSenderPartialWriteTest, KeepsWhatTheSocketDidNotTakeWhole) {
  const TPartialWriteCase& c = GetParam();
  TScriptedSocket::TScript script;
  script.Budget = c.Budget;
  script.Throws = c.Throws;
  TSysLogSenderTuning tuning;
  tuning.Clock = FClock.Function();
  tuning.SocketFactory = [&] { return std::make_unique<TScriptedSocket>(script); };
  TSysLogSender sender("scripted", 514, TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, "receiver", {},
                       std::move(tuning));
  ASSERT_TRUE(sender.ThreadStart(false, INFINITE));

  std::vector<std::string> texts;
  std::string stream;
  for (size_t i = 0; i < c.Count; ++i) {
    std::string text = "m" + std::to_string(i + 1);
    text.resize(c.Bytes - 1, '.');
    stream += text + "\n";
    texts.push_back(std::move(text));
  }
  sender.AddMessageBatch(Batch(texts));
  ASSERT_TRUE(test::WaitUntil([&] { return sender.Counts().FailedAttempts == 1; }));
  EXPECT_EQ(sender.Counts().Sent, c.Sent);
  EXPECT_EQ(sender.Counts().Retried, c.Count - c.Sent);
  EXPECT_EQ(sender.QueuedCount(), c.Count - c.Sent);
  {
    std::lock_guard lock(script.Mutex);
    EXPECT_EQ(script.Writes, c.WritesToFailure);
  }

  FClock.Advance(milliseconds(1000));
  sender.AddMessageBatch({});
  ASSERT_TRUE(test::WaitUntil([&] { return sender.Counts().Sent == c.Count; }));
  EXPECT_EQ(sender.Counts().Dropped, 0u);
  EXPECT_EQ(sender.Counts().FailedAttempts, 1u);
  std::lock_guard lock(script.Mutex);
  EXPECT_EQ(script.Taken, stream.substr(0, c.Budget) + stream.substr(c.Sent * c.Bytes));
}

const TPartialWriteCase PartialWriteCases[] = {
    {"FailsAtAMessageEnd", 5, 3, 6, false, 2, 1},
    {"FailsInsideAMessage", 5, 3, 7, false, 2, 1},
    {"TakesNothing", 5, 3, 0, false, 0, 1},
    {"ThrowsWithoutACount", 5, 3, 7, true, 0, 1},
    // 300 KiB: a first write of 256 KiB, then the rest.
    {"FailsInTheSecondWrite", 300, 1024, 266 * 1024 + 500, false, 266, 2},
    {"ThrowsInTheSecondWrite", 300, 1024, 266 * 1024 + 500, true, 256, 2},
};

INSTANTIATE_TEST_SUITE_P(Failures, SysLogSenderPartialWriteTest, testing::ValuesIn(PartialWriteCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(SysLogSenderTest, FullQueueDropsTheOldest) {
  const uint16_t port = TLoopbackSink::Tcp()->Port();
  auto sender = Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, port, {}, 4);

  sender->AddMessageBatch(Batch({"m1", "m2", "m3"}));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().FailedAttempts == 1; }));
  sender->AddMessageBatch(Batch({"m4", "m5", "m6"}));
  EXPECT_EQ(sender->Counts().Dropped, 2u);
  EXPECT_EQ(sender->QueuedCount(), 4u);

  auto sink = TLoopbackSink::Tcp(port);
  FClock.Advance(milliseconds(1000));
  sender->AddMessageBatch({});
  ASSERT_TRUE(sink->WaitForBytes(12));
  EXPECT_EQ(sink->Received(), "m3\nm4\nm5\nm6\n");
}

TEST_F(SysLogSenderTest, DatagramTooLargeIsDroppedAndTheRestSent) {
  auto sink = TLoopbackSink::Udp();
  auto sender = Start(TSysLogTransport::sltUDP, TSyslogDelimiter::sdlNone, sink->Port());
  sender->AddMessageBatch(Batch({"before", std::string(70000, 'x'), "after"}));
  ASSERT_TRUE(sink->WaitForBytes(11));
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 2; }));
  EXPECT_EQ(sink->Datagrams(), (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(sender->Counts().Dropped, 1u);
  EXPECT_EQ(sender->Counts().FailedAttempts, 0u);
}

TEST_F(SysLogSenderTest, PersistentSenderReusesItsConnectionAndReconnectsAfterARestart) {
  auto sink = TLoopbackSink::Tcp();
  const uint16_t port = sink->Port();
  TSyslogSenderOptions options;
  options.Persistent = true;
  auto sender = Start(TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, port, options);
  sender->AddMessage(Message("one"));
  ASSERT_TRUE(sink->WaitForBytes(4));
  sender->AddMessage(Message("two"));
  ASSERT_TRUE(sink->WaitForBytes(8));
  EXPECT_EQ(sink->Connections(), 1u);

  sink.reset();
  sink = TLoopbackSink::Tcp(port);
  sender->AddMessage(Message("three"));
  ASSERT_TRUE(sink->WaitForBytes(6));
  EXPECT_EQ(sink->Received(), "three\n");
  EXPECT_EQ(sender->Counts().FailedAttempts, 0u);
}

TEST(SysLogCopyFileNameTest, StaysInsideTheSysLogDataFolder) {
  EXPECT_EQ(SysLogCopyFileName("/data/Svc", "Main"), std::filesystem::path("/data/Svc/SysLogData/Main.bsd"));
  EXPECT_EQ(SysLogCopyFileName("/data/Svc", "../x\\y"), std::filesystem::path("/data/Svc/SysLogData/.._x_y.bsd"));
}

}  // namespace
}  // namespace zor
