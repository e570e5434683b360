#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "collection/EventLog.h"
#include "support/EventFixtures.h"
#include "config/CollectionInterface.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {
namespace {

// Level 2, no Execution element, provider name with blanks at both ends.
const std::string kErrorEventWithoutExecution =
    "<Event><System><Provider Name=' My Source '/><EventID>9</EventID><Level>2</Level>"
    "<TimeCreated SystemTime='2024-03-05T07:08:09.0120000Z'/><Computer>h1</Computer></System></Event>";

// A RenderingInfo that names the level and keywords but carries no message.
const std::string kRenderingWithoutMessage =
    "<Event><System><Provider Name='P'/><Level>4</Level><TimeCreated SystemTime='2024-03-05T07:08:09Z'/>"
    "<Execution ProcessID='5' ThreadID='6'/><Computer>h1</Computer></System>"
    "<RenderingInfo Culture='en-US'><Level>Information</Level><Keywords><Keyword>Classic</Keyword></Keywords>"
    "</RenderingInfo></Event>";

struct TSyslogCase {
  const char* Name;
  std::string Xml;  // the event text; a name ending in ".xml" is a fixture
  std::function<void(TCollectionInterface&)> Configure;
  std::string MessageType;
  bool ExpectIETF;
  bool ExpectTextOnly;
  std::string ExpectedLine;  // EncodedMessage, or MessageContent for text-only; "$XML" stands for the event
};

class EventLogSyslogTest : public testing::TestWithParam<TSyslogCase> {};

TEST_P(EventLogSyslogTest, BuildsTheMessage) {
  const TSyslogCase& c = GetParam();
  const std::string xml = c.Xml.ends_with(".xml") ? test::ReadEventFixture(c.Xml) : c.Xml;
  TCollectionInterface reader;
  if (c.Configure) c.Configure(reader);
  TEventLog event(xml);

  const std::unique_ptr<TBaseSysLogMessage> message = event.GetSyslogMessage(reader, c.MessageType);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(dynamic_cast<TIETFSysLogMessage*>(message.get()) != nullptr, c.ExpectIETF);
  EXPECT_EQ(dynamic_cast<TBSDSysLogMessage*>(message.get()) != nullptr, !c.ExpectIETF);
  EXPECT_EQ(message->SendMessageOnly(), c.ExpectTextOnly);

  std::string expected = c.ExpectedLine;
  if (const size_t at = expected.find("$XML"); at != std::string::npos) expected.replace(at, 4, xml);
  EXPECT_EQ(c.ExpectTextOnly ? message->MessageContent() : message->EncodedMessage(), expected);
  // The destination is the caller's to set.
  EXPECT_EQ(message->DestinationHost(), "");
  EXPECT_EQ(message->DestinationPort(), 0);
}

const auto kDerive = [](TCollectionInterface& AReader) { AReader.SetDeriveSeverity(true); };
const auto kParse = [](TCollectionInterface& AReader) { AReader.SetParse(true); };
const auto kRaw = [](TCollectionInterface& AReader) { AReader.SetRawLogOnly(true); };

const TSyslogCase kSyslogCases[] = {
    // Reader defaults: facility UserLevel (1), severity Informational (6): PRI 14.
    {"BSDDefaults", "scm_7036_rendered.xml", nullptr, "BSD", false, false,
     "<14>May 22 14:43:53 srv01 ServiceControlManager[776]: $XML"},
    {"IETFDefaults", "scm_7036_rendered.xml", nullptr, "IETF", true, false,
     "<14>1 2023-05-22T14:43:53.167Z srv01 ServiceControlManager 776 - - $XML"},
    {"TypeIsCaseSensitive", "scm_7036_rendered.xml", nullptr, "ietf", false, false,
     "<14>May 22 14:43:53 srv01 ServiceControlManager[776]: $XML"},
    {"ReaderFacilityAndSeverity", "sysmon_1.xml",
     [](TCollectionInterface& AReader) {
       AReader.SetDefaultFacility(TSyslogFacility::sfLocalUseZero);
       AReader.SetDefaultSeverity(TSyslogSeverity::slWarning);
     },
     "IETF", true, false, "<132>1 2017-12-26T13:10:29.136Z DESKTOP-2KGM189 Microsoft-Windows-Sysmon 2284 - - $XML"},
    // Level 4 derives notice (5), level 0 notice, level 2 error (3).
    {"DeriveInformationLevel", "scm_7036_rendered.xml", kDerive, "BSD", false, false,
     "<13>May 22 14:43:53 srv01 ServiceControlManager[776]: $XML"},
    {"DeriveLevelZero", "security_4624.xml", kDerive, "IETF", true, false,
     "<13>1 2016-07-08T18:12:51.681Z 37L4247F27-25 Microsoft-Windows-Security-Auditing 456 - - $XML"},
    // Without an Execution element the process id is -1: no brackets, PROCID "-".
    {"DeriveErrorWithoutProcessBSD", kErrorEventWithoutExecution, kDerive, "BSD", false, false,
     "<11>Mar  5 07:08:09 h1 MySource: $XML"},
    {"DeriveErrorWithoutProcessIETF", kErrorEventWithoutExecution, kDerive, "IETF", true, false,
     "<11>1 2024-03-05T07:08:09.012Z h1 MySource - - - $XML"},
    {"ParseTakesTheRenderedMessage", "scm_7036_rendered.xml", kParse, "BSD", false, false,
     "<14>May 22 14:43:53 srv01 ServiceControlManager[776]: The Windows Update service entered the running state."},
    {"ParseWithoutRenderingInfoSendsTheXml", "security_4624.xml", kParse, "BSD", false, false,
     "<14>Jul  8 18:12:51 37L4247F27-25 Microsoft-Windows-Security-Auditing[456]: $XML"},
    {"ParseWithoutRenderedMessageSendsTheXml", kRenderingWithoutMessage, kParse, "IETF", true, false,
     "<14>1 2024-03-05T07:08:09.000Z h1 P 5 - - $XML"},
    {"RawLogOnlyBSD", "scm_7036_rendered.xml", kRaw, "BSD", false, true, "$XML"},
    {"RawLogOnlyWinsOverIETF", "scm_7036_rendered.xml", kRaw, "IETF", false, true, "$XML"},
    {"RawLogOnlyWithParse", "scm_7036_rendered.xml",
     [](TCollectionInterface& AReader) {
       AReader.SetRawLogOnly(true);
       AReader.SetParse(true);
     },
     "IETF", false, true, "The Windows Update service entered the running state."},
};

INSTANTIATE_TEST_SUITE_P(Cases, EventLogSyslogTest, testing::ValuesIn(kSyslogCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(EventLogSyslogFieldsTest, RawLogOnlySetsNoHeaderField) {
  TCollectionInterface reader;
  reader.SetRawLogOnly(true);
  reader.SetDeriveSeverity(true);
  TEventLog event(test::ReadEventFixture("scm_7036_rendered.xml"));
  const auto message = event.GetSyslogMessage(reader, "BSD");
  EXPECT_EQ(message->Host(), "");
  EXPECT_EQ(message->Process(), "");
  EXPECT_EQ(message->ProcessID(), 0);
  EXPECT_EQ(message->Facility(), TSyslogFacility::sfLocalUseSeven);
  EXPECT_EQ(message->Severity(), TSyslogSeverity::slDebug);
}

TEST(EventLogSyslogFieldsTest, EmptyRecordGivesEmptyFields) {
  TCollectionInterface reader;
  TEventLog event("");
  for (const char* type : {"BSD", "IETF"}) {
    SCOPED_TRACE(type);
    const auto message = event.GetSyslogMessage(reader, type);
    EXPECT_EQ(message->MessageContent(), "");
    EXPECT_EQ(message->Process(), "");
    EXPECT_EQ(message->Host(), "");
  }
  EXPECT_EQ(event.GetSyslogMessage(reader, "BSD")->ProcessID(), -1);
}

}  // namespace
}  // namespace zor
