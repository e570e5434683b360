#include "syslog/IETFSysLogMessage.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/ScopedTimeZone.h"

namespace zor {
namespace {

using std::chrono::hours;
using std::chrono::minutes;

// PRI 134, UTC 2020-05-07 23:31:07.012, host h1, APP-NAME app, PROCID 4242.
std::unique_ptr<TIETFSysLogMessage> Sample() {
  auto message = std::make_unique<TIETFSysLogMessage>();
  message->SetPriority(134);
  message->SetTimeStamp(TUtilities::EncodeDateTime(2020, 5, 7, 23, 31, 7, 12));
  message->SetHost("h1");
  message->SetProcess("app");
  message->SetProcessID(4242);
  message->SetMessageContent("text");
  return message;
}

TEST(IETFSysLogMessageTest, DefaultMessageEncodesNilValues) {
  const TIETFSysLogMessage message;
  EXPECT_TRUE(std::regex_match(message.EncodedMessage(),
                               std::regex(R"(<191>1 \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z - - - - - )")))
      << message.EncodedMessage();
  EXPECT_EQ(message.ProcessID(), 0);
}

TEST(IETFSysLogMessageTest, EncodesUtcLabelledWithTheOffset) {
  const struct {
    TTimeSpan Offset;
    const char* Line;
  } cases[] = {
      {TTimeSpan(0), "<134>1 2020-05-07T23:31:07.012Z h1 app 4242 - - text"},
      {hours(2), "<134>1 2020-05-08T01:31:07.012+02:00 h1 app 4242 - - text"},
      {-(hours(5) + minutes(30)), "<134>1 2020-05-07T18:01:07.012-05:30 h1 app 4242 - - text"},
      {-minutes(30), "<134>1 2020-05-07T23:01:07.012-00:30 h1 app 4242 - - text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    auto message = Sample();
    message->SetUTCOffset(c.Offset);
    EXPECT_EQ(message->EncodedMessage(), c.Line);
    // Parsing the line gives back the same UTC time and offset.
    TIETFSysLogMessage back;
    back.SetEncodedMessage(c.Line);
    EXPECT_EQ(back.EncodedMessage(), c.Line);
    EXPECT_EQ(back.UTCOffset(), c.Offset);
    EXPECT_EQ(back.TimeStamp(), message->TimeStamp());
  }
}

TEST(IETFSysLogMessageTest, ProcessIdMapsToProcid) {
  TIETFSysLogMessage message;
  message.SetProcessID(0);
  EXPECT_EQ(message.Header().ProcessID(), "-");
  message.SetProcessID(-3);
  EXPECT_EQ(message.Header().ProcessID(), "-");
  message.SetProcessID(4242);
  EXPECT_EQ(message.Header().ProcessID(), "4242");
  message.Header().SetProcessID("abc");
  EXPECT_EQ(message.ProcessID(), 0);
}

TEST(StructuredDataTest, EncodesAndParsesElements) {
  TStructuredData element;
  element.SetID("exampleSDID@32473");
  element.AddDataPair("iut", "3");
  EXPECT_EQ(element.EncodedValue(), R"([exampleSDID@32473 iut="3"])");

  element.AddDataPair("odd", R"(a\b"c]d)");
  EXPECT_EQ(element.EncodedValue(), R"([exampleSDID@32473 iut="3" odd="a\\b\"c\]d"])");
  TStructuredData back;
  back.SetEncodedValue(element.EncodedValue());
  EXPECT_EQ(back, element);

  // Pieces split at blanks: a value with a blank is lost; unquoted values and
  // pieces without "=" are dropped.
  back.SetEncodedValue(R"( [id@x a="1 2" b=3 c "" d="4"] )");
  EXPECT_EQ(back.ID(), "id");
  EXPECT_EQ(back.NameValueList(), R"(d="4")");
  back.SetEncodedValue("not an element");
  EXPECT_EQ(back, TStructuredData());
  back.SetEncodedValue("[\"]");
  EXPECT_EQ(back.Name(), "\"");
  EXPECT_EQ(back.Count(), 0);

  back.SetNameValueList(R"(x="1" y="two")");
  EXPECT_EQ(back.GetParamName(1), "y");
  EXPECT_EQ(back.GetParamValue(1), "two");
  EXPECT_THROW((void)back.GetParamValue(2), ESyslogError);
}

TEST(StructuredDataTest, ListCutsAtUnescapedBoundaries) {
  TStructuredDataList list;
  EXPECT_EQ(list.EncodedData(), "-");
  list.SetEncodedData(R"([a@1 x="1"][b y="2"])");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetStructuredData(0).ID(), "a@1");
  EXPECT_EQ(list.GetStructuredData(1).GetParamValue(0), "2");
  EXPECT_EQ(list.EncodedData(), R"([a@1 x="1"][b y="2"])");

