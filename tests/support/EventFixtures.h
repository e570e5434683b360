#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "syslog/SyslogReceiver.h"

namespace zor::test {

// Rendered events and their expected documents kept in tests/data/events.
inline std::string EventFixturePath(const std::string& AName) {
  return std::string(ZOR_TEST_DATA_DIR) + "/events/" + AName;
}

// The file's bytes; a missing file fails the calling test and gives "".
inline std::string ReadEventFixture(const std::string& AName) {
  std::ifstream in(EventFixturePath(AName), std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing fixture " << AName;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The line an appendable channel keeps for a record, without its line end:
// line breaks inside values as character references, so one record is one line.
inline std::string XmlChannelLine(const std::string& AXml) {
  std::string line;
  for (const char c : AXml) {
    if (c == '\r')
      line += "&#13;";
    else if (c == '\n')
      line += "&#10;";
    else
      line += c;
  }
  return line;
}

// A reader's syslog receiver at AHost:APort; AVersion 0 sends BSD, 1 IETF.
inline std::unique_ptr<TSyslogReceiver> SyslogReceiverAt(const std::string& AHost, uint16_t APort, int32_t AVersion) {
  auto receiver = std::make_unique<TSyslogReceiver>();
  receiver->SetHost(AHost);
  receiver->SetPort(APort);
  receiver->SetSyslogVersion(AVersion);
  return receiver;
}

}  // namespace zor::test
