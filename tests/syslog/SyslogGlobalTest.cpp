#include "syslog/SyslogGlobal.h"

#include <gtest/gtest.h>

#include "syslog/DestinationHost.h"
#include "syslog/Priority.h"

namespace zor {
namespace {

TEST(SyslogGlobalTest, WordsAndCodesFallBackToTheLastEntry) {
  EXPECT_EQ(SyslogFacilityToStr(TSyslogFacility::sfKernel), "Kernel");
  EXPECT_EQ(SyslogFacilityToStr(TSyslogFacility::sfClockDaemonTwo), "ClockDaemonTwo");
  EXPECT_EQ(SyslogFacilityToStr(static_cast<TSyslogFacility>(99)), "LocalUseSeven");
  EXPECT_EQ(SyslogFacilityToInt(static_cast<TSyslogFacility>(99)), 23);
  EXPECT_EQ(StrToSyslogFacility("LocalUseFour"), TSyslogFacility::sfLocalUseFour);
  EXPECT_EQ(StrToSyslogFacility("kernel"), TSyslogFacility::sfLocalUseSeven);
  EXPECT_EQ(IntToSyslogFacility(22), TSyslogFacility::sfLocalUseSix);
  EXPECT_EQ(IntToSyslogFacility(-1), TSyslogFacility::sfLocalUseSeven);
  EXPECT_EQ(IntToSyslogFacility(24), TSyslogFacility::sfLocalUseSeven);

  EXPECT_EQ(SyslogSeverityToStr(TSyslogSeverity::slInformational), "Informational");
  EXPECT_EQ(SyslogSeverityToStr(static_cast<TSyslogSeverity>(200)), "Debug");
  EXPECT_EQ(SyslogSeverityToInt(static_cast<TSyslogSeverity>(200)), 7);
  EXPECT_EQ(StrToSyslogSeverity("Notice"), TSyslogSeverity::slNotice);
  EXPECT_EQ(StrToSyslogSeverity("notice"), TSyslogSeverity::slDebug);
  EXPECT_EQ(IntToSyslogSeverity(8), TSyslogSeverity::slDebug);
  EXPECT_EQ(std::string(SyslogMonthNames[1]) + SyslogMonthNames[12], "JanDec");
}

TEST(SyslogGlobalTest, EscapesTheNameValueSeparators) {
  const struct {
    std::string Plain;
    std::string Escaped;
  } cases[] = {
      {"a=b|c\nd", "a\\0x3Db\\0x7Cc\\0x0Ad"},
      {"\x03\x04\r", "\\0x03\\0x04\\0x0D"},
      {"back\\slash", "back\\slash"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Plain);
    EXPECT_EQ(EscapeSyslogField(c.Plain), c.Escaped);
    EXPECT_EQ(UnescapeSyslogField(c.Escaped), c.Plain);
  }
  // The backslash is not escaped: an escape sequence already in the text
  // comes back as its character.
  EXPECT_EQ(UnescapeSyslogField(EscapeSyslogField("\\0x3D")), "=");
}

TEST(PriorityTest, SplitsAndJoinsThePRI) {
  const struct {
    int Pri;
    TSyslogFacility Facility;
    TSyslogSeverity Severity;
    const char* Text;
  } cases[] = {
      {165, TSyslogFacility::sfLocalUseFour, TSyslogSeverity::slNotice, "165"},
      {0, TSyslogFacility::sfKernel, TSyslogSeverity::slEmergency, "0"},
      {191, TSyslogFacility::sfLocalUseSeven, TSyslogSeverity::slDebug, "191"},
      {34, TSyslogFacility::sfSecurityOne, TSyslogSeverity::slCritical, "34"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Pri);
    const TPriority priority(c.Pri);
    EXPECT_EQ(priority.Facility(), c.Facility);
    EXPECT_EQ(priority.Severity(), c.Severity);
    EXPECT_EQ(priority.ToString(false), c.Text);
    EXPECT_EQ(priority.ToString(true), std::string("<") + c.Text + ">");
  }
  for (const int bad : {192, -1, 1000}) {
    SCOPED_TRACE(bad);
    TPriority priority;
    try {
      priority.SetPriority(bad);
      FAIL() << "accepted";
    } catch (const ESyslogError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid Syslog PRI: " + std::to_string(bad));
    }
    EXPECT_EQ(priority, TPriority());
  }
}

TEST(PriorityTest, JsonUsesDisplayWords) {
  TPriority priority;
  EXPECT_EQ(priority.AsJSONString(), R"({"facility":"LocalUseSeven","severity":"Debug"})");
  priority.SetAsJSONString(R"({"severity":"Warning","facility":"NTP"})");
  EXPECT_EQ(priority, TPriority(TSyslogFacility::sfNTP, TSyslogSeverity::slWarning));
  priority.SetAsJSONString(R"({"facility":"kernel"})");
  EXPECT_EQ(priority, TPriority(TSyslogFacility::sfLocalUseSeven, TSyslogSeverity::slWarning));
  priority.SetAsJSONString(R"({"facility":3,"severity":"Nope"})");
  EXPECT_EQ(priority, TPriority());
  EXPECT_THROW(priority.SetAsJSONString("[]"), EJSONTypeError);
  EXPECT_THROW(priority.SetAsJSONString("{"), EJSONError);
}

TEST(DestinationHostTest, JsonRoundTripAndPortThroughText) {
  const TDestinationHost destination("sender", "h1", 514);
  EXPECT_EQ(destination.AsJSONString(), R"({"name":"sender","host":"h1","port":514})");
  const struct {
    const char* Json;
    uint16_t Port;
  } cases[] = {{R"({"port":"514"})", 514}, {R"({"port":514})", 514}, {R"({"port":"abc"})", 0},
               {R"({"port":70000})", 0},   {R"({"port":-1})", 0},    {R"({"port":1.5})", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    TDestinationHost read("n", "h", 9);
    read.SetAsJSONString(c.Json);
    EXPECT_EQ(read, TDestinationHost("n", "h", c.Port));
  }
}

}  // namespace
}  // namespace zor
