// The syslog sender against a real rsyslogd: what the receiver records must be
// exactly the lines sent, for every transport and framing.

#include <gtest/gtest.h>

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
  EXPECT_EQ(sender.Counts().Sent, texts.size());
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

const TRsyslogCase RsyslogCases[] = {
    {"Udp", TSysLogTransport::sltUDP, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Udp},
    {"TcpLf", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlLineFeed, TRsyslogRunner::TInput::Tcp},
    {"TcpOctetCounting", TSysLogTransport::sltTCP, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Tcp},
    {"Tls12Lf", TSysLogTransport::sltTLSv1_2, TSyslogDelimiter::sdlLineFeed, TRsyslogRunner::TInput::Tls},
    {"Tls12OctetCounting", TSysLogTransport::sltTLSv1_2, TSyslogDelimiter::sdlNone, TRsyslogRunner::TInput::Tls},
};

INSTANTIATE_TEST_SUITE_P(Transports, SyslogRsyslogTransportTest, testing::ValuesIn(RsyslogCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace zor
