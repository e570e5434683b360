// The syslog sender against a real rsyslogd: what the receiver records must be
// exactly the lines sent, for every transport and framing.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "support/RsyslogRunner.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/SysLogSender.h"

namespace zor {
namespace {

using test::TRsyslogRunner;

struct TRsyslogCase {
  const char* Name;
  TSysLogTransport Transport;
  TSyslogDelimiter Delimiter;
  TRsyslogRunner::TInput Input;
};

class SyslogRsyslogTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!TRsyslogRunner::Available()) GTEST_SKIP() << "rsyslogd is not installed (scripts/setup.sh installs it)";
    FCertificate = std::make_unique<test::TTestCertificate>(FFolder.Path());
    FRsyslog = std::make_unique<TRsyslogRunner>(FFolder.Path(), *FCertificate);
  }

  test::TempDir FFolder;
  std::unique_ptr<test::TTestCertificate> FCertificate;
  std::unique_ptr<TRsyslogRunner> FRsyslog;
};

class SyslogRsyslogTransportTest : public SyslogRsyslogTest, public testing::WithParamInterface<TRsyslogCase> {};

TEST_P(SyslogRsyslogTransportTest, ReceiverRecordsExactlyTheLinesSent) {
  const TRsyslogCase& c = GetParam();
  TSysLogSender sender("127.0.0.1", FRsyslog->Port(c.Input), c.Transport, c.Delimiter, "rsyslog", {});
  ASSERT_TRUE(sender.ThreadStart(false, INFINITE));

  const std::vector<std::string> texts = {
      "<134>Dec 10 04:40:00 host1 app[42]: first message",
      "<11>Dec 10 04:40:01 host1 app: caf\xC3\xA9 with a = sign and | bar",
      "<165>Dec 10 04:40:02 host2 other: third",
  };
  TSysLogSender::TMessageList batch;
  for (const std::string& text : texts) {
    auto message = std::make_unique<TBSDSysLogMessage>();
    message->SetSendMessageOnly(true);
    message->SetMessageContent(text);
    batch.push_back(std::move(message));
  }
  sender.AddMessageBatch(std::move(batch));

  ASSERT_TRUE(FRsyslog->WaitForLines(c.Input, texts.size()));
  EXPECT_EQ(FRsyslog->Lines(c.Input), (std::vector<std::string>{
                                          "<134>Dec 10 04:40:00 host1 app[42]: first message",
                                          "<11>Dec 10 04:40:01 host1 app: caf\xE9 with a = sign and | bar",
                                          "<165>Dec 10 04:40:02 host2 other: third",
                                      }));
  // Over RELP, once the receiver's acknowledgements are read.
  EXPECT_TRUE(test::WaitUntil([&] { return sender.Counts().Sent == texts.size(); }));
  EXPECT_EQ(sender.QueuedCount(), 0u);
}

TEST_F(SyslogRsyslogTest, MessagesSentWhileTheReceiverWasDownArriveWhenItIsBack) {
  FRsyslog->Stop();
  TSysLogSenderTuning tuning;
  tuning.RetryInitialMilliseconds = 20;
  tuning.RetryMaxMilliseconds = 100;
  TSysLogSender sender("127.0.0.1", FRsyslog->Port(TRsyslogRunner::TInput::Tcp), TSysLogTransport::sltTCP,
                       TSyslogDelimiter::sdlNone, "rsyslog", {}, std::move(tuning));
  ASSERT_TRUE(sender.ThreadStart(false, INFINITE));

  TSysLogSender::TMessageList batch;
  for (const char* text : {"<14>one", "<14>two", "<14>three"}) {
    auto message = std::make_unique<TBSDSysLogMessage>();
    message->SetSendMessageOnly(true);
    message->SetMessageContent(text);
    batch.push_back(std::move(message));
  }
  sender.AddMessageBatch(std::move(batch));
  ASSERT_TRUE(test::WaitUntil([&] { return sender.Counts().FailedAttempts >= 2; }));
  EXPECT_EQ(sender.Counts().Sent, 0u);

  FRsyslog->Restart();
  ASSERT_TRUE(FRsyslog->WaitForLines(TRsyslogRunner::TInput::Tcp, 3));
  EXPECT_EQ(FRsyslog->Lines(TRsyslogRunner::TInput::Tcp),
            (std::vector<std::string>{"<14>one", "<14>two", "<14>three"}));
  EXPECT_EQ(sender.Counts().Sent, 3u);
  EXPECT_EQ(sender.Counts().Dropped, 0u);
}

