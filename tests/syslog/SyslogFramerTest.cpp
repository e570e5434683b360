#include "syslog/SyslogFramer.h"

#include <gtest/gtest.h>

#include <string>


namespace zor {
namespace {

using Transport = TSysLogTransport;
using Delimiter = TSyslogDelimiter;

struct TFrameCase {
  const char* Name;
  TSysLogTransport Transport;
  TSyslogDelimiter Delimiter;
  const char* Framing;
  bool Last;
  bool NoDelimOnLast;
  bool Persistent;
  const char* ForwardHeader;
  const char* ForwardIPList;
  std::string Text;
  std::string Expected;
};

class SyslogFramerTest : public testing::TestWithParam<TFrameCase> {};

TEST_P(SyslogFramerTest, FramesExactBytes) {
  const TFrameCase& c = GetParam();
  const TSyslogFramer framer(
      TSyslogFramer::TOptions{c.Transport, c.Delimiter, c.NoDelimOnLast, c.Persistent, c.ForwardHeader,
                              c.ForwardIPList});
  EXPECT_EQ(framer.Frame(c.Text, c.Framing, c.Last), c.Expected);
  // Framed into a buffer that already holds a message: appended, nothing else
  // touched.
  std::string buffer = "prior\n";
  framer.AppendFrame(buffer, c.Text, c.Framing, c.Last);
  EXPECT_EQ(buffer, "prior\n" + c.Expected);
}

// clang-format off
const TFrameCase FrameCases[] = {
  // name                      transport        delimiter                 framing   last   noDelim persist header ips          text                    expected
  {"UdpBare",                Transport::sltUDP, Delimiter::sdlNewLine,        "",       false, false, false, "",   "",         "hello",                "hello"},
  {"UdpIgnoresOverride",     Transport::sltUDP, Delimiter::sdlNone,           "T",      false, false, false, "",   "",         "hello",                "hello"},
  {"OctetCounting",          Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "hello",                "5 hello"},
  {"CrLf",                   Transport::sltTCP, Delimiter::sdlNewLine,        "",       false, false, false, "",   "",         "hello",                "hello\r\n"},
  {"Lf",                     Transport::sltTLSv1_2, Delimiter::sdlLineFeed,   "",       false, false, false, "",   "",         "hello",                "hello\n"},
  {"Cr",                     Transport::sltTCP, Delimiter::sdlCarriageReturn, "",       false, false, false, "",   "",         "hello",                "hello\r"},
  {"Nul",                    Transport::sltTCP, Delimiter::sdlNull,           "",       false, false, false, "",   "",         "hello",                std::string("hello\0", 6)},
  {"OverrideToOctets",       Transport::sltTCP, Delimiter::sdlNewLine,        "T",      false, false, false, "",   "",         "hello",                "5 hello"},
  {"OverrideToLf",           Transport::sltTCP, Delimiter::sdlNone,           "\\n",    false, false, false, "",   "",         "hello",                "hello\n"},
  {"OverrideToCrLf",         Transport::sltTCP, Delimiter::sdlNone,           "\\r\\n", false, false, false, "",   "",         "hello",                "hello\r\n"},
  {"OverrideToCr",           Transport::sltTCP, Delimiter::sdlLineFeed,       "\\r",    false, false, false, "",   "",         "hello",                "hello\r"},
  {"ControlCharIsNoOverride",Transport::sltTCP, Delimiter::sdlNone,           "\n",     false, false, false, "",   "",         "hello",                "5 hello"},
  {"ForwardHeader",          Transport::sltTCP, Delimiter::sdlLineFeed,       "",       false, false, false, "h",  "10.0.0.1", "hello",                "h 10.0.0.1 hello\n"},
  {"ForwardHeaderOctets",    Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "h",  "10.0.0.1", "hello",                "h 10.0.0.1 5 hello"},
  {"ForwardHeaderUdp",       Transport::sltUDP, Delimiter::sdlNone,           "",       false, false, false, "h",  "",         "hello",                "h  hello"},
  {"BlankForwardHeader",     Transport::sltTCP, Delimiter::sdlLineFeed,       "",       false, false, false, "  ", "10.0.0.1", "hello",                "hello\n"},
  {"NoDelimOnLast",          Transport::sltTCP, Delimiter::sdlLineFeed,       "",       true,  true,  false, "",   "",         "hello",                "hello"},
  {"NoDelimOnLastNotLast",   Transport::sltTCP, Delimiter::sdlLineFeed,       "",       false, true,  false, "",   "",         "hello",                "hello\n"},
  {"NoDelimOnLastPersistent",Transport::sltTCP, Delimiter::sdlLineFeed,       "",       true,  true,  true,  "",   "",         "hello",                "hello\n"},
  {"NoDelimOnLastOctets",    Transport::sltTCP, Delimiter::sdlNone,           "",       true,  true,  false, "",   "",         "hello",                "5 hello"},
  {"Latin1OneByte",          Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "caf\xC3\xA9",          "4 caf\xE9"},
  {"EuroBecomesQuestion",    Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "5 \xE2\x82\xAC",       "3 5 ?"},
  {"AstralIsTwoUnits",       Transport::sltUDP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "a\xF0\x9F\x98\x80" "b","a??b"},
  {"InvalidBytes",           Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "\xFF\xC3" "a\xC0\x80", "5 ??a??"},
  // Runs of ASCII longer than a machine word around characters to convert.
  {"LongMixedOctets",        Transport::sltTCP, Delimiter::sdlNone,           "",       false, false, false, "",   "",         "abcdefghijklmnopq\xC3\xA9rstuvwxyz0123456\xFF", "35 abcdefghijklmnopq\xE9rstuvwxyz0123456?"},
  {"LongMixedLf",            Transport::sltTCP, Delimiter::sdlLineFeed,       "",       false, false, false, "",   "",         "abcdefghijklmnopq\xE2\x82\xAC" "0123456789abcdef\xC3\xA9", "abcdefghijklmnopq?0123456789abcdef\xE9\n"},
  {"HeaderEncodedToo",       Transport::sltUDP, Delimiter::sdlNone,           "",       false, false, false, "\xC3\xA9", "\xE2\x82\xAC", "x",  "\xE9 ? x"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, SyslogFramerTest, testing::ValuesIn(FrameCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace zor
