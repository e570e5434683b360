#include "evtx/EventQuery.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <chrono>
#include <map>
#include <string>

namespace zor {
namespace {

// The reference events of the query table, as Windows renders them.
const char* const E1 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
    "Name='Microsoft-Windows-Security-Auditing' Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'/><EventID>4624</EventID>"
    "<Version>2</Version><Level>0</Level><Task>12544</Task><Opcode>0</Opcode><Keywords>0x8020000000000000</Keywords>"
    "<TimeCreated SystemTime='2024-03-01T10:00:00.1234567Z'/><EventRecordID>1000</EventRecordID><Correlation/>"
    "<Execution ProcessID='812' ThreadID='5120'/><Channel>Security</Channel><Computer>WS01.corp.example</Computer>"
    "<Security/></System><EventData><Data Name='SubjectUserSid'>S-1-5-18</Data><Data "
    "Name='TargetUserName'>jdoe</Data><Data Name='LogonType'>10</Data><Data Name='IpAddress'>192.0.2.15</Data>"
    "</EventData></Event>";
const char* const E2 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
    "Name='Microsoft-Windows-Security-Auditing' Guid='{54849625-5478-4994-a5ba-3e3b0328c30d}'/><EventID>4625</EventID>"
    "<Version>2</Version><Level>0</Level><Task>12544</Task><Opcode>0</Opcode><Keywords>0x8010000000000000</Keywords>"
    "<TimeCreated SystemTime='2024-03-01T10:05:00.0000000Z'/><EventRecordID>1001</EventRecordID><Correlation/>"
    "<Execution ProcessID='812' ThreadID='5120'/><Channel>Security</Channel><Computer>WS01.corp.example</Computer>"
    "<Security/></System><EventData><Data Name='SubjectUserSid'>S-1-0-0</Data><Data "
    "Name='TargetUserName'>Administrator</Data><Data Name='LogonType'>3</Data><Data Name='Status'>0xc000006d</Data>"
    "<Data Name='IpAddress'>198.51.100.7</Data></EventData></Event>";
const char* const E3 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='Service Control "
    "Manager' Guid='{555908d1-a6d7-4695-8e1e-26931d2012f4}' EventSourceName='Service Control Manager'/><EventID "
    "Qualifiers='16384'>7036</EventID><Version>0</Version><Level>4</Level><Task>0</Task><Opcode>0</Opcode>"
    "<Keywords>0x8080000000000000</Keywords><TimeCreated SystemTime='2024-03-01T09:00:00.0000000Z'/>"
    "<EventRecordID>64199</EventRecordID><Correlation/><Execution ProcessID='776' ThreadID='5788'/>"
    "<Channel>System</Channel><Computer>srv01</Computer><Security/></System><EventData><Data Name='param1'>Windows "
    "Update</Data><Data Name='param2'>running</Data><Binary>77007500610075007300650072007600</Binary></EventData>"
    "</Event>";
const char* const E4 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
    "Name='Microsoft-Windows-Sysmon' Guid='{5770385f-c22a-43e0-bf4c-06f5698ffbd9}'/><EventID>1</EventID>"
    "<Version>5</Version><Level>4</Level><Task>1</Task><Opcode>0</Opcode><Keywords>0x8000000000000000</Keywords>"
    "<TimeCreated SystemTime='2024-02-28T08:15:30.4567890Z'/><EventRecordID>52731</EventRecordID><Correlation/>"
    "<Execution ProcessID='2920' ThreadID='3764'/><Channel>Microsoft-Windows-Sysmon/Operational</Channel>"
    "<Computer>ws01.corp.example</Computer><Security UserID='S-1-5-18'/></System><EventData><Data "
    "Name='ProcessId'>4242</Data><Data Name='Image'>C:\\Windows\\System32\\cmd.exe</Data><Data Name='User'>NT "
    "AUTHORITY\\SYSTEM</Data></EventData></Event>";
const char* const E5 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider "
    "Name='Microsoft-Windows-PrintService' Guid='{747ef6fd-e535-4d16-b510-42c90f6873a1}'/><EventID>307</EventID>"
    "<Version>0</Version><Level>1</Level><Task>26</Task><Opcode>11</Opcode><Keywords>0x4000000000000040</Keywords>"
    "<TimeCreated SystemTime='2024-03-01T11:00:00.0000000Z'/><EventRecordID>12</EventRecordID><Correlation/>"
    "<Execution ProcessID='2000' ThreadID='2100'/><Channel>Microsoft-Windows-PrintService/Operational</Channel>"
    "<Computer>ws01</Computer><Security UserID='S-1-5-21-1-2-3-1001'/></System><UserData><DocumentPrinted "
    "xmlns='http://manifests.microsoft.com/win/2005/08/windows/printing/spooler/core/events'><Param1>7</Param1>"
    "<PrinterName>MyPrinter</PrinterName><Pages>3</Pages></DocumentPrinted></UserData></Event>";
// Blank values: an element whose only content is blanks has them as its
// value, as the event record parser reads it; blanks between elements are
// no value of anything.
const char* const E6 =
    "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><EventID>1</EventID>"
    "<Computer> </Computer></System><EventData>\n  <Data Name='Blank'> </Data>\n  <Data Name='Cdata'>"
    "<![CDATA[ ]]></Data>\n  <Data Name='Empty'/>\n</EventData></Event>";

struct TEventSample {
  const char* Xml;
  const char* Channel;
};
const std::map<std::string, TEventSample> kEvents = {
    {"E1", {E1, "Security"}},
    {"E2", {E2, "Security"}},
    {"E3", {E3, "System"}},
    {"E4", {E4, "Microsoft-Windows-Sysmon/Operational"}},
    {"E5", {E5, "Microsoft-Windows-PrintService/Operational"}},
    {"E6", {E6, "Application"}},
};

const char* const Q1 =
    "<QueryList><Query Id=\"0\" Path=\"Security\"><Select Path=\"Security\">*[System[(EventID=4624 or "
    "EventID=4625)]]</Select><Suppress Path=\"Security\">*[EventData[Data[@Name='LogonType']=3]]</Suppress></Query>"
    "</QueryList>";
const char* const Q2 =
    "<QueryList><Query Id=\"0\"><Select Path=\"Security\">*[System[EventID=4625]]</Select><Select "
    "Path=\"System\">*</Select></Query></QueryList>";

struct TMatchCase {
  const char* Query;
  const char* Event;
  bool Match;
};

// Rows of the reference table, plus cases for the forms it mentions without a row.
const TMatchCase kMatchCases[] = {
    {"*", "E1", true},
    {"", "E3", true},
    {"  \r\n ", "E3", true},
    {"Event", "E4", true},
    {"*[System/EventID=4624]", "E1", true},
    {"*[System/EventID=4624]", "E2", false},
    {"*[System[EventID=4624 or EventID=4625]]", "E2", true},
    {"*[System[(EventID >= 4624 and EventID <= 4634)]]", "E2", true},
    {"*[System[(EventID >= 4624 and EventID <= 4634)]]", "E3", false},
    {"*[System[EventID!=4624]]", "E1", false},
    {"*[System[EventID!=4624]]", "E2", true},
    {"*[System[Provider[@Name='Microsoft-Windows-Security-Auditing']]]", "E1", true},
    {"*[System[Provider[@Name='Microsoft-Windows-Security-Auditing']]]", "E4", false},
    {"*[System[(Level=1 or Level=2 or Level=3)]]", "E1", false},
    {"*[System[(Level=1 or Level=2 or Level=3)]]", "E5", true},
    {"*[System[(Level=4 or Level=0)]]", "E1", true},
    {"*[System[band(Keywords,9007199254740992)]]", "E1", true},
    {"*[System[band(Keywords,9007199254740992)]]", "E2", false},
    {"*[System[band(Keywords,4503599627370496)]]", "E2", true},
    {"*[System[band(Keywords,36028797018963968)]]", "E3", true},
    {"*[EventData[Data[@Name='TargetUserName']='jdoe']]", "E1", true},
    {"*[EventData[Data[@Name='TargetUserName']='jdoe']]", "E2", false},
    {"*[EventData[Data[@Name='LogonType']=10]]", "E1", true},
    {"*[EventData[Data[@Name='LogonType']='10']]", "E1", true},
    {"*[EventData[Data[@Name='LogonType']=3]]", "E1", false},
    {"*[EventData[Data='running']]", "E3", true},
    {"*[EventData[Data='stopped']]", "E3", false},
    {"*[EventData[Data[@Name='param1']='Windows Update' and Data[@Name='param2']='running']]", "E3", true},
    {"*[System[EventID=7036]]", "E3", true},
    {"*[System/EventID[@Qualifiers=16384]]", "E3", true},
    {"*[System/EventID[@Qualifiers=16384]]", "E1", false},
    {"*[System[Security[@UserID='S-1-5-18']]]", "E4", true},
    {"*[System[Security[@UserID='S-1-5-18']]]", "E1", false},
    {"*[System[Channel='Microsoft-Windows-Sysmon/Operational'] and "
     "EventData[Data[@Name='Image']='C:\\Windows\\System32\\cmd.exe']]",
     "E4", true},
    {"*[System[TimeCreated[@SystemTime>='2024-03-01T00:00:00.000Z' and @SystemTime<='2024-03-01T23:59:59.999Z']]]",
     "E1", true},
    {"*[System[TimeCreated[@SystemTime>='2024-03-01T00:00:00.000Z' and @SystemTime<='2024-03-01T23:59:59.999Z']]]",
     "E4", false},
    {"*[System[TimeCreated[@SystemTime='2024-03-01T10:05:00Z']]]", "E2", true},
    {"*[System[TimeCreated[@SystemTime>='2024-02-30T00:00:00Z']]]", "E1", false},  // no such day
    {"*[System[TimeCreated[timediff(@SystemTime) <= 86400000]]]", "E1", true},
    {"*[System[TimeCreated[timediff(@SystemTime) <= 86400000]]]", "E4", false},
    {"*[System[TimeCreated[timediff(@SystemTime) <= 3600000]]]", "E1", false},
    {"*[System[TimeCreated[timediff(@SystemTime, '2024-03-01T10:00:01.1234567Z') = 1000]]]", "E1", true},
    {"*[UserData/*/PrinterName='MyPrinter' and System/Level=1]", "E5", true},
    {"*[UserData/*/PrinterName='MyPrinter' and System/Level=1]", "E1", false},
    {"*[UserData/DocumentPrinted/Pages > 2]", "E5", true},
    {"*[UserData/LowOnMemory]", "E5", false},
    {"*[System[EventRecordID > 999]]", "E1", true},
    {"*[System[Execution[@ProcessID=812]]]", "E1", true},
    {"*[EventData[Data[@Name='Status']='0xc000006d']]", "E2", true},
    {"*[EventData[Data[@Name='NoSuchField']='x']]", "E1", false},
    {"*[EventData[Data[@Name='TargetUserName']!='jdoe']]", "E1", false},
    {"*[EventData/Data[1]='S-1-5-18']", "E1", true},
    {"*[EventData/Data[2]='S-1-5-18']", "E1", false},
    {"*[EventData/Data[position()=2]='jdoe']", "E1", true},
    {"*[System[EventId=4624]]", "E1", false},
    {"Event[System/Level<=3]", "E1", true},
    {"Event/System[EventID=4624]", "E1", true},
    {"Event/System[EventID=4624]", "E2", false},
    {"*[System[Provider[@Guid='{54849625-5478-4994-A5BA-3E3B0328C30D}']]]", "E1", true},
    // Element values only exist for leaves: System has children, so it equals nothing.
    {"*[System='x']", "E1", false},
    {"*[System[EventID=4624 AND Level=0]]", "E1", true},
    {"*[System[Keywords=9232379236109516800]]", "E1", true},  // 0x8020000000000000, beyond 2^53
    {"*[System[Keywords=9232379236109516801]]", "E1", false},
    {"*[EventData/Data[@Name='LogonType']/text()='10']", "E1", true},
    {"*[child::System[attribute::Name or Provider/attribute::Name='Microsoft-Windows-Sysmon']]", "E4", true},
    {"*[EventData[Data[@Name='Blank']=' ']]", "E6", true},
    {"*[EventData[Data[@Name='Blank']='']]", "E6", false},
    {"*[EventData[Data[@Name='Blank']/text()]]", "E6", true},
    {"*[EventData[Data[@Name='Cdata']=' ']]", "E6", true},
    {"*[EventData[Data[@Name='Empty']='']]", "E6", true},
    {"*[System[Computer=' ']]", "E6", true},
    {"*[EventData[Data[3]/@Name='Empty']]", "E6", true},
    {Q1, "E1", true},
    {Q1, "E2", false},
    {Q1, "E3", false},
    {Q2, "E3", true},
    {Q2, "E1", false},
    {Q2, "E2", true},
};

class EventQueryMatchTest : public testing::TestWithParam<TMatchCase> {};

TEST_P(EventQueryMatchTest, MatchesAsWindowsDoes) {
  const TMatchCase& c = GetParam();
  const TEventSample& event = kEvents.at(c.Event);
  const auto now = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + std::chrono::hours(12);
  const auto query = TEventQuery::Parse(c.Query);
  EXPECT_EQ(query->MatchesXml(event.Xml, event.Channel, now), c.Match) << c.Query << " on " << c.Event;
}

INSTANTIATE_TEST_SUITE_P(Table, EventQueryMatchTest, testing::ValuesIn(kMatchCases),
                         [](const testing::TestParamInfo<TMatchCase>& AInfo) {
                           return "Row" + std::to_string(AInfo.index) + "_" + AInfo.param.Event;
                         });

TEST(EventQueryTest, RejectsWhatWindowsRejects) {
  const char* const invalid[] = {
      "//Data",
      "*[contains(EventData/Data,'x')]",
      "*[not(System/EventID=1)]",
      "/Event",
      "*[System/..]",
      "*[.='x']",
      "*[System/EventID=1 | System/EventID=2]",
      "*[System/EventID + 1 = 2]",
      "*[System/EventID=-1]",
      "*[$x]",
      "*[ev:System]",
      "*[ancestor::Event]",
      "*[System[EventID=1]",
      "*[System[EventID=1]]]",
      "*[System/EventID='1]",
      "System[EventID=1]",
      "*[System/@Name/x]",
      "*[System/comment()]",
      "*[band(Keywords)]",
      "*[System/EventID = 1 = 1]",
      "<QueryList><Query Id='0'><Select Path='System'>*[</Select></Query></QueryList>",
      "<QueryList><Query Id='0'><Suppress Path='System'>*</Suppress></Query></QueryList>",
      "<QueryList><Query Id='0'><Select Path='System'>*</Select><Suppress Path='Security'>*</Suppress></Query>"
      "</QueryList>",
      "<QueryList><Query><Select Path='System'>*</Select></Query><Query><Select>*</Select></Query></QueryList>",
      "<QueryList><Query Id='0'><Select Path='System'>*</Select></Query><Query Id='1'><Select>*</Select></Query>"
      "</QueryList>",
      "<QueryList><Query Id='0'><Select Path='System'>*</Select>",
      "<Other/>",
      "<QueryList/>",
  };
  for (const char* text : invalid) {
    SCOPED_TRACE(text);
    EXPECT_THROW((void)TEventQuery::Parse(text), EQueryError);
  }
}

TEST(EventQueryTest, DeepNestingIsAnErrorNotAStackOverflow) {
  EXPECT_THROW((void)TEventQuery::Parse("*[" + std::string(100000, '(') + "1" + std::string(100000, ')') + "]"),
               EQueryError);
  EXPECT_THROW((void)TEventQuery::Parse("*" + std::string(100000, '[') + "a" + std::string(100000, ']')), EQueryError);
}

TEST(EventQueryTest, QueryListChannelsAndEntityDecodedXPath) {
  const auto query = TEventQuery::Parse(
      "<QueryList>\n  <Query Id='0' Path='Security'>\n    <Select>*[System[(EventID &gt;= 4624 and EventID "
      "&lt;= 4625)]]</Select>\n    <Select Path='system'><![CDATA[*[System[Level<=4]]]]></Select>\n"
      "    <Select Path='file:///var/log/archive.evtx'>*</Select>\n  </Query>\n  <Query Id='1' Path='SYSTEM'>"
      "<Select>*</Select></Query>\n</QueryList>");
  EXPECT_EQ(query->Channels(), (std::vector<std::string>{"Security", "system", "/var/log/archive.evtx"}));
  EXPECT_FALSE(query->SelectsEverything());
  EXPECT_TRUE(query->MatchesXml(E2, "SECURITY"));  // channel names compare without case
  EXPECT_FALSE(query->MatchesXml(E2, "Application"));
  EXPECT_TRUE(query->MatchesXml(E1, "/var/log/archive.evtx"));
}

TEST(EventQueryTest, SelectsEverythingOnlyWithoutFilters) {
  EXPECT_TRUE(TEventQuery::Parse("")->SelectsEverything());
  EXPECT_TRUE(TEventQuery::Parse(" * ")->SelectsEverything());
  EXPECT_FALSE(TEventQuery::Parse("Event")->SelectsEverything());
  EXPECT_TRUE(TEventQuery::Parse("<QueryList><Query Id='0' Path='A'><Select>*</Select></Query></QueryList>")
                  ->SelectsEverything());
  EXPECT_FALSE(TEventQuery::Parse("<QueryList><Query Id='0' Path='A'><Select>*</Select><Suppress>*[System[Level=4]]"
                                  "</Suppress></Query></QueryList>")
                   ->SelectsEverything());
}

TEST(EventQueryTest, RenderingInfoIsInvisibleAndMalformedEventsMatchNothing) {
  const std::string withRendering =
      std::string(E1).replace(std::string(E1).size() - 8, 0,
                              "<RenderingInfo Culture='en-US'><Level>Information</Level></RenderingInfo>");
  const auto query = TEventQuery::Parse("*[RenderingInfo]");
  EXPECT_FALSE(query->MatchesXml(withRendering, "Security"));
  EXPECT_TRUE(TEventQuery::Parse("*[EventData]")->MatchesXml(withRendering, "Security"));
  EXPECT_FALSE(TEventQuery::Parse("Event")->MatchesXml("<Event><System>", "Security"));
}

TEST(EventQueryTest, ErrorNamesTheOffset) {
  try {
    (void)TEventQuery::Parse("*[System[EventID=1 and contains(x)]]");
    FAIL() << "no error";
  } catch (const EQueryError& e) {
    EXPECT_EQ(e.Offset(), 23u);
    EXPECT_NE(std::string(e.what()).find("contains"), std::string::npos);
  }
}

}  // namespace
}  // namespace zor