// rsyslogd is killed (SIGKILL) in the middle of a stream and started again.
// Over RELP a message counts as sent only once acknowledged, and rsyslogd
// acknowledges it after writing it: nothing is lost. Over plain TCP, what the
// socket took before the sender noticed is gone; the test shows how much.
struct TKillCase {
  const char* Name;
  TSysLogTransport Transport;
  TRsyslogRunner::TInput Input;
  bool Lossless;
};

class SyslogRsyslogKillTest : public SyslogRsyslogTest, public testing::WithParamInterface<TKillCase> {};

TEST_P(SyslogRsyslogKillTest, ReceiverKilledMidStream) {
  const TKillCase& c = GetParam();
  TSysLogSenderTuning tuning;
  tuning.RetryInitialMilliseconds = 20;
  tuning.RetryMaxMilliseconds = 200;
  TSysLogSender sender("127.0.0.1", FRsyslog->Port(c.Input), c.Transport, TSyslogDelimiter::sdlLineFeed, "rsyslog",
                       {}, std::move(tuning));
  ASSERT_TRUE(sender.ThreadStart(false, INFINITE));

  constexpr int Total = 20000;
  constexpr int BatchSize = 100;
  const auto text = [](int AIndex) { return "<14>Dec 10 04:40:00 host app: message " + std::to_string(AIndex); };
  for (int first = 0; first < Total; first += BatchSize) {
    TSysLogSender::TMessageList batch;
    for (int i = first; i < first + BatchSize; ++i) {
      auto message = std::make_unique<TBSDSysLogMessage>();
      message->SetSendMessageOnly(true);
      message->SetMessageContent(text(i));
      batch.push_back(std::move(message));
    }
    sender.AddMessageBatch(std::move(batch));
    // Keeps a stream going without piling everything up in the queue.
    ASSERT_TRUE(test::WaitUntil([&] { return sender.QueuedCount() < 2000; }));
    if (first == Total / 2) {
      FRsyslog->Kill();
      FRsyslog->Restart();
    }
  }

  ASSERT_TRUE(test::WaitUntil([&] { return sender.QueuedCount() == 0; }, std::chrono::seconds(60)));
  const auto missing = [&] {
    std::vector<bool> seen(Total);
    for (const std::string& line : FRsyslog->Lines(c.Input)) {
      const size_t at = line.rfind(' ');
      if (at != std::string::npos) seen.at(std::stoul(line.substr(at + 1))) = true;
    }
    return static_cast<size_t>(std::count(seen.begin(), seen.end(), false));
  };
  // What was written before the kill is in the file already; the rest may
  // still be on its way.
  (void)test::WaitUntil([&] { return missing() == 0; }, std::chrono::seconds(c.Lossless ? 30 : 3));
  const size_t lost = missing();
  const size_t twice = FRsyslog->Lines(c.Input).size() + lost - Total;
  std::cout << "[ receiver killed ] " << c.Name << ": " << lost << " of " << Total << " messages lost, " << twice
            << " received twice\n";
  RecordProperty("MessagesLost", static_cast<int>(lost));
  RecordProperty("MessagesReceivedTwice", static_cast<int>(twice));
  if (c.Lossless) {
    EXPECT_EQ(lost, 0u);
    EXPECT_LE(twice, 128u) << "at most one window again";
  }
  EXPECT_EQ(sender.Counts().Dropped, 0u);
  EXPECT_GE(sender.Counts().Sent, static_cast<uint64_t>(Total));
}

INSTANTIATE_TEST_SUITE_P(Transports, SyslogRsyslogKillTest,
                         testing::Values(TKillCase{"RELP", TSysLogTransport::sltRELP, TRsyslogRunner::TInput::Relp, true},
                                         TKillCase{"TCP", TSysLogTransport::sltTCP, TRsyslogRunner::TInput::Tcp, false}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

const TRsyslogCase RsyslogCases[] = {
    {"Udp", TSysLogTransport::sltUDP, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Udp},
    {"TcpLf", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, TRsyslogRunner::TInput::Tcp},
    {"TcpOctetCounting", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Tcp},
    {"Tls12Lf", TSysLogTransport::sltTLSv1_2, TSyslogDelimiter::sdlLineFeed, TRsyslogRunner::TInput::Tls},
    {"Tls12OctetCounting", TSysLogTransport::sltTLSv1_2, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Tls},
    {"Relp", TSysLogTransport::sltRELP, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Relp},
};

INSTANTIATE_TEST_SUITE_P(Transports, SyslogRsyslogTransportTest, testing::ValuesIn(RsyslogCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace zor
