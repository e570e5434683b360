// Text forms of substitution values, as Windows' renderer writes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evtx/ValueFormat.h"

namespace zor {
namespace {

struct TValueCase {
  const char* Name;
  uint8_t Type;
  std::vector<uint8_t> Bytes;
  const char* Current;
  const char* Legacy;  // nullptr: same as Current
  TXmlContext Context = TXmlContext::xcText;
};

std::vector<uint8_t> Utf16(const std::u16string& AText) {
  std::vector<uint8_t> bytes;
  for (char16_t c : AText) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

const std::vector<TValueCase> Cases = {
    {"Int8", evt::Int8, {0xFB}, "-5", nullptr},
    {"UInt8", evt::UInt8, {0xFF}, "255", nullptr},
    {"Int16", evt::Int16, {0xFE, 0xFF}, "-2", nullptr},
    {"UInt16", evt::UInt16, {0x7C, 0x1B}, "7036", nullptr},
    {"Int32", evt::Int32, {0xFF, 0xFF, 0xFF, 0xFF}, "-1", nullptr},
    {"UInt32", evt::UInt32, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295", nullptr},
    {"Int64", evt::Int64, {0, 0, 0, 0, 0, 0, 0, 0x80}, "-9223372036854775808", nullptr},
    {"UInt64", evt::UInt64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "18446744073709551615", nullptr},
    {"Real32", evt::Real32, {0, 0, 0xC0, 0x3F}, "1.5", nullptr},
    {"Real64", evt::Real64, {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}, "0.1", nullptr},
    {"BooleanIrregular", evt::Boolean, {2, 0, 0, 0}, "true", nullptr},
    {"BooleanFalse", evt::Boolean, {0, 0, 0, 0}, "false", nullptr},
    {"Binary", evt::Binary, {0xD9, 0x06, 0x00, 0x00}, "D9060000", nullptr},
    {"Guid", evt::Guid, {0x25, 0x96, 0x84, 0x54, 0x78, 0x54, 0x94, 0x49, 0xA5, 0xBA, 0x3E, 0x3B, 0x03, 0x28, 0xC3, 0x0D},
     "{54849625-5478-4994-a5ba-3e3b0328c30d}", "{54849625-5478-4994-A5BA-3E3B0328C30D}"},
    {"SizeT32", evt::SizeT, {0xE7, 0x03, 0, 0}, "0x3e7", nullptr},
    {"SizeT64", evt::SizeT, {0, 0, 0, 0, 0, 0, 0x20, 0x80}, "0x8020000000000000", nullptr},
    {"HexInt32Zero", evt::HexInt32, {0, 0, 0, 0}, "0x0", nullptr},
    {"HexInt64", evt::HexInt64, {0, 0, 0, 0, 0, 0, 0x80, 0x00}, "0x80000000000000", nullptr},
    {"FileTime", evt::FileTime, {0x9B, 0xE7, 0x03, 0x67, 0x99, 0x01, 0xCD, 0x01}, "2012-03-14T04:17:43.3545627Z",
     "2012-03-14T04:17:43.354562700Z"},
    {"FileTimeLeapDay", evt::FileTime, {0xFF, 0xBF, 0x52, 0x67, 0x6B, 0x6B, 0xDA, 0x01},
     "2024-02-29T23:59:59.9999999Z", "2024-02-29T23:59:59.999999900Z"},
    {"FileTimeZero", evt::FileTime, {0, 0, 0, 0, 0, 0, 0, 0}, "1601-01-01T00:00:00.0000000Z",
     "1601-01-01T00:00:00.000000000Z"},
    {"SystemTime", evt::SysTime, {0xE8, 0x07, 2, 0, 4, 0, 29, 0, 13, 0, 5, 0, 9, 0, 123, 0},
     "2024-02-29T13:05:09.1230000Z", "2024-02-29T13:05:09.123000000Z"},
    {"Sid", evt::Sid, {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, "S-1-5-18", nullptr},
    {"SidDomain", evt::Sid, {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xF4, 1, 0, 0},
     "S-1-5-21-1-2-3-500", nullptr},
    {"SidLargeAuthority", evt::Sid, {1, 0, 1, 2, 3, 4, 5, 6}, "S-1-0x010203040506", nullptr},
    {"SidTooShort", evt::Sid, {1, 2, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, "010200000000000512000000", nullptr},
    {"SizeMismatch", evt::UInt32, {1, 2}, "0102", nullptr},
    {"StringCutAtNul", evt::String, Utf16(u"ab\0cd"), "ab", nullptr},
    {"StringEscapedInText", evt::String, Utf16(u"a<b>&'\"\r\n"), "a&lt;b&gt;&amp;'\"\r\n", nullptr},
    {"StringEscapedInAttribute", evt::String, Utf16(u"a<b>&'\""), "a&lt;b&gt;&amp;&apos;&quot;", nullptr,
     TXmlContext::xcAttribute},
    {"StringSurrogatePair", evt::String, Utf16(u"\U0001F600\u00e9"), "\xF0\x9F\x98\x80\xC3\xA9", nullptr},
    {"StringLoneSurrogate", evt::String, {0x00, 0xD8, 0x41, 0x00}, "\xEF\xBF\xBD" "A", nullptr},
    {"AnsiWindows1252", evt::AnsiString, {0x80, 'A', 0xE9, '&', 0, 'x'}, "\xE2\x82\xAC" "A\xC3\xA9&amp;", nullptr},
};

class ValueFormatTest : public testing::TestWithParam<TValueCase> {};

TEST_P(ValueFormatTest, RendersAsWindows) {
  const TValueCase& c = GetParam();
  for (const auto profile : {TEvtxRenderProfile::erpCurrent, TEvtxRenderProfile::erpLegacy}) {
    TOutBuffer out;
    out.Append("<");
    AppendScalar(out, c.Type, c.Bytes.data(), c.Bytes.size(), c.Context, profile);
    const char* expected = profile == TEvtxRenderProfile::erpLegacy && c.Legacy ? c.Legacy : c.Current;
    EXPECT_EQ(out.View(), "<" + std::string(expected)) << (profile == TEvtxRenderProfile::erpLegacy ? "legacy" : "current");
  }
}

// Long text goes through a faster path while it is plain ASCII: each kind of
// character that is not, at every place of a text longer than two steps of
// that path (and the text cut by a NUL there), comes out as it does alone.
TEST(ValueFormatTest, LongTextRendersEveryCharacterWhereverItStands) {
  struct TCase {
    const char* Name;
    std::u16string Unit;
    const char* Text;       // in text
    const char* Attribute;  // in an attribute
  } cases[] = {
      {"ampersand", u"&", "&amp;", "&amp;"},         {"less", u"<", "&lt;", "&lt;"},
      {"greater", u">", "&gt;", "&gt;"},             {"apostrophe", u"'", "'", "&apos;"},
      {"quote", u"\"", "\"", "&quot;"},              {"two bytes", u"\u00e9", "\xC3\xA9", "\xC3\xA9"},
      {"three bytes", u"\u20AC", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"lone surrogate", std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"NUL", std::u16string(1, u'\0'), nullptr, nullptr},
  };
  constexpr size_t Length = 40;
  for (const TCase& c : cases) {
    for (size_t at = 0; at + c.Unit.size() <= Length; ++at) {
      SCOPED_TRACE(std::string(c.Name) + " at " + std::to_string(at));
      const std::u16string text =
          std::u16string(at, u'a') + c.Unit + std::u16string(Length - at - c.Unit.size(), u'b');
      const std::vector<uint8_t> bytes = Utf16(text);
      for (const TXmlContext context : {TXmlContext::xcText, TXmlContext::xcAttribute}) {
        const char* unit = context == TXmlContext::xcText ? c.Text : c.Attribute;
        const std::string expected = std::string(at, 'a') +
                                     (unit ? unit + std::string(Length - at - c.Unit.size(), 'b') : std::string());
        TOutBuffer out;
        AppendUtf16(out, bytes.data(), text.size(), context);
        EXPECT_EQ(out.View(), expected);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Values, ValueFormatTest, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TValueCase>& AInfo) { return std::string(AInfo.param.Name); });

}  // namespace
}  // namespace zor