  list.SetEncodedData(R"([a x="p\][q"])");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetStructuredData(0).GetParamValue(0), "p][q");

  const TStructuredDataList copy(list);
  list.GetStructuredData(0).SetName("changed");
  EXPECT_EQ(copy.GetStructuredData(0).Name(), "a");
  EXPECT_THROW((void)list.GetStructuredData(1), ESyslogError);
}

TEST(IETFSysLogMessageTest, ParsesEncodedLines) {
  const struct {
    const char* Line;
    const char* SD;
    const char* Text;
  } cases[] = {
      {R"(<165>1 2003-10-11T22:14:15.003Z mymachine.example.com evntslog - ID47 [exampleSDID@32473 iut="3" eventSource="Application"] An application event)",
       R"([exampleSDID@32473 iut="3" eventSource="Application"])", "An application event"},
      {"<165>1 2003-10-11T22:14:15.003Z host app - ID47 - hello  world ", "-", "hello  world"},
      {"<165>1 2003-10-11T22:14:15.003Z host app - ID47", "-", ""},
      {R"(<165>1 2003-10-11T22:14:15.003Z host app - ID47 [a x="1"])", R"([a x="1"])", ""},
      // The escaped "] " does not end the structured data (the value itself is
      // lost: it holds a blank).
      {R"(<165>1 2003-10-11T22:14:15.003Z host app - ID47 [a x="\] "] t)", "[a]", "t"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TIETFSysLogMessage message;
    message.SetEncodedMessage(c.Line);
    EXPECT_EQ(message.Facility(), TSyslogFacility::sfLocalUseFour);
    EXPECT_EQ(message.Severity(), TSyslogSeverity::slNotice);
    EXPECT_EQ(message.Header().MessageID(), "ID47");
    EXPECT_EQ(message.StructuredData().EncodedData(), c.SD);
    EXPECT_EQ(message.MessageContent(), c.Text);
    EXPECT_EQ(message.TimeStampString(), "2003-10-11T22:14:15.003Z");
  }
}

TEST(IETFSysLogMessageTest, MalformedLinesFail) {
  const char* lines[] = {
      "<165>1 2003-10-11T22:14:15.003Z host app -",
      "<165>",
      "<x>1 2003-10-11T22:14:15.003Z a b c d",
      "<999>1 2003-10-11T22:14:15.003Z a b c d",
      "<165>1 garbage a b c d",
      "<165>1 2003-13-11T22:14:15.003Z a b c d",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    TIETFSysLogMessage message;
    EXPECT_THROW(message.SetEncodedMessage(line), EZorError);
  }
  TIETFSyslogHeader header;
  try {
    header.SetEncodedValue("1 2003-10-11T22:14:15.003Z a b c d e");
    FAIL() << "accepted";
  } catch (const ESyslogError& e) {
    EXPECT_STREQ(e.what(), "Invalid header: 1 2003-10-11T22:14:15.003Z a b c d e");
  }
}

