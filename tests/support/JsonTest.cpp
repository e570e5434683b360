#include "support/Json.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "support/JSONKeyTable.h"

namespace zor {
namespace {

struct TEscapeCase {
  const char* Name;
  std::string Input;  // UTF-8
  std::string Expected;
};

const TEscapeCase EscapeCases[] = {
    {"Empty", "", R"("")"},
    {"PlainAscii", "Hello, World 123 ~", R"("Hello, World 123 ~")"},
    {"Solidus", "a/b", R"("a\/b")"},
    {"QuoteAndBackslash", "\"\\", R"("\"\\")"},
    {"ShortControls", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
    {"OtherControls", std::string("\x00\x01\x1F", 3), R"("\u0000\u0001\u001F")"},
    {"DeleteStaysRaw", "\x7F", "\"\x7F\""},
    {"Latin1UpperHex", "caf\xC3\xA9", R"("caf\u00E9")"},
    {"ThreeByte", "\xE2\x82\xAC", R"("\u20AC")"},
    {"NonBmpSurrogatePair", "\xF0\x9F\x98\x80", R"("\uD83D\uDE00")"},
    {"HighestCodePoint", "\xF4\x8F\xBF\xBF", R"("\uDBFF\uDFFF")"},
    {"InvalidByte", "a\xFF" "b", R"("a\uFFFDb")"},
    {"TruncatedSequence", "\xC3", R"("\uFFFD")"},
    {"OverlongSlash", "\xC0\xAF", R"("\uFFFD\uFFFD")"},
    {"EncodedSurrogate", "\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")"},
    {"BadContinuation", "\xE2\x28\xA1", R"("\uFFFD(\uFFFD")"},
};

class CompactEscapeTest : public testing::TestWithParam<TEscapeCase> {};

TEST_P(CompactEscapeTest, WritesPureAsciiEscapes) {
  const auto& c = GetParam();
  const std::string text = Json::Compact(TJSONValue(c.Input));
  EXPECT_EQ(text, c.Expected);
  for (const char ch : text) EXPECT_LT(static_cast<unsigned char>(ch), 128u);
}

INSTANTIATE_TEST_SUITE_P(Json, CompactEscapeTest, testing::ValuesIn(EscapeCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(JsonCompactTest, KeepsDocumentOrderAndSpellsScalars) {
  const TJSONValue value = Json::Parse(
      R"({ "z" : [1, -2, 1.5, true, false, null, 18446744073709551615], "a" : {}, "m" : [], "k\/" : "v" })");
  EXPECT_EQ(Json::Compact(value), R"({"z":[1,-2,1.5,true,false,null,18446744073709551615],"a":{},"m":[],"k\/":"v"})");
}

TEST(JsonCompactTest, RoundTripsThroughTheParser) {
  const std::string original = "\xC3\xA9 / \"q\" \\ \t \xF0\x9F\x98\x80 \x01";
  const TJSONValue back = Json::Parse(Json::Compact(TJSONValue(original)));
  EXPECT_EQ(back.get<std::string>(), original);
}

TEST(JsonParseTest, ErrorsCarryThePosition) {
  try {
    (void)Json::Parse("{\n  \"a\": tru }");
    FAIL() << "no error";
  } catch (const EJSONError& e) {
    EXPECT_NE(std::string(e.what()).find("line 2, column"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).rfind("Invalid JSON", 0), 0u) << e.what();
  }
  EXPECT_THROW((void)Json::Parse(""), EJSONError);
  EXPECT_THROW((void)Json::Parse("{} x"), EJSONError);
  EXPECT_THROW((void)Json::Parse("\"\xFF\""), EJSONError);  // strings must be UTF-8
  EXPECT_THROW((void)Json::Parse("[1e999]"), EJSONError);    // beyond a double
}

TEST(JsonParseTest, BoundsNestingDepth) {
  const auto nested = [](int ADepth) { return std::string(ADepth, '[') + std::string(ADepth, ']'); };
  EXPECT_NO_THROW((void)Json::Parse(nested(Json::MaxNestingDepth)));
  EXPECT_THROW((void)Json::Parse(nested(Json::MaxNestingDepth + 1)), EJSONError);
  // Unclosed brackets beyond the limit are refused before the parser runs.
  EXPECT_THROW((void)Json::Parse(std::string(1000000, '{')), EJSONError);
  // Brackets inside strings (escaped quotes included) do not count.
  const std::string quoted = "[\"\\\"" + std::string(1000, '[') + "\"]";
  EXPECT_EQ(Json::Parse(quoted).size(), 1u);
}

TEST(JsonParseTest, ParseObjectRefusesOtherTypes) {
  EXPECT_TRUE(Json::ParseObject(R"({"a":1})").is_object());
  EXPECT_THROW((void)Json::ParseObject("[1]"), EJSONTypeError);
  EXPECT_THROW((void)Json::ParseObject("\"x\""), EJSONTypeError);
  EXPECT_THROW((void)Json::ParseObject("not json"), EJSONError);
}

struct TThroughTextCase {
  const char* Json;
  const char* Text;
  int32_t Int32;    // default 77
  uint16_t UInt16;  // default 9
  bool Boolean;
};

TEST(JsonThroughTextTest, ReadsScalarsThroughTheirText) {
  const TThroughTextCase cases[] = {
      {R"("abc")", "abc", 77, 9, false},
      {"514", "514", 514, 514, false},
      {R"("514")", "514", 514, 514, false},
      {"-3", "-3", -3, 9, false},
      {R"("+12")", "+12", 12, 12, false},
      {"1.5", "1.5", 77, 9, false},
      {"1e2", "100.0", 77, 9, false},
      {R"("12x")", "12x", 77, 9, false},
      {R"(" 12")", " 12", 77, 9, false},
      {R"("")", "", 77, 9, false},
      {"70000", "70000", 70000, 9, false},
      {"4294967296", "4294967296", 77, 9, false},
      {"true", "true", 77, 9, true},
      {"false", "false", 77, 9, false},
      {R"("True")", "True", 77, 9, true},
      {R"("tRUE")", "tRUE", 77, 9, true},
      {R"("yes")", "yes", 77, 9, false},
      {"1", "1", 1, 1, false},
      {"null", "null", 77, 9, false},
      {"[1]", "", 77, 9, false},
      {R"({"a":1})", "", 77, 9, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    const TJSONValue value = Json::Parse(c.Json);
    EXPECT_EQ(Json::Text(value), c.Text);
    EXPECT_EQ(Json::ToInteger<int32_t>(value, 77), c.Int32);
    EXPECT_EQ(Json::ToInteger<uint16_t>(value, 9), c.UInt16);
    EXPECT_EQ(Json::ToBoolean(value), c.Boolean);
  }
}

TEST(JsonPrettyTest, LaysOutTheConfigurationFile) {
  const TJSONValue value = Json::Parse(
      R"({"id":-1,"name":"x\/y","interfaces":[{"a":1,"b":[]},{"c":"d"}],"nested":{"k":true},"empty":[]})");
  const std::string expected =
      "{\r\n"
      "  \"id\" : -1,\r\n"
      "  \"name\" : \"x\\/y\",\r\n"
      "  \"interfaces\" : [\r\n"
      "{\r\n"
      "      \"a\" : 1,\r\n"
      "      \"b\" : [\r\n"
      "        ]\r\n"
      "},\r\n"
      "{\r\n"
      "      \"c\" : \"d\"\r\n"
      "}\r\n"
      "    ],\r\n"
      "  \"nested\" : {\r\n"
      "  \"k\" : true\r\n"
      "},\r\n"
      "  \"empty\" : [\r\n"
      "    ]\r\n"
      "}\r\n";
  EXPECT_EQ(Json::PrettyText(value), expected);
  EXPECT_EQ(Json::Parse(expected), value);
  EXPECT_EQ(Json::PrettyText(Json::Parse("{}")), "{\r\n}\r\n");
}

TEST(JsonFindTest, FindsExactKeysOnlyInObjects) {
  const TJSONValue value = Json::Parse(R"({"Key":1,"key":2})");
  ASSERT_NE(Json::Find(value, "key"), nullptr);
  EXPECT_EQ(*Json::Find(value, "key"), 2);
  EXPECT_EQ(Json::Find(value, "KEY"), nullptr);
  EXPECT_EQ(Json::Find(Json::Parse("[1]"), "key"), nullptr);
}

// A small configuration-like class driven by a key table.
class TSample {
 public:
  TSample() { Keys().SetDefaults(*this); }
  static const TJSONKeyTable<TSample>& Keys() {
    static const TJSONKeyTable<TSample> table = [] {
      TJSONKeyTable<TSample> t;
      t.Integer("id", &TSample::FID, -1, -1)
          .String("name", &TSample::FName, "none")
          .Boolean("enabled", &TSample::FEnabled)
          .Integer("port", &TSample::FPort, uint16_t{6200}, uint16_t{8200})
          .ReadWhen([](const TSample& AOwner) { return AOwner.FEnabled; })
          .WriteWhen([](const TSample& AOwner) { return AOwner.FEnabled; })
          .StringProperty("label", &TSample::Label, &TSample::SetLabel)
          .NotCompared();
      return t;
    }();
    return table;
  }
  const std::string& Label() const { return FLabel; }
  void SetLabel(const std::string& AValue) { FLabel = AValue; }

  int32_t FID = 0;
  std::string FName;
  bool FEnabled = true;
  uint16_t FPort = 0;
  std::string FLabel;
};

TEST(JSONKeyTableTest, DrivesDefaultsWritingReadingAndComparison) {
  TSample sample;
  EXPECT_EQ(sample.FID, -1);
  EXPECT_EQ(sample.FName, "none");
  EXPECT_FALSE(sample.FEnabled);
  EXPECT_EQ(sample.FPort, 6200);
  EXPECT_EQ(Json::Compact(*TSample::Keys().ToJSONObject(sample)), R"({"id":-1,"name":"none","enabled":false,"label":""})");

  // Port comes before its condition in the document but is read after it;
  // absent keys keep their values; unreadable integers take their fallback.
  TSample read;
  TSample::Keys().Read(read, Json::Parse(R"({"port":"x","enabled":"TRUE","id":"seven","label":5})"));
  EXPECT_EQ(read.FID, -1);
  EXPECT_EQ(read.FName, "none");
  EXPECT_TRUE(read.FEnabled);
  EXPECT_EQ(read.FPort, 8200);
  EXPECT_EQ(read.FLabel, "5");
  EXPECT_EQ(Json::Compact(*TSample::Keys().ToJSONObject(read)),
            R"({"id":-1,"name":"none","enabled":true,"port":8200,"label":"5"})");

  TSample disabled;
  TSample::Keys().Read(disabled, Json::Parse(R"({"port":1})"));
  EXPECT_EQ(disabled.FPort, 6200);

  TSample other;
  other.FLabel = "not compared";
  EXPECT_TRUE(TSample::Keys().AreEqual(sample, other));
  other.FPort = 1;
  EXPECT_FALSE(TSample::Keys().AreEqual(sample, other));

  EXPECT_THROW(TSample::Keys().Read(read, Json::Parse("[]")), EJSONTypeError);
}

// Every kind of entry, a key that needs escaping, and a first entry that may
// be left out: the direct text must be the tree's compact text.
struct TEveryKind {
  static const TJSONKeyTable<TEveryKind>& Keys() {
    static const TJSONKeyTable<TEveryKind> table = [] {
      TJSONKeyTable<TEveryKind> t;
      t.Boolean("flag", &TEveryKind::FFlag)
          .WriteWhen([](const TEveryKind& AOwner) { return AOwner.FFlag; })
          .Integer("small", &TEveryKind::FSmall, int64_t{0}, int64_t{0})
          .Integer("big", &TEveryKind::FBig, uint64_t{0}, uint64_t{0})
          .IntegerProperty("byte", [](const TEveryKind& AOwner) { return AOwner.FByte; },
                           [](TEveryKind& AOwner, int8_t AValue) { AOwner.FByte = AValue; }, int8_t{0})
          .String("k\u00e9\"y\n", &TEveryKind::FText)
          .StringProperty("same", [](const TEveryKind& AOwner) { return AOwner.FText; },
                          [](TEveryKind& AOwner, const std::string& AValue) { AOwner.FText = AValue; })
          .Custom("tree", [](const TEveryKind& AOwner) { return TJSONValue::array({AOwner.FSmall, AOwner.FText}); }, {})
          .Custom("direct", [](const TEveryKind& AOwner) { return TJSONValue(AOwner.FText + "!"); }, {})
          .TextWith([](const TEveryKind& AOwner, std::string& AOut) { Json::AppendQuoted(AOut, AOwner.FText + "!"); });
      return t;
    }();
    return table;
  }
  bool FFlag = false;
  int64_t FSmall = 0;
  uint64_t FBig = 0;
  int8_t FByte = 0;
  std::string FText;
};

TEST(JSONKeyTableTest, DirectTextIsTheTreesCompactText) {
  const TEveryKind cases[] = {
      {},
      {true, std::numeric_limits<int64_t>::min(), std::numeric_limits<uint64_t>::max(), -128,
       "tab\t quote\" slash/ \x01 \xC3\xA9 \xF0\x9F\x98\x80 bad\xFF"},
      {false, std::numeric_limits<int64_t>::max(), 7, 127, ""},
  };
  for (const TEveryKind& owner : cases) {
    std::string direct = "prefix ";
    TEveryKind::Keys().AppendCompact(owner, direct);
    EXPECT_EQ(direct, "prefix " + Json::Compact(*TEveryKind::Keys().ToJSONObject(owner)));
  }
}

}  // namespace
}  // namespace zor
