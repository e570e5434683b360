// What the manager builds from a configuration, as its log shows it: one
// sender per destination, one subscriber per enabled reader with receivers,
// every reader's settings; and a configuration it cannot build.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>

#include "support/ServiceFolders.h"

namespace zor {
namespace {

class PipelineAssemblyTest : public testing::Test, protected test::TServiceFolders {};

TEST_F(PipelineAssemblyTest, OneSenderPerDestinationAndOneSubscriberPerEnabledReaderWithReceivers) {
  WriteConfig(R"({"logLevel": 4, "interfaces": [
    {"name": "R0", "path": "Application", "batchSize": 50, "deriveSeverity": true, "syslogReceivers": [
      {"name": "Udp5514", "host": "127.0.0.1", "port": 5514, "transport": "UDP", "saveToFile": true}]},
    {"name": "R1", "path": "System", "enabled": false, "syslogReceivers": [
      {"name": "Again", "host": "127.0.0.1", "port": 5514, "transport": "UDP"},
      {"name": "Tls", "host": "127.0.0.1", "port": 6514, "transport": "TLS1.2", "tcpDelimiter": "\\n"}]},
    {"name": "R2", "path": "Security"},
    {"name": "R3", "path": "Setup", "startAtBeginning": false, "selectionDetail": "*[System[Level=2]]",
     "exclusionRegex": ["first", "second"], "deriveSeverity": false, "defaultSeverity": "Warning",
     "parse": true, "stripNewLines": false, "syslogReceivers": [
      {"name": "Udp5514", "host": "127.0.0.1", "port": 5514, "transport": "UDP"}],
     "beatReceivers": [{"host": "127.0.0.1", "port": 9200}]}]})");
  auto service = Start();
  ASSERT_TRUE(LogHas("Event log manager started")) << service->StandardError();
  service->Signal(SIGTERM);
  ASSERT_EQ(service->WaitForExit(), 0) << service->StandardError();

  EXPECT_TRUE(LogInOrder({
      " INFO  - Init Syslog Senders\r\n",
      " INFO  - Loading Syslog sender [0] for Reader [0] Udp5514\r\n", " INFO  -   Desination Host 127.0.0.1\r\n",
      " INFO  -   Desination Port 5514\r\n", " INFO  -   Transport = UDP\r\n",
      // R1 is disabled, but its second receiver still gets a sender.
      " INFO  - Loading Syslog sender [1] for Reader [1] Tls\r\n", " INFO  -   Desination Port 6514\r\n",
      " INFO  -   Transport = TLSv1.2\r\n", " INFO  -   TCPDelimiter = \\r\\n\r\n",
      " INFO  - Loading Readers [0] R0\r\n", " INFO  -   Log Name = Application\r\n",
      " INFO  -   Start From Beginning = True\r\n", " INFO  -   Log Read Batch Size = 50\r\n",
      " INFO  -   Exclusion RegEx = \r\n", " INFO  -   Derive Severity = True\r\n",
      " INFO  -     Sylsog Receiver[0] = 127.0.0.1:5514\r\n", " INFO  -   Beat Receivers: 0\r\n",
      " INFO  - Subscriber [1] R1 is Disabled\r\n",
      " INFO  - Loading Readers [2] R2\r\n", " ERROR - Subscriber [2] R2 has no receivers\r\n",
      " INFO  - Loading Readers [3] R3\r\n", " INFO  -   Start From Beginning = False\r\n",
      " INFO  -   Subscription Filter = *[System[Level=2]]\r\n", " INFO  -   Exclusion RegEx = first\r\n",
      " INFO  -                     second\r\n", " INFO  -   Syslog Severity = Warning\r\n",
      " INFO  -   Parse Message = True\r\n", " INFO  -   Raw Log Only = False\r\n",
      " INFO  -   Strip NewLines = False\r\n", " INFO  -   Beat Receivers: 1\r\n",
      " INFO  -     Beat Receiver[0] = 127.0.0.1:9200\r\n",
      " INFO  - Event log manager started\r\n",
      " INFO  - Shutting down 2 subscribers\r\n", " INFO  - Subscribers R0 shut down\r\n",
      " INFO  - Subscribers R3 shut down\r\n", " INFO  - 2 subscribers shut down\r\n",
      " INFO  - Shut down syslog senders\r\n", " INFO  - So long... and thanks for all the fish!\r\n"}));
  // One sender for 127.0.0.1:5514, whichever readers name it.
  const std::string log = Log();
  EXPECT_EQ(log.find("Desination Port 5514"), log.rfind("Desination Port 5514"));
  EXPECT_TRUE(std::filesystem::is_directory(SvcDir() / "SysLogData"));
}

TEST_F(PipelineAssemblyTest, AConfigurationThatCannotBeBuiltFailsTheStart) {
  // A datagram and a stream receiver on one host and port: one key, two senders.
  WriteConfig(R"({"interfaces": [{"name": "R0", "path": "Application", "syslogReceivers": [
      {"name": "A", "host": "127.0.0.1", "port": 5514, "transport": "UDP"},
      {"name": "B", "host": "127.0.0.1", "port": 5514, "transport": "TCP"}]}]})");
  auto service = Start();
  ASSERT_EQ(service->WaitForExit(), 1);
  EXPECT_NE(service->StandardError().find("there is a syslog sender for 127.0.0.1:5514 already"), std::string::npos)
      << service->StandardError();
  EXPECT_TRUE(LogInOrder({" FATAL - Duplicates not allowed", "So long... and thanks for all the fish!"}));
}

}  // namespace
}  // namespace zor