TEST(IETFSysLogMessageTest, NameValueFormRoundTrips) {
  auto message = Sample();
  message->SetDestinationHost("d");
  message->SetDestinationPort(6514);
  message->StructuredData().SetEncodedData(R"([a x="1|2"])");
  message->Header().SetMessageID("m|1");
  message->SetUTCOffset(-(hours(5) + minutes(30)));
  const std::string form = message->ToString();
  EXPECT_EQ(form,
            "Type=IETF|DestinationHost=d|DestinationPort=6514|Host=h1|Process=app|Text=text|ProcessID=4242|"
            "Facility=16|Severity=6|TimeStamp=2020-05-07 23:31:07.012|Offset=-5:30|MessageID=m\\0x7C1|Version=1|"
            "SD=[a x\\0x3D\"1\\0x7C2\"]");
  const TIETFSysLogMessage back(form);
  EXPECT_EQ(back.DestinationPort(), 6514);
  EXPECT_EQ(back.UTCOffset(), TTimeSpan(0));  // the offset is not read back
  EXPECT_EQ(back.TimeStamp(), message->TimeStamp());
  EXPECT_EQ(back.Header().MessageID(), "m|1");
  EXPECT_EQ(back.StructuredData().GetStructuredData(0).GetParamValue(0), "1|2");
  message->SetUTCOffset(TTimeSpan(0));
  EXPECT_EQ(back.EncodedMessage(), message->EncodedMessage());

  for (const char* bad : {"Host=x", "Type=BSD|Host=x", "Type=ietf"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(TIETFSysLogMessage{bad}, ESyslogError);
  }
}

TEST(IETFSysLogMessageTest, JsonFormsAreValidAndRoundTrip) {
  auto message = Sample();
  message->SetUTCOffset(-(hours(5) + minutes(30)));
  message->SetFraming("T");
  message->AddSendTo(std::make_unique<TDestinationHost>("s", "h", 514));
  const std::string json = message->AsJSONString();
  EXPECT_EQ(json,
            R"({"type":"IETF","facility":"LocalUseZero","severity":"Informational","version":1,"messageId":"-",)"
            R"("timeStamp":"2020-05-07 23:31:07.012","offsetHour":-5,"offsetMin":30,"host":"h1","process":"app",)"
            R"("processId":4242,"structuredData":"-","text":"text","framing":"T",)"
            R"("sendTo":[{"name":"s","host":"h","port":514}]})");
  TIETFSysLogMessage back;
  back.SetAsJSONString(json);
  EXPECT_EQ(back.AsJSONString(), json);

  // The NILVALUE PROCID stays valid JSON.
  back.SetProcessID(0);
  EXPECT_EQ(Json::Parse(back.AsJSONString())["processId"], "-");
  back.SetUTCOffset(-minutes(30));
  TIETFSysLogMessage nearZero;
  nearZero.SetAsJSONString(back.AsJSONString());
  EXPECT_EQ(nearZero.UTCOffset(), -minutes(30));
  EXPECT_EQ(nearZero.Header().ProcessID(), "-");

  nearZero.SetAsJSONString(R"({"offsetHour":500,"offsetMin":0})");
  EXPECT_EQ(nearZero.UTCOffset(), -minutes(30));
  EXPECT_EQ(nearZero.SendToCount(), 0);
  try {
    nearZero.SetAsJSONString(R"({"type":"BSD"})");
    FAIL() << "accepted";
  } catch (const ESyslogError& e) {
    EXPECT_STREQ(e.what(), "Invalid Message Type BSD");
  }

  EXPECT_EQ(message->AsJSONFileString(),
            R"({"type":"IETF","facility":"LocalUseZero","severity":"Informational","version":1,"messageId":"-",)"
            R"("timeStamp":"2020-05-07T23:31:07.012Z","host":"h1","process":"app","processId":4242,)"
            R"("structuredData":"-","text":"text"})");
  TIETFSysLogMessage file;
  file.SetAsJSONFileString(message->AsJSONFileString());
  EXPECT_EQ(file.TimeStamp(), message->TimeStamp());
  EXPECT_EQ(file.UTCOffset(), TTimeSpan(0));
  EXPECT_THROW(file.SetAsJSONFileString(R"({"type":"TXT"})"), ESyslogError);
}

TEST(IETFSysLogMessageTest, CopyKeepsDestinationAndIsDeep) {
  auto message = Sample();
  message->SetDestinationHost("d");
  message->SetDestinationPort(6514);
  message->SetFraming("T");
  message->StructuredData().SetEncodedData(R"([a x="1"])");
  message->AddSendTo(std::make_unique<TDestinationHost>());
  const auto copy = message->Clone();
  message->StructuredData().GetStructuredData(0).SetName("b");
  EXPECT_EQ(copy->EncodedMessage(), R"(<134>1 2020-05-07T23:31:07.012Z h1 app 4242 - [a x="1"] text)");
  EXPECT_EQ(copy->DestinationPort(), 6514);
  EXPECT_EQ(copy->Framing(), "T");
  EXPECT_EQ(copy->SendToCount(), 0);
}

TEST(IETFSysLogMessageTest, HeaderFromTextTakesTheClockMinusTheOffset) {
  const test::ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  const TIETFSyslogHeader header("1 2020-05-07T18:01:07.5-05:30 h a p m");
  EXPECT_EQ(header.TimeStamp(), TUtilities::EncodeDateTime(2020, 5, 7, 23, 31, 7, 500));
  EXPECT_EQ(header.EncodedValue(), "1 2020-05-07T18:01:07.500-05:30 h a p m");
}

}  // namespace
}  // namespace zor
