#include "syslog/SyslogReceiver.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

// The compact form of a receiver read from `{}`: every key, in the file's order.
std::string Written(const std::string& AFields) {
  return "{\"syslogReceiverId\":-1,\"name\":\"\",\"host\":\"h\",\"port\":" + AFields + "}";
}

struct TReadCase {
  const char* Name;
  std::string Json;
  std::string Expected;  // AsJSONString of the receiver read from Json
};

const std::string Rest =
    "\"noDelimOnLast\":false,\"tcpDelimiter\":\"\",\"stripNewLine\":false,\"newLineToSpace\":false,"
    "\"stripTab\":false,\"tabToSpace\":false,\"version\":0,\"persistentConnection\":false";

const TReadCase ReadCases[] = {
    // An absent delimiter reads as none (octet counting), not the constructor's new line.
    {"HostAndPortOnly", R"({"host":"h","port":514})",
     Written("514,\"saveToFile\":false,\"transport\":\"UDP\"," + Rest)},
    {"PortAsStringReadsZero", R"({"host":"h","port":"514"})",
     Written("0,\"saveToFile\":false,\"transport\":\"UDP\"," + Rest)},
    {"PortNotInteger", R"({"host":"h","port":514.5})", Written("0,\"saveToFile\":false,\"transport\":\"UDP\"," + Rest)},
    {"PortOutOfRange", R"({"host":"h","port":70000})", Written("0,\"saveToFile\":false,\"transport\":\"UDP\"," + Rest)},
    {"TransportIsCaseSensitive", R"({"host":"h","port":1,"transport":"tls1.2"})",
     Written("1,\"saveToFile\":false,\"transport\":\"UDP\"," + Rest)},
    {"TransportTls12", R"({"host":"h","port":1,"transport":"TLS1.2","saveToFile":"True"})",
     Written("1,\"saveToFile\":true,\"transport\":\"TLS1.2\"," + Rest)},
    {"TransportRelp", R"({"host":"h","port":1,"transport":"RELP"})",
     Written("1,\"saveToFile\":false,\"transport\":\"RELP\"," + Rest)},
    {"SaveToFileNumberIsFalse", R"({"host":"h","port":1,"transport":"TCP","saveToFile":1})",
     Written("1,\"saveToFile\":false,\"transport\":\"TCP\"," + Rest)},
};

TEST(SyslogReceiverTest, ReadsEachKeyByItsRule) {
  for (const auto& c : ReadCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TSyslogReceiver::GetFromJSONString(c.Json)->AsJSONString(), c.Expected);
  }
}

TEST(SyslogReceiverTest, DefaultsAreWrittenInTheFileOrder) {
  EXPECT_EQ(TSyslogReceiver().AsJSONString(),
            "{\"syslogReceiverId\":-1,\"name\":\"\",\"host\":\"\",\"port\":514,\"saveToFile\":false,"
            "\"transport\":\"UDP\",\"noDelimOnLast\":false,\"tcpDelimiter\":\"\\\\n\",\"stripNewLine\":false,"
            "\"newLineToSpace\":false,\"stripTab\":false,\"tabToSpace\":false,\"version\":0,"
            "\"persistentConnection\":false}");
}

