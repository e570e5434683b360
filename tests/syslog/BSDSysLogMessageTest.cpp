#include "syslog/BSDSysLogMessage.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/ScopedTimeZone.h"
#include "syslog/IETFSysLogMessage.h"

namespace zor {
namespace {

TDateTime At(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond, int AMs = 0) {
  return TUtilities::EncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond, AMs);
}

// A message with every field set, local time 2024-03-07 10:05:09.123.
std::unique_ptr<TBSDSysLogMessage> Sample() {
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->SetPriority(34);
  message->SetTimeStamp(At(2024, 3, 7, 10, 5, 9, 123));
  message->SetHost("h1");
  message->SetProcess("app");
  message->SetProcessID(42);
  message->SetMessageContent("hello");
  return message;
}

struct TZoneCase {
  const char* Zone;
  const char* WinterUTC;  // file form of local 2024-03-07 10:05:09.123
  const char* SummerUTC;  // file form of local 2024-07-01 12:00:00.000
};

// Local times are read and written through the C library's zone rules; the
// encoded line carries the local time, the JSON file form UTC.
class BSDTimeZoneTest : public testing::TestWithParam<TZoneCase> {};

TEST_P(BSDTimeZoneTest, LocalTimeOnTheWireUtcInTheFileForm) {
  const test::ScopedTimeZone zone(GetParam().Zone);
  auto message = Sample();
  EXPECT_EQ(message->EncodedMessage(), "<34>Mar  7 10:05:09 h1 app[42]: hello");
  EXPECT_EQ(message->TimeStampString(), "Mar  7 10:05:09");
  const TJSONValue file = Json::Parse(message->AsJSONFileString());
  EXPECT_EQ(file["timeStamp"], GetParam().WinterUTC);
  EXPECT_EQ(Json::Parse(message->AsJSONString())["timeStamp"], "2024-03-07 10:05:09.123");

  message->SetTimeStamp(At(2024, 7, 1, 12, 0, 0));
  EXPECT_EQ(Json::Parse(message->AsJSONFileString())["timeStamp"], GetParam().SummerUTC);

  // The file form's UTC time reads back to the same local time.
  TBSDSysLogMessage back;
  back.SetAsJSONFileString(message->AsJSONFileString());
  EXPECT_EQ(back.EncodedMessage(), "<34>Jul  1 12:00:00 h1 app[42]: hello");
}

INSTANTIATE_TEST_SUITE_P(Zones, BSDTimeZoneTest,
                         testing::Values(TZoneCase{"UTC0", "2024-03-07T10:05:09.123Z", "2024-07-01T12:00:00.000Z"},
                                         TZoneCase{"EST5EDT,M3.2.0,M11.1.0", "2024-03-07T15:05:09.123Z",
                                                   "2024-07-01T16:00:00.000Z"},
                                         TZoneCase{"CET-1CEST,M3.5.0,M10.5.0/3", "2024-03-07T09:05:09.123Z",
                                                   "2024-07-01T10:00:00.000Z"}),
                         [](const auto& AInfo) { return std::to_string(AInfo.index); });

TEST(BSDSysLogMessageTest, EncodesTheLine) {
  auto message = Sample();
  message->SetProcessID(-1);
  EXPECT_EQ(message->EncodedMessage(), "<34>Mar  7 10:05:09 h1 app: hello");
  message->SetProcessID(0);
  message->SetTimeStamp(At(2024, 12, 15, 0, 0, 1));
  message->SetHost("");
  EXPECT_EQ(message->EncodedMessage(), "<34>Dec 15 00:00:01  app[0]: hello");
}

TEST(BSDSysLogMessageTest, DefaultMessageHasNoTimeAndSendsTheCurrentOne) {
  const TBSDSysLogMessage message;
  EXPECT_EQ(message.Facility(), TSyslogFacility::sfLocalUseSeven);
  EXPECT_EQ(message.Severity(), TSyslogSeverity::slDebug);
  EXPECT_EQ(message.ProcessID(), 0);
  EXPECT_LT(message.TimeStamp(), 0);
  EXPECT_TRUE(std::regex_match(message.EncodedMessage(),
                               std::regex(R"(<191>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]\d \d\d:\d\d:\d\d  \[0\]: )")))
      << message.EncodedMessage();
}

struct TParseCase {
  const char* Line;
  const char* Host;
  const char* Process;
  int32_t ProcessID;
  const char* Text;
};

TEST(BSDSysLogMessageTest, ParsesEncodedLines) {
  const TParseCase cases[] = {
      {"<34>Mar  7 10:05:09 h1 app[12]: hello", "h1", "app", 12, "hello"},
      {"<34>Mar  7 10:05:09 h1 app: hello world ", "h1", "app", -1, "hello world"},
      {"<34>Mar  7 10:05:09 app: hello", "", "hello", -1, ""},
      {"<34>Mar  7 10:05:09 h1 my-app[x]: a: b", "h1", "my-app", -1, "a: b"},
      {"<34>Mar  7 10:05:09 h1 app no colon", "h1", "app", -1, "no colon"},
      {"<34>Mar  7 10:05:09 h1", "h1", "", -1, ""},
      {"<34>Mar  7 10:05:09", "", "", -1, ""},
      {"<34>Mar  7 10:05:09 h1 [5]: x", "h1", "", 5, "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TBSDSysLogMessage message;
    message.SetEncodedMessage(c.Line);
    EXPECT_EQ(message.Facility(), TSyslogFacility::sfSecurityOne);
    EXPECT_EQ(message.Severity(), TSyslogSeverity::slCritical);
    EXPECT_EQ(message.Host(), c.Host);
    EXPECT_EQ(message.Process(), c.Process);
    EXPECT_EQ(message.ProcessID(), c.ProcessID);
    EXPECT_EQ(message.MessageContent(), c.Text);
    EXPECT_EQ(message.TimeStampString(), "Mar  7 10:05:09");
  }
}

TEST(BSDSysLogMessageTest, EncodedLineRoundTrips) {
  auto message = Sample();
  TBSDSysLogMessage back;
  back.SetEncodedMessage(message->EncodedMessage());
  EXPECT_EQ(back.EncodedMessage(), message->EncodedMessage());
}

TEST(BSDSysLogMessageTest, TwentyNinthOfFebruaryTakesALeapYear) {
  TBSDSysLogMessage message;
  message.SetEncodedMessage("<13>Feb 29 01:02:03 h p: t");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  TUtilities::DecodeDateTime(message.TimeStamp(), year, month, day, hour, minute, second, ms);
  EXPECT_EQ(year % 4, 0);
  EXPECT_EQ(month * 100 + day, 229);
}

TEST(BSDSysLogMessageTest, MalformedLinesFailWithTheirMessage) {
  const struct {
    const char* Line;
    const char* Message;  // empty: a date-time conversion error
  } cases[] = {
      {"<ab>Mar  7 10:05:09 h1 app: x", "Invlaid Priority: ab"},
      {"<-1>Mar  7 10:05:09 h1 app: x", "Invlaid Priority: -1"},
      {"<300>Mar  7 10:05:09 h1 app: x", "Invalid Syslog PRI: 300"},
      {"<34>mar  7 10:05:09 h1 app: x", "Invlaid Month: mar"},
      {"<34>Ma", "Invlaid Month: Ma"},
      {"no bracket", "Invlaid Priority: o bracket"},
      {"", "Invlaid Priority: "},
      {">", "Invlaid Priority: "},
      {"<34>Mar 32 10:05:09 h1 app: x", ""},
      {"<34>Mar  7 1x:05:09 h1 app: x", ""},
      {"<34>Mar", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TBSDSysLogMessage message;
    try {
      message.SetEncodedMessage(c.Line);
      FAIL() << "accepted";
    } catch (const ESyslogError& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    } catch (const EConvertError&) {
      EXPECT_STREQ(c.Message, "");
    }
  }
}

TEST(BSDSysLogMessageTest, NameValueFormRoundTrips) {
  auto message = Sample();
  message->SetDestinationHost("dest|1");
  message->SetDestinationPort(1514);
  message->SetMessageContent("a=b|c\nd\re");
  message->SetProcess("p=q");
  message->SetFraming("\\r\\n");
  message->SetCategory("not carried");
  message->AddSendTo(std::make_unique<TDestinationHost>("n", "h", 1));
  message->SetSendMessageOnly(true);
  const std::string form = message->ToString();
  EXPECT_EQ(form,
            "Type=TXT|DestinationHost=dest\\0x7C1|DestinationPort=1514|Host=h1|Process=p\\0x3Dq|"
            "Text=a\\0x3Db\\0x7Cc\\0x0Ad\\0x0De|ProcessID=42|Facility=4|Severity=2|"
            "TimeStamp=2024-03-07 10:05:09.123|Framing=\\r\\n");
  const TBSDSysLogMessage back(form);
  EXPECT_EQ(back.ToString(), form);
  EXPECT_TRUE(back.SendMessageOnly());
  EXPECT_EQ(back.Category(), "");
  EXPECT_EQ(back.SendToCount(), 0);
  EXPECT_EQ(back.TimeStamp(), message->TimeStamp());
}

TEST(BSDSysLogMessageTest, NameValueFormDefaultsAndTypes) {
  const TBSDSysLogMessage untyped("host=h9|processid=x|TIMESTAMP=2024-02-30 00:00:00.000");
  EXPECT_EQ(untyped.Host(), "h9");
  EXPECT_EQ(untyped.DestinationPort(), 514);
  EXPECT_EQ(untyped.ProcessID(), 0);
  EXPECT_EQ(untyped.Facility(), TSyslogFacility::sfKernel);
  EXPECT_EQ(untyped.Severity(), TSyslogSeverity::slEmergency);
  EXPECT_LT(untyped.TimeStamp(), 0);  // impossible date: not set
  EXPECT_FALSE(untyped.SendMessageOnly());

  const TBSDSysLogMessage garbledTime("Type=BSD|TimeStamp=garbage|Facility=99|DestinationPort=70000");
  EXPECT_LT(garbledTime.TimeStamp(), 0);  // left as it was
  EXPECT_EQ(garbledTime.Facility(), TSyslogFacility::sfLocalUseSeven);
  EXPECT_EQ(garbledTime.DestinationPort(), 514);

  const TBSDSysLogMessage noTime("Type=BSD|Host=x");
  EXPECT_GT(noTime.TimeStamp(), 0);  // the current time

  try {
    const TBSDSysLogMessage wrong("Type=SYS|Host=x");
    FAIL() << "accepted";
  } catch (const ESyslogError& e) {
    EXPECT_STREQ(e.what(), "Invalid Message Type SYS");
  }
  EXPECT_THROW(TBSDSysLogMessage("Type=IETF"), ESyslogError);
}

TEST(BSDSysLogMessageTest, JsonFormsRoundTrip) {
  auto message = Sample();
  message->SetFraming("T");
  message->AddSendTo(std::make_unique<TDestinationHost>("s1", "h2", 514));
  const std::string json = message->AsJSONString();
  EXPECT_EQ(json,
            R"({"type":"BSD","facility":"SecurityOne","severity":"Critical","timeStamp":"2024-03-07 10:05:09.123",)"
            R"("host":"h1","process":"app","processId":42,"text":"hello","framing":"T",)"
            R"("sendTo":[{"name":"s1","host":"h2","port":514}]})");
  TBSDSysLogMessage back;
  back.SetSendMessageOnly(true);
  back.SetAsJSONString(json);
  EXPECT_EQ(back.AsJSONString(), json);
  EXPECT_FALSE(back.SendMessageOnly());

  // Without "sendTo" the list is emptied; "processId" reads through its text.
  back.SetAsJSONString(R"({"type":"TXT","processId":"x"})");
  EXPECT_EQ(back.SendToCount(), 0);
  EXPECT_EQ(back.ProcessID(), 0);
  EXPECT_TRUE(back.SendMessageOnly());
  EXPECT_THROW(back.SetAsJSONString(R"({"sendTo":[1]})"), EJSONTypeError);
  EXPECT_THROW(back.SetAsJSONString(R"({"sendTo":{}})"), EJSONTypeError);
  EXPECT_THROW(back.SetAsJSONString("[]"), EJSONTypeError);

  const test::ScopedTimeZone zone("UTC0");
  EXPECT_EQ(message->AsJSONFileString(),
            R"({"type":"BSD","facility":"SecurityOne","severity":"Critical","timeStamp":"2024-03-07T10:05:09.123Z",)"
            R"("host":"h1","process":"app","processId":42,"text":"hello"})");
  TBSDSysLogMessage file;
  file.SetFraming("kept");
  file.SetAsJSONFileString(message->AsJSONFileString());
  EXPECT_EQ(file.EncodedMessage(), message->EncodedMessage());
  EXPECT_EQ(file.Framing(), "kept");
  file.SetAsJSONFileString(R"({"timeStamp":"not a time"})");
  EXPECT_EQ(file.EncodedMessage(), message->EncodedMessage());
}

TEST(BSDSysLogMessageTest, CopiesAnyMessageButNotItsSendToList) {
  const test::ScopedTimeZone zone("UTC0");
  TIETFSysLogMessage ietf;
  ietf.SetPriority(165);
  ietf.SetTimeStamp(At(2020, 5, 7, 23, 31, 7, 12));
  ietf.SetHost("h1");
  ietf.SetProcess("app");
  ietf.SetProcessID(4242);
  ietf.SetMessageContent("text");
  ietf.SetDestinationHost("d");
  ietf.SetDestinationPort(6514);
  ietf.SetFraming("T");
  ietf.AddSendTo(std::make_unique<TDestinationHost>());
  const TBSDSysLogMessage copy(ietf);
  EXPECT_EQ(copy.EncodedMessage(), "<165>May  7 23:31:07 h1 app[4242]: text");
  EXPECT_EQ(copy.DestinationHost(), "d");
  EXPECT_EQ(copy.DestinationPort(), 6514);
  EXPECT_EQ(copy.Framing(), "T");
  EXPECT_EQ(copy.SendToCount(), 0);

  const auto clone = copy.Clone();
  EXPECT_EQ(clone->ToString(), copy.ToString());
}

}  // namespace
}  // namespace zor
