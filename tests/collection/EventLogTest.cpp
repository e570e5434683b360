#include "collection/EventLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "collection/EventXml.h"
#include "support/EventFixtures.h"

namespace zor {
namespace {

// One millisecond is 1.16e-8 days.
constexpr double OneMsInDays = 1.0 / 86400000.0;

double Days(int ADaysSince18991230, int AHour, int AMinute, int ASecond, int AMs) {
  return ADaysSince18991230 + (((AHour * 60 + AMinute) * 60 + ASecond) * 1000.0 + AMs) / 86400000.0;
}

// Wraps System children into a whole event.
std::string EventWithSystem(const std::string& ASystemChildren) {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>" + ASystemChildren +
         "</System></Event>";
}

std::vector<std::string> DataNames(const TEventLogData& AData) {
  std::vector<std::string> names;
  for (int i = 0; i < AData.Count(); ++i) names.push_back(AData.GetListItem(i).ParamName);
  return names;
}

void ExpectEmpty(const TEventLog& AEvent) {
  const TEventLogSystem& system = AEvent.System();
  EXPECT_FALSE(system.HasData());
  EXPECT_EQ(system.Provider().Name, "");
  EXPECT_EQ(system.Provider().GUID, "");
  EXPECT_EQ(system.EventID().ID, -1);
  EXPECT_EQ(system.EventID().Qualifiers, -1);
  EXPECT_EQ(system.Version(), -1);
  EXPECT_EQ(system.Level(), -1);
  EXPECT_EQ(system.Task(), -1);
  EXPECT_EQ(system.OpCode(), -1);
  EXPECT_EQ(system.Keywords(), 0u);
  EXPECT_EQ(system.TimeCreated(), 0.0);
  EXPECT_EQ(system.EventRecordID(), -1);
  EXPECT_EQ(system.Execution().ProcessID, -1);
  EXPECT_EQ(system.Execution().ProcessorTime, -1);
  EXPECT_EQ(system.Channel(), "");
  EXPECT_EQ(system.Computer(), "");
  EXPECT_EQ(system.UserID(), "");
  EXPECT_EQ(system.UserName(), "");
  EXPECT_FALSE(AEvent.EventData().HasData());
  EXPECT_EQ(AEvent.EventData().Count(), 0);
  EXPECT_FALSE(AEvent.RenderingInfo().HasData());
  EXPECT_EQ(AEvent.RenderingInfo().MyMessage(), "");
  EXPECT_TRUE(AEvent.RenderingInfo().Keywords().empty());
}

TEST(EventLogTest, EmptyAndBlankTextsGiveTheEmptyRecord) {
  for (const std::string& text : {std::string(), std::string(" \t\r\n"), std::string("\x01\x1f ", 3)}) {
    SCOPED_TRACE(testing::PrintToString(text));
    TEventLog event(text);
    EXPECT_EQ(event.EventLogXML(), text);
    ExpectEmpty(event);
  }
}

TEST(EventLogTest, ReadsEveryPartOfARenderedClassicEvent) {
  const std::string xml = test::ReadEventFixture("scm_7036_rendered.xml");
  TEventLog event(xml);
  EXPECT_EQ(event.EventLogXML(), xml);

  const TEventLogSystem& system = event.System();
  EXPECT_TRUE(system.HasData());
  EXPECT_EQ(system.Provider().Name, "Service Control Manager");
  EXPECT_EQ(system.Provider().GUID, "555908d1-a6d7-4695-8e1e-26931d2012f4");
  EXPECT_EQ(system.Provider().EventSourceName, "Service Control Manager");
  EXPECT_EQ(system.EventID().ID, 7036);
  EXPECT_EQ(system.EventID().Qualifiers, 16384);
  EXPECT_EQ(system.Version(), 0);
  EXPECT_EQ(system.Level(), 4);
  EXPECT_EQ(system.Task(), 0);
  EXPECT_EQ(system.OpCode(), 0);
  EXPECT_EQ(system.Keywords(), 0x8080000000000000u);
  EXPECT_NEAR(system.TimeCreated(), Days(45068, 14, 43, 53, 167), OneMsInDays / 10);
  EXPECT_EQ(system.EventRecordID(), 64199);
  EXPECT_EQ(system.Correlation().ActivityID, "");
  EXPECT_EQ(system.Execution().ProcessID, 776);
  EXPECT_EQ(system.Execution().ThreadID, 5788);
  EXPECT_EQ(system.Execution().SessionID, -1);
  EXPECT_EQ(system.Channel(), "System");
  EXPECT_EQ(system.Computer(), "srv01");
  EXPECT_EQ(system.UserID(), "");

  // The Binary child is not a data item.
  ASSERT_EQ(event.EventData().Count(), 2);
  EXPECT_TRUE(event.EventData().HasData());
  EXPECT_EQ(event.EventData().GetListItem(0).ParamName, "param1");
  EXPECT_EQ(event.EventData().GetListItem(0).Value, "Windows Update");
  EXPECT_EQ(event.EventData().GetListItem(1).Value, "running");

  const TEventLogRenderingInfo& info = event.RenderingInfo();
  EXPECT_TRUE(info.HasData());
  EXPECT_EQ(info.MyMessage(), "The Windows Update service entered the running state.");
  EXPECT_EQ(info.Level(), "Information");
  EXPECT_EQ(info.Task(), "");
  EXPECT_EQ(info.Provider(), "Microsoft-Windows-Service Control Manager");
  EXPECT_EQ(info.Keywords(), std::vector<std::string>{"Classic"});
}

TEST(EventLogTest, ReadsRealSecuritySysmonAndServiceInstallEvents) {
  {
    TEventLog event(test::ReadEventFixture("security_4624.xml"));
    EXPECT_EQ(event.System().EventID().ID, 4624);
    EXPECT_EQ(event.System().Provider().GUID, "54849625-5478-4994-A5BA-3E3B0328C30D");
    EXPECT_EQ(event.System().Level(), 0);
    EXPECT_EQ(event.System().Keywords(), 0x8020000000000000u);
    // Nine fraction digits: the first three are the milliseconds.
    EXPECT_NEAR(event.System().TimeCreated(), Days(42559, 18, 12, 51, 681), OneMsInDays / 10);
    EXPECT_EQ(event.EventData().Count(), 20);
    // <Data Name='ProcessName'/> has a name and no text.
    EXPECT_EQ(event.EventData().GetListItem(17).ParamName, "ProcessName");
    EXPECT_EQ(event.EventData().GetListItem(17).Value, "");
    EXPECT_FALSE(event.RenderingInfo().HasData());
  }
  {
    TEventLog event(test::ReadEventFixture("sysmon_1.xml"));
    EXPECT_EQ(event.System().UserID(), "S-1-5-18");
    EXPECT_EQ(event.System().UserName(), "SYSTEM");
    EXPECT_EQ(event.System().UserDomain(), "NT AUTHORITY");
    EXPECT_EQ(event.System().Channel(), "Microsoft-Windows-Sysmon/Operational");
    ASSERT_EQ(event.EventData().Count(), 16);
    // Blanks inside a value are kept, the trailing one included.
    EXPECT_EQ(event.EventData().GetListItem(4).Value, "ping  -n 6 127.0.0.1 ");
  }
  {
    TEventLog event(test::ReadEventFixture("system_7045.xml"));
    // A domain account: not a well-known identifier, so it stays unresolved.
    EXPECT_EQ(event.System().UserID(), "S-1-5-21-4230534742-2542757381-3142984815-1111");
    EXPECT_EQ(event.System().UserName(), "");
    EXPECT_EQ(event.System().UserDomain(), "");
    EXPECT_EQ(DataNames(event.EventData()),
              (std::vector<std::string>{"ServiceName", "ImagePath", "ServiceType", "StartType", "AccountName"}));
    EXPECT_EQ(event.EventData().GetListItem(1).Value,
              "c:\\windows\\system32\\cmd.exe /c powershell -command \"Get-Service \"seg1\" | select -Expand "
              "DisplayName |out-file -append tmp_payload.txt\"");
  }
}

TEST(EventLogTest, ParsesEveryEventOfWindowsOwnRendering) {
  std::ifstream in(std::string(ZOR_SHARED_DIR) + "/evtx-samples/pyevtx_system.windows.xml", std::ios::binary);
  ASSERT_TRUE(in.good());
  std::vector<int64_t> recordIDs;
  TEventLog event;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    event.Reset(line);
    EXPECT_EQ(event.System().Channel(), "System");
    EXPECT_EQ(event.System().Computer(), "WKS-WIN764BITB.shieldbase.local");
    recordIDs.push_back(event.System().EventRecordID());
  }
  EXPECT_EQ(recordIDs, (std::vector<int64_t>{12049, 12050, 12051, 12052, 12053}));
}

struct TSystemCase {
  const char* Name;
  std::string SystemChildren;
  std::function<void(const TEventLogSystem&)> Check;
};

class EventLogSystemTest : public testing::TestWithParam<TSystemCase> {};

TEST_P(EventLogSystemTest, ReadsTheElement) {
  TEventLog event(EventWithSystem(GetParam().SystemChildren));
  EXPECT_TRUE(event.System().HasData());
  GetParam().Check(event.System());
}

const TSystemCase kSystemCases[] = {
    {"KeywordsHex", "<Keywords>0x20</Keywords>", [](const auto& s) { EXPECT_EQ(s.Keywords(), 32u); }},
    {"KeywordsUpperCaseHex", "<Keywords>0xFF</Keywords>", [](const auto& s) { EXPECT_EQ(s.Keywords(), 255u); }},
    {"KeywordsPrefixOnly", "<Keywords>0x</Keywords>",
     [](const auto& s) { EXPECT_EQ(s.Keywords(), std::numeric_limits<uint64_t>::max()); }},
    {"KeywordsNotHex", "<Keywords>0xZZ</Keywords>",
     [](const auto& s) { EXPECT_EQ(s.Keywords(), std::numeric_limits<uint64_t>::max()); }},
    {"KeywordsOverflow", "<Keywords>0x10000000000000000</Keywords>",
     [](const auto& s) { EXPECT_EQ(s.Keywords(), std::numeric_limits<uint64_t>::max()); }},
    {"KeywordsEmptyElement", "<Keywords/>", [](const auto& s) { EXPECT_EQ(s.Keywords(), 0u); }},
    {"GuidWithoutBracesLosesFirstAndLast", "<Provider Name='P' Guid='abcd'/>",
     [](const auto& s) {
       EXPECT_EQ(s.Provider().Name, "P");
       EXPECT_EQ(s.Provider().GUID, "bc");
       EXPECT_EQ(s.Provider().EventSourceName, "");
     }},
    {"GuidOneCharacter", "<Provider Guid='x'/>", [](const auto& s) { EXPECT_EQ(s.Provider().GUID, ""); }},
    {"QualifiersNotANumber", "<EventID Qualifiers='abc'>7</EventID>",
     [](const auto& s) {
       EXPECT_EQ(s.EventID().ID, 7);
       EXPECT_EQ(s.EventID().Qualifiers, -1);
     }},
    {"EventIDWithoutText", "<EventID Qualifiers='5'/>",
     [](const auto& s) {
       EXPECT_EQ(s.EventID().ID, -1);
       EXPECT_EQ(s.EventID().Qualifiers, 5);
     }},
    {"ExecutionPartial", "<Execution ProcessID='4' ThreadID='8' SessionID='2' ProcessorID='1'/>",
     [](const auto& s) {
       EXPECT_EQ(s.Execution().ProcessID, 4);
       EXPECT_EQ(s.Execution().ThreadID, 8);
       EXPECT_EQ(s.Execution().SessionID, 2);
       EXPECT_EQ(s.Execution().ProcessorID, 1);
       EXPECT_EQ(s.Execution().KernelTime, -1);
       EXPECT_EQ(s.Execution().UserTime, -1);
       EXPECT_EQ(s.Execution().ProcessorTime, -1);
     }},
    {"ExecutionBadNumbers", "<Execution ProcessID='x' ThreadID='99999999999' KernelTime='99999999999'/>",
     [](const auto& s) {
       EXPECT_EQ(s.Execution().ProcessID, -1);
       EXPECT_EQ(s.Execution().ThreadID, -1);
       EXPECT_EQ(s.Execution().KernelTime, 99999999999);
     }},
    {"CorrelationBraces",
     "<Correlation ActivityID='{a1b2c3d4-0001-0002-0003-000000000004}' RelatedActivityID='{r}'/>",
     [](const auto& s) {
       EXPECT_EQ(s.Correlation().ActivityID, "a1b2c3d4-0001-0002-0003-000000000004");
       EXPECT_EQ(s.Correlation().RelatedActivityID, "r");
     }},
    {"SecurityWithoutUserID", "<Security/>",
     [](const auto& s) {
       EXPECT_EQ(s.UserID(), "");
       EXPECT_EQ(s.UserName(), "");
       EXPECT_EQ(s.UserDomain(), "");
     }},
    {"SecurityNotASid", "<Security UserID='nobody'/>",
     [](const auto& s) {
       EXPECT_EQ(s.UserID(), "nobody");
       EXPECT_EQ(s.UserName(), "");
     }},
    {"SecurityLocalService", "<Security UserID='S-1-5-19'/>",
     [](const auto& s) {
       EXPECT_EQ(s.UserName(), "LOCAL SERVICE");
       EXPECT_EQ(s.UserDomain(), "NT AUTHORITY");
     }},
    {"RecordIDBeyond32Bits", "<EventRecordID>4294967296</EventRecordID>",
     [](const auto& s) { EXPECT_EQ(s.EventRecordID(), 4294967296); }},
    {"NegativeAndSignedNumbers", "<Level>-3</Level><Task>+7</Task>",
     [](const auto& s) {
       EXPECT_EQ(s.Level(), -3);
       EXPECT_EQ(s.Task(), 7);
     }},
    {"NamesAreCaseSensitive", "<level>2</level><CHANNEL>x</CHANNEL>",
     [](const auto& s) {
       EXPECT_EQ(s.Level(), -1);
       EXPECT_EQ(s.Channel(), "");
     }},
    {"EscapedText", "<Computer>a&amp;b&lt;c&#65;</Computer>",
     [](const auto& s) { EXPECT_EQ(s.Computer(), "a&b<cA"); }},
    {"CDataText", "<Channel><![CDATA[x<y]]></Channel>", [](const auto& s) { EXPECT_EQ(s.Channel(), "x<y"); }},
    {"TimeWithoutFraction", "<TimeCreated SystemTime='2024-03-05T07:08:09Z'/>",
     [](const auto& s) { EXPECT_NEAR(s.TimeCreated(), Days(45356, 7, 8, 9, 0), OneMsInDays / 10); }},
    {"TimeAttributeMissing", "<TimeCreated/>", [](const auto& s) { EXPECT_EQ(s.TimeCreated(), 0.0); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, EventLogSystemTest, testing::ValuesIn(kSystemCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(EventLogTest, SystemElementWithoutChildrenHasNoData) {
  TEventLog event("<Event><System/></Event>");
  EXPECT_FALSE(event.System().HasData());
}

TEST(EventLogTest, FailuresKeepTheTextAndWhatWasReadBefore) {
  struct TCase {
    const char* Name;
    std::string Xml;
    bool IsConversion;
  };
  const TCase cases[] = {
      {"not XML", "hello", false},
      {"unclosed", "<Event><System><Level>4</Level>", false},
      {"mismatched", "<Event></Evnt>", false},
      {"text level", EventWithSystem("<Provider Name='P'/><Level>high</Level>"), true},
      {"level beyond 32 bits", EventWithSystem("<Provider Name='P'/><Level>4294967296</Level>"), true},
      {"blank after number", EventWithSystem("<Provider Name='P'/><EventID>4 </EventID>"), true},
      {"record id not a number", EventWithSystem("<Provider Name='P'/><EventRecordID>1e3</EventRecordID>"), true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TEventLog event;
    if (c.IsConversion) {
      EXPECT_THROW(event.Reset(c.Xml), EConvertError);
      EXPECT_EQ(event.System().Provider().Name, "P");
    } else {
      EXPECT_THROW(event.Reset(c.Xml), EEventLogError);
      EXPECT_FALSE(event.System().HasData());
    }
    EXPECT_EQ(event.EventLogXML(), c.Xml);
  }
}

TEST(EventLogTest, AMegabyteNumberFailsWithABoundedMessage) {
  TEventLog event;
  try {
    event.Reset(EventWithSystem("<Level>" + std::string(1 << 20, '7') + "</Level>"));
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_LT(std::string(e.what()).size(), 200u);
  }
}

TEST(EventLogTest, ABadTimeFailsTheReset) {
  TEventLog event;
  EXPECT_THROW(event.Reset(EventWithSystem("<TimeCreated SystemTime='yesterday'/>")), EConvertError);
}

TEST(EventLogTest, EventDataItemsAndSkippedChildren) {
  TEventLog event(
      "<Event><System/><EventData><Data Name='A'>1</Data><Data/><Binary>00</Binary><Other>x</Other>"
      "<Data Name='B'> </Data></EventData></Event>");
  const TEventLogData& data = event.EventData();
  ASSERT_EQ(data.Count(), 3);
  EXPECT_EQ(data.GetListItem(0).ParamName, "A");
  EXPECT_EQ(data.GetListItem(0).Value, "1");
  EXPECT_EQ(data.GetListItem(1).ParamName, "");
  EXPECT_EQ(data.GetListItem(1).Value, "");
  EXPECT_EQ(data.GetListItem(2).Value, " ");

  TEventLog binaryOnly("<Event><System/><EventData><Binary>0A</Binary></EventData></Event>");
  EXPECT_EQ(binaryOnly.EventData().Count(), 0);
  EXPECT_FALSE(binaryOnly.EventData().HasData());
}

TEST(EventLogTest, OnlyTheFirstPartOfEachNameIsRead) {
  TEventLog event(
      "<Event><UserData><EventData><Data>inner</Data></EventData></UserData>"
      "<EventData><Data Name='first'/></EventData><EventData><Data Name='second'/></EventData></Event>");
  EXPECT_EQ(DataNames(event.EventData()), std::vector<std::string>{"first"});
  EXPECT_FALSE(event.System().HasData());
}

TEST(EventLogTest, ResetLeavesNothingOfThePreviousEvent) {
  TEventLog event(test::ReadEventFixture("scm_7036_rendered.xml"));
  ASSERT_TRUE(event.RenderingInfo().HasData());
  event.Reset("<Event><System><Level>2</Level></System><EventData><Data Name='only'>v</Data></EventData></Event>");
  EXPECT_EQ(event.System().Level(), 2);
  EXPECT_EQ(event.System().EventID().ID, -1);
  EXPECT_EQ(event.System().Provider().Name, "");
  EXPECT_EQ(event.System().Computer(), "");
  EXPECT_EQ(DataNames(event.EventData()), std::vector<std::string>{"only"});
  EXPECT_FALSE(event.RenderingInfo().HasData());
  EXPECT_TRUE(event.RenderingInfo().Keywords().empty());
  EXPECT_EQ(event.RenderingInfo().MyMessage(), "");

  // A failed parse empties the record too.
  EXPECT_THROW(event.Reset("<Event"), EEventLogError);
  ExpectEmpty(event);
}

// Every System value a message or a query can read, as one text.
std::string SystemValues(const TEventLogSystem& ASystem) {
  std::ostringstream out;
  out << ASystem.HasData() << '|' << ASystem.Provider().Name << '|' << ASystem.Provider().GUID << '|'
      << ASystem.EventID().ID << '|' << ASystem.Level() << '|' << ASystem.Keywords() << '|'
      << ASystem.TimeCreated() << '|' << ASystem.EventRecordID() << '|' << ASystem.Execution().ProcessID << '|'
      << ASystem.Channel() << '|' << ASystem.Computer() << '|' << ASystem.UserID();
  return out.str();
}

// What Reset does with AXml: the error's kind, or the System values.
std::string Outcome(TEventLog& AEvent, const std::string& AXml, bool AOnlySystem) {
  try {
    if (AOnlySystem)
      AEvent.ResetSystem(std::string(AXml));
    else
      AEvent.Reset(AXml);
  } catch (const EEventLogError&) {
    return "malformed";
  } catch (const EConvertError&) {
    return "conversion: " + SystemValues(AEvent.System());
  }
  return SystemValues(AEvent.System());
}

TEST(EventLogTest, ResetSystemFailsAndReadsSystemAsResetDoes) {
  const std::string system = "<System><Provider Name='P'/><EventID>7</EventID><Level>2</Level></System>";
  const std::string head = "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'>" + system;
  const std::string cases[] = {
      head + "<EventData><Data Name='a'>x &amp; y</Data><Data/></EventData></Event>",
      head + "<EventData><Data Name=\"a\" >1</Data ></EventData></Event>\r\n",
      // Broken after System: skipped before, skipped now.
      head + "<EventData><Data>1</Dat></EventData></Event>",
      head + "<EventData><Data Name='a>1</Data></EventData></Event>",
      head + "<EventData>",
      head + "</Event><Event>",
      head + "</Event>trailing",
      head + "<EventData><Data>1</Data></EventData></Evnt>",
      head + std::string("<EventData>\0</EventData></Event>", 32),
      // Allowed by the parser, left to the whole parse.
      head + "<!-- note --><EventData/></Event>",
      head + "<EventData><![CDATA[<x>]]></EventData></Event>",
      head + "<UserData><\xC3\xA9l/></UserData></Event>",
      head + "</Event>  <Other/>",
      // "</System>" where it does not end the event's System.
      "<Event><System><Provider Name='a</System>'/><Level>3</Level></System></Event>",
      "<Event><System><!-- </System> --><Level>3</Level></System></Event>",
      "<Event><Other><System></System></Other><System><Level>1</Level></System></Event>",
      "<Event><System><Level>1</Level></System ><System><Level>2</Level></System></Event>",
      "<e:Event xmlns:e='x'><System><Level>1</Level></System></e:Event>",
      "<Root><System><Level>1</Level></System></Root>",
      "<A/><Event><System><Level>1</Level></System></Event>",
      std::string("<Event><System><Level>1\0</Level></System></Event>", 49),
      // A conversion failure in System fails both the same way.
      "<Event><System><Provider Name='P'/><Level>high</Level></System><EventData/></Event>",
      "<Event><System><Provider Name='P'/><Level>high</Level></System><EventData></Event>",
      // Deep nesting after System.
      head + [] {
        std::string deep;
        for (int i = 0; i < 100; ++i) deep += "<D>";
        for (int i = 0; i < 100; ++i) deep += "</D>";
        return deep;
      }() + "</Event>",
  };
  TEventLog whole;
  TEventLog onlySystem;
  for (const std::string& xml : cases) {
    SCOPED_TRACE(testing::PrintToString(xml));
    EXPECT_EQ(Outcome(onlySystem, xml, true), Outcome(whole, xml, false));
    EXPECT_EQ(onlySystem.EventLogXML(), xml);
    EXPECT_FALSE(onlySystem.EventData().HasData());
    EXPECT_FALSE(onlySystem.RenderingInfo().HasData());
  }
  EXPECT_EQ(Outcome(onlySystem, cases[0], true), "1|P||7|2|0|0|-1|-1|||");
  EXPECT_EQ(Outcome(onlySystem, cases[2], true), "malformed");

  // Real events take the quick way: what follows their System is plain.
  for (const char* name : {"scm_7036_rendered.xml", "security_4624.xml", "sysmon_1.xml", "system_7045.xml"}) {
    SCOPED_TRACE(name);
    const std::string xml = test::ReadEventFixture(name);
    const size_t end = xml.find("</System>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(eventxml::ClosesEvent(std::string_view(xml).substr(end + 9)));
    EXPECT_EQ(Outcome(onlySystem, xml, true), Outcome(whole, xml, false));
  }
  // Nothing closes nothing, also from a view without a pointer.
  EXPECT_FALSE(eventxml::ClosesEvent(std::string_view()));
}

TEST(EventLogTest, RenderingInfoKeywordsAndMissingTexts) {
  TEventLogRenderingInfo info(
      "<RenderingInfo Culture='en-US'><Message>line1\r\nline2</Message><Task/>"
      "<Keywords><Keyword>Audit Success</Keyword><K>Audit Success</K><Keyword/></Keywords></RenderingInfo>");
  EXPECT_TRUE(info.HasData());
  // Line ends are normalised as by any XML parser.
  EXPECT_EQ(info.MyMessage(), "line1\nline2");
  EXPECT_EQ(info.Task(), "");
  EXPECT_EQ(info.Keywords(), (std::vector<std::string>{"Audit Success", "Audit Success"}));

  TEventLogRenderingInfo empty("<RenderingInfo Culture='en-US'/>");
  EXPECT_FALSE(empty.HasData());
}

TEST(EventLogTest, PartsParseTheirOwnElementFromAString) {
  TEventLogSystem system("<System><EventID>4</EventID></System>");
  EXPECT_EQ(system.EventID().ID, 4);
  TEventLogData data("<EventData><Data Name='n'>v</Data></EventData>");
  EXPECT_EQ(data.Count(), 1);
  EXPECT_THROW(TEventLogData("<EventData>"), EEventLogError);
}

TEST(EventLogTest, DataListAccessChecksTheIndex) {
  TEventLogData data;
  data.Add({"a", "1"});
  data.Add({"b", "2"});
  data.SetListItem(1, {"c", "3"});
  EXPECT_EQ(data.GetListItem(1).ParamName, "c");
  data.Delete(0);
  ASSERT_EQ(data.Count(), 1);
  EXPECT_EQ(data.GetListItem(0).Value, "3");
  for (const int index : {-1, 1, 100}) {
    SCOPED_TRACE(index);
    EXPECT_THROW((void)data.GetListItem(index), EArgumentOutOfRange);
    EXPECT_THROW(data.SetListItem(index, {}), EArgumentOutOfRange);
    EXPECT_THROW(data.Delete(index), EArgumentOutOfRange);
  }
}

TEST(EventLogTest, ResetFromAStream) {
  const std::string xml = test::ReadEventFixture("security_4624.xml");
  std::istringstream stream(xml);
  TEventLog event;
  event.Reset(stream);
  EXPECT_EQ(event.EventLogXML(), xml);
  EXPECT_EQ(event.System().EventID().ID, 4624);
}

TEST(EventLogTest, HugeAndDeepEventsParse) {
  const std::string big(1 << 20, 'x');
  TEventLog event;
  event.Reset("<Event><System><EventID>1</EventID></System><EventData><Data Name='Big'>" + big +
              "</Data></EventData></Event>");
  ASSERT_EQ(event.EventData().Count(), 1);
  EXPECT_EQ(event.EventData().GetListItem(0).Value.size(), big.size());

  // 100000 nested elements inside a payload the parser does not read.
  std::string deep = "<Event><System><EventID>2</EventID></System><UserData>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  deep += "</UserData></Event>";
  event.Reset(deep);
  EXPECT_EQ(event.System().EventID().ID, 2);
}

TEST(EventLogTest, LevelToSeverityAndString) {
  struct TCase {
    int32_t Level;
    TSyslogSeverity Severity;
    const char* Name;
  };
  const TCase cases[] = {
      {0, TSyslogSeverity::slNotice, "Verbose"},        {1, TSyslogSeverity::slCritical, "Critical"},
      {2, TSyslogSeverity::slError, "Error"},           {3, TSyslogSeverity::slWarning, "Warning"},
      {4, TSyslogSeverity::slNotice, "Information"},    {5, TSyslogSeverity::slInformational, "Verbose"},
      {6, TSyslogSeverity::slNotice, "Verbose"},        {-1, TSyslogSeverity::slNotice, "Verbose"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Level);
    EXPECT_EQ(TEventLogSystem::LevelToSeverity(c.Level), c.Severity);
    EXPECT_EQ(TEventLogSystem::LevelToString(c.Level), c.Name);
  }
}

}  // namespace
}  // namespace zor