TEST(SyslogReceiverTest, DelimitersAreBackslashWords) {
  const struct {
    std::string Json;
    TSyslogDelimiter Expected;
  } cases[] = {
      {R"("\\0")", TSyslogDelimiter::sdlNull},     {R"("\\LF")", TSyslogDelimiter::sdlLineFeed},
      {R"("\\CR")", TSyslogDelimiter::sdlCarriageReturn}, {R"("\\n")", TSyslogDelimiter::sdlNewLine},
      {R"("  ")", TSyslogDelimiter::sdlNone},      {R"("\n")", TSyslogDelimiter::sdlNone},
      {R"("\\lf")", TSyslogDelimiter::sdlNewLine}, {R"(0)", TSyslogDelimiter::sdlNewLine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    const auto receiver = TSyslogReceiver::GetFromJSONString(R"({"tcpDelimiter":)" + c.Json + "}");
    EXPECT_EQ(receiver->TCPDelimiter(), c.Expected);
    // Written back, each reads as itself.
    EXPECT_EQ(TSyslogReceiver::GetFromJSONString(receiver->AsJSONString())->TCPDelimiter(), c.Expected);
  }
}

TEST(SyslogReceiverTest, ForwardListNeedsTheHeaderBothWays) {
  auto receiver = TSyslogReceiver::GetFromJSONString(
      R"({"syslogReceiverId":"7","forwardHeader":"X-Fwd","forwardIpList":["10.0.0.1",2]})");
  EXPECT_EQ(receiver->SyslogReceiverID(), 7);
  EXPECT_EQ(receiver->ForwardHeader(), "X-Fwd");
  EXPECT_EQ(receiver->ForwardIPList(), (std::vector<std::string>{"10.0.0.1", "2"}));
  EXPECT_NE(receiver->AsJSONString().find(R"("forwardHeader":"X-Fwd","forwardIpList":["10.0.0.1","2"]})"),
            std::string::npos);

  // Without "forwardHeader" the list is emptied and not read; the header stays.
  receiver->SetAsJSONString(R"({"forwardIpList":["10.0.0.9"]})");
  EXPECT_EQ(receiver->ForwardHeader(), "X-Fwd");
  EXPECT_TRUE(receiver->ForwardIPList().empty());
  // A header with an empty list writes neither key.
  EXPECT_EQ(receiver->AsJSONString().find("forward"), std::string::npos);
}

TEST(SyslogReceiverTest, WrongKindsNameTheirPath) {
  const struct {
    std::string Json;
    std::string Message;
  } cases[] = {
      {R"({"forwardHeader":"x","forwardIpList":"10.0.0.1"})", "forwardIpList: expected a JSON array, found string"},
      {R"([1])", "expected a JSON object, found array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    try {
      (void)TSyslogReceiver::GetFromJSONString(c.Json);
      ADD_FAILURE() << "no error";
    } catch (const EConfigError& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
}

TEST(SyslogReceiverTest, AreEqualIgnoresFormatAndForwarding) {
  const TSyslogReceiver base;
  const struct {
    const char* Name;
    void (*Change)(TSyslogReceiver&);
    bool Equal;
  } cases[] = {
      {"Version", [](TSyslogReceiver& r) { r.SetSyslogVersion(1); }, true},
      {"NoDelimOnLast", [](TSyslogReceiver& r) { r.SetNoDelimOnLast(true); }, true},
      {"ForwardHeader", [](TSyslogReceiver& r) { r.SetForwardHeader("X"); }, true},
      {"ForwardList", [](TSyslogReceiver& r) { r.ForwardIPList().push_back("1.2.3.4"); }, true},
      {"PersistentConnection", [](TSyslogReceiver& r) { r.SetPersistentConnection(true); }, false},
      {"HostCase", [](TSyslogReceiver& r) { r.SetHost("H"); }, false},
      {"Id", [](TSyslogReceiver& r) { r.SetSyslogReceiverID(3); }, false},
      {"Port", [](TSyslogReceiver& r) { r.SetPort(1); }, false},
      {"Transport", [](TSyslogReceiver& r) { r.SetTransport(TSysLogTransport::sltTCP); }, false},
      {"Delimiter", [](TSyslogReceiver& r) { r.SetTCPDelimiter(TSyslogDelimiter::sdlNull); }, false},
      {"TabToSpace", [](TSyslogReceiver& r) { r.SetTabToSpace(true); }, false},
      {"SaveToFile", [](TSyslogReceiver& r) { r.SetSaveToFile(true); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TSyslogReceiver changed(base);
    c.Change(changed);
    EXPECT_EQ(TSyslogReceiver::AreEqual(base, changed), c.Equal);
  }
}

TEST(SyslogReceiverListTest, ReadsBothFormsAndComparesInAnyOrder) {
  const std::string a = R"({"name":"a","host":"h1","port":514})";
  const std::string b = R"({"name":"b","host":"h2","port":601,"transport":"TCP"})";
  const auto list1 = TSyslogReceiverList::GetFromJSONString(R"({"receivers":[)" + a + "," + b + "]}");
  const auto list2 = TSyslogReceiverList::GetFromJSONArrayString("[" + b + "," + a + "]");
  ASSERT_EQ(list1->Count(), 2);
  EXPECT_EQ(list1->GetListItem(1).Port(), 601);
  EXPECT_TRUE(TSyslogReceiverList::AreEqual(*list1, *list2));
  EXPECT_EQ(list1->AsJSONString(), R"({"receivers":)" + list1->AsJSONArrayString() + "}");

  TSyslogReceiverList copy(*list1);
  copy.GetListItem(0).SetHost("other");
  EXPECT_EQ(list1->GetListItem(0).Host(), "h1");
  EXPECT_FALSE(TSyslogReceiverList::AreEqual(*list1, copy));
  copy.Delete(0);
  EXPECT_FALSE(TSyslogReceiverList::AreEqual(*list1, copy));
  EXPECT_THROW((void)copy.GetListItem(1), EArgumentOutOfRange);
  EXPECT_THROW(copy.Delete(-1), EArgumentOutOfRange);

  // An object without "receivers" gives an empty list.
  EXPECT_EQ(TSyslogReceiverList::GetFromJSONString("{}")->Count(), 0);
}

TEST(SyslogReceiverListTest, AnElementThatIsNotAnObjectFailsWithItsIndex) {
  try {
    (void)TSyslogReceiverList::GetFromJSONString(R"({"receivers":[{"host":"a"},"b"]})");
    FAIL() << "no error";
  } catch (const EConfigError& e) {
    EXPECT_EQ(std::string(e.what()), "receivers[1]: expected a JSON object, found string");
  }
}

}  // namespace
}  // namespace zor
