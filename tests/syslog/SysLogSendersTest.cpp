// The sender registry (dispatch by destination, unknown destinations,
// messages kept across a stop) and the training-mode thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackSink.h"
#include "support/Utilities.h"
#include "support/WaitUntil.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/SysLogSenders.h"
#include "syslog/SyslogTrainer.h"

namespace zor {
namespace {

using test::TLoopbackSink;
using test::WaitUntil;

// A message for 127.0.0.1:APort whose wire text is exactly AText.
std::unique_ptr<TBaseSysLogMessage> Message(uint16_t APort, const std::string& AText) {
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->SetSendMessageOnly(true);
  message->SetMessageContent(AText);
  message->SetDestinationHost("127.0.0.1");
  message->SetDestinationPort(APort);
  return message;
}

std::unique_ptr<TSysLogSender> Sender(uint16_t APort, TSysLogTransport ATransport = TSysLogTransport::sltTCP) {
  TSysLogSenderTuning tuning;
  tuning.RetryInitialMilliseconds = 50;
  tuning.RetryMaxMilliseconds = 50;
  return std::make_unique<TSysLogSender>("127.0.0.1", APort, ATransport, TSyslogDelimiter::sdlLineFeed, "r",
                                         TSyslogSenderOptions{}, std::move(tuning));
}

TEST(SysLogSendersTest, DispatchesEachDestinationInQueueOrderAndDropsUnknownOnes) {
  auto first = TLoopbackSink::Tcp();
  auto second = TLoopbackSink::Tcp();
  TSyslogMessageQueue queue;
  TSysLogSenders senders(&queue);
  senders.AddSender(Sender(first->Port()));
  senders.AddSender(Sender(second->Port()));
  ASSERT_TRUE(senders.ThreadStart(false, INFINITE));

  TSyslogMessageQueue::TItemList batch;
  batch.push_back(Message(first->Port(), "a1"));
  batch.push_back(Message(second->Port(), "b1"));
  batch.push_back(Message(1, "lost"));  // no sender for 127.0.0.1:1
  batch.push_back(Message(first->Port(), "a2"));
  batch.push_back(Message(second->Port(), "b2"));
  batch.push_back(Message(first->Port(), "a3"));
  queue.EnqueueBatch(std::move(batch));

  ASSERT_TRUE(first->WaitForBytes(9));
  ASSERT_TRUE(second->WaitForBytes(6));
  EXPECT_EQ(first->Received(), "a1\na2\na3\n");
  EXPECT_EQ(second->Received(), "b1\nb2\n");
  EXPECT_EQ(queue.Count(), 0u);
  ASSERT_TRUE(senders.ThreadStop(true, INFINITE));
}

TEST(SysLogSendersTest, RegistersOneSenderPerHostAndPort) {
  TSyslogMessageQueue queue;
  TSysLogSenders senders(&queue);
  senders.AddSender(Sender(6514, TSysLogTransport::sltTLSv1_2));
  EXPECT_TRUE(senders.HasTCPSender("127.0.0.1", 6514));
  EXPECT_FALSE(senders.HasUDPSender("127.0.0.1", 6514));
  EXPECT_FALSE(senders.HasTCPSender("localhost", 6514));  // keys compare exactly
  // A datagram sender on the same host and port has the same key.
  EXPECT_THROW(senders.AddSender(Sender(6514, TSysLogTransport::sltUDP)), EZorError);

  ASSERT_TRUE(senders.ThreadStart(false, INFINITE));
  senders.Clear();  // started: does nothing
  EXPECT_NE(senders.FindSender("127.0.0.1:6514"), nullptr);
  ASSERT_TRUE(senders.ThreadStop(true, INFINITE));
  senders.Clear();
  EXPECT_EQ(senders.Count(), 0u);
}

// Messages a sender could not deliver before the registry stopped go back to
// the head of the outbound queue, ahead of newer ones, and the next registry
// delivers them all, in order.
TEST(SysLogSendersTest, UnsentMessagesSurviveAStopInOrder) {
  const uint16_t port = TLoopbackSink::Tcp()->Port();  // receiver down
  TSyslogMessageQueue queue;
  {
    TSysLogSenders senders(&queue);
    senders.AddSender(Sender(port));
    ASSERT_TRUE(senders.ThreadStart(false, INFINITE));
    TSyslogMessageQueue::TItemList batch;
    for (const char* text : {"m1", "m2", "m3"}) batch.push_back(Message(port, text));
    queue.EnqueueBatch(std::move(batch));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 0 && senders.QueuedCount() == 3; }));
    ASSERT_TRUE(senders.ThreadStop(true, INFINITE));
    queue.Enqueue(Message(port, "m4"));  // made while no registry runs
    senders.Clear();
  }
  ASSERT_EQ(queue.Count(), 4u);

  auto sink = TLoopbackSink::Tcp(port);  // receiver back
  TSysLogSenders senders(&queue);
  senders.AddSender(Sender(port));
  ASSERT_TRUE(senders.ThreadStart(false, INFINITE));
  ASSERT_TRUE(sink->WaitForBytes(12));
  EXPECT_EQ(sink->Received(), "m1\nm2\nm3\nm4\n");
  ASSERT_TRUE(senders.ThreadStop(true, INFINITE));
}

TEST(SyslogTrainerTest, TrainingLineNamesThisMachineAndProcess) {
  const std::string line = TSyslogTrainer::TrainingMessage("10.0.0.1", 514)->EncodedMessage();
  const std::string tail = " " + TUtilities::GetLocalMachineName() + " TrainingProcess[" +
                           std::to_string(getpid()) + "]: Syslog Training Nessage";
  EXPECT_EQ(line.rfind("<31>", 0), 0u) << line;
  ASSERT_GE(line.size(), tail.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
}

// The first message goes at once, then one per interval; an interval of 0 or
// less sends the first and no more.
TEST(SyslogTrainerTest, SendsAtStartThenOncePerInterval) {
  TSyslogMessageQueue queue;
  TSyslogTrainer everySecond(&queue, "127.0.0.1", 514, 1);
  TSyslogTrainer once(&queue, "127.0.0.1", 515, 0);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(everySecond.ThreadStart(false, INFINITE));
  ASSERT_TRUE(once.ThreadStart(false, INFINITE));
  ASSERT_TRUE(WaitUntil([&] { return queue.Count() >= 2; }));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));

  // Stopped as soon as the third is there (at 2 s): the next is a second away.
  ASSERT_TRUE(WaitUntil([&] { return queue.Count() >= 4; }));
  const auto third = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(everySecond.ThreadStop(true, INFINITE));
  ASSERT_TRUE(once.ThreadStop(true, INFINITE));
  EXPECT_GE(third, std::chrono::seconds(2));
  size_t to514 = 0, to515 = 0;
  for (auto& message : queue.DequeueAll()) (message->DestinationPort() == 514 ? to514 : to515)++;
  EXPECT_EQ(to514, 3u);  // at 0 s, 1 s and 2 s
  EXPECT_EQ(to515, 1u);
}

}  // namespace
}  // namespace zor
