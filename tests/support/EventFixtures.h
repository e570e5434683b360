#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace zor::test
