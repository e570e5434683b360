#include "support/Utilities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/ServicePaths.h"
#include "support/TempDir.h"

namespace zor {
namespace {

struct TFields {
  int Year, Month, Day, Hour, Minute, Second, Ms;
};

TFields Decode(TDateTime AValue) {
  TFields f{};
  TUtilities::DecodeDateTime(AValue, f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.Ms);
  return f;
}

void ExpectFields(TDateTime AValue, const TFields& AExpected) {
  const TFields f = Decode(AValue);
  EXPECT_EQ(f.Year, AExpected.Year);
  EXPECT_EQ(f.Month, AExpected.Month);
  EXPECT_EQ(f.Day, AExpected.Day);
  EXPECT_EQ(f.Hour, AExpected.Hour);
  EXPECT_EQ(f.Minute, AExpected.Minute);
  EXPECT_EQ(f.Second, AExpected.Second);
  EXPECT_EQ(f.Ms, AExpected.Ms);
}

// Runs AConvert and checks either the fields or the exact error message.
template <typename TConvert>
void ExpectConversion(TConvert AConvert, const std::string& AInput, const TFields& AExpected,
                      const std::string& AError) {
  SCOPED_TRACE(AInput);
  if (AError.empty()) {
    ExpectFields(AConvert(AInput), AExpected);
    return;
  }
  try {
    (void)AConvert(AInput);
    ADD_FAILURE() << "no error, expected: " << AError;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.what(), AError);
  }
}

TEST(DateTimeModel, SerialNumbersMatchTheDayCountSince18991230) {
  EXPECT_EQ(TUtilities::EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(TUtilities::EncodeDateTime(2024, 3, 5, 0, 0, 0, 0), 45356.0);
  EXPECT_EQ(TUtilities::EncodeDateTime(2024, 3, 5, 18, 0, 0, 0), 45356.75);
  EXPECT_EQ(TUtilities::EncodeDateTime(1970, 1, 1, 0, 0, 0, 0), 25569.0);
  // Before day 0 the fraction still adds the time of day.
  EXPECT_EQ(TUtilities::EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  ExpectFields(-1.25, {1899, 12, 29, 6, 0, 0, 0});
  ExpectFields(-2.0, {1899, 12, 28, 0, 0, 0, 0});
  // Milliseconds survive the double round trip at the end of a day.
  ExpectFields(TUtilities::EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), {9999, 12, 31, 23, 59, 59, 999});
  ExpectFields(TUtilities::EncodeDateTime(2024, 2, 29, 12, 34, 56, 7), {2024, 2, 29, 12, 34, 56, 7});

  EXPECT_EQ(TUtilities::DateTimeToUnixMs(TUtilities::EncodeDateTime(1970, 1, 2, 0, 0, 1, 500)), 86401500);
  ExpectFields(TUtilities::UnixMsToDateTime(-1), {1969, 12, 31, 23, 59, 59, 999});

  // Values outside the model are clamped to its ends, never undefined.
  ExpectFields(1e300, {9999, 12, 31, 23, 59, 59, 999});
  ExpectFields(-1e300, {1, 1, 1, 0, 0, 0, 0});
  ExpectFields(TUtilities::EncodeDateTime(1, 1, 1, 12, 0, 0, 0), {1, 1, 1, 12, 0, 0, 0});
  ExpectFields(std::nan(""), {1899, 12, 30, 0, 0, 0, 0});

  TDateTime unused = 0;
  EXPECT_FALSE(TUtilities::TryEncodeDateTime(2023, 2, 29, 0, 0, 0, 0, unused));
  EXPECT_FALSE(TUtilities::TryEncodeDateTime(2024, 1, 1, 24, 0, 0, 0, unused));
  EXPECT_FALSE(TUtilities::TryEncodeDateTime(0, 1, 1, 0, 0, 0, 0, unused));
}

struct TConversionCase {
  const char* Input;
  TFields Expected;
  const char* Error;  // "" when the conversion succeeds
};

TEST(Iso8601, ConvertIso8601StringToDateTimeReadsTheClockAsWritten) {
  const TConversionCase cases[] = {
      {"2024-03-05T07:08:09.1234567Z", {2024, 3, 5, 7, 8, 9, 123}, ""},
      {"2024-03-05T07:08:09Z", {2024, 3, 5, 7, 8, 9, 0}, ""},
      {"2024-03-05T07:08:09", {2024, 3, 5, 7, 8, 9, 0}, ""},
      // The fraction is not scaled: .5 is 5 milliseconds here.
      {"2024-03-05T07:08:09.5Z", {2024, 3, 5, 7, 8, 9, 5}, ""},
      {"2024-03-05T07:08:09.12Z", {2024, 3, 5, 7, 8, 9, 12}, ""},
      {"2024-03-05T07:08:09.1234Z", {2024, 3, 5, 7, 8, 9, 123}, ""},
      {"2024-03-05T07:08:09.abcZ", {2024, 3, 5, 7, 8, 9, 0}, ""},
      {"2024-03-05T07:08:09.0071234Z", {2024, 3, 5, 7, 8, 9, 7}, ""},
      {"2024-03-05T07:08:09.Z", {2024, 3, 5, 7, 8, 9, 0}, ""},
      {"2024-03-05T07:08:09.12x4Z", {2024, 3, 5, 7, 8, 9, 0}, ""},
      // An offset is ignored.
      {"2024-03-05T07:08:09.123+02:00", {2024, 3, 5, 7, 8, 9, 123}, ""},
      {"2024-03-05 07:08:09Z", {}, "Invalid Iso 8601 DateTime 2024-03-05 07:08:09"},
      {"2024-03-05T07:08:09TZ", {}, "Invalid Iso 8601 DateTime 2024-03-05T07:08:09T"},
      {"2024-AB-05T07:08:09Z", {}, "Invalid Iso 8601 Date Part 2024-AB-05T07:08:09"},
      {"2024-03-05T07:0:09Z", {}, "Invalid Iso 8601 Time Part 2024-03-05T07:0:09"},
      {"2024-13-05T07:08:09Z", {}, "Invalid argument to date encode"},
      {"2024-02-30T07:08:09Z", {}, "Invalid argument to date encode"},
      {"2024-03-05T24:08:09Z", {}, "Invalid argument to time encode"},
      // Text after the seconds is not read.
      {"2024-03-05T07:08:09ZZ", {2024, 3, 5, 7, 8, 9, 0}, ""},
  };
  for (const TConversionCase& c : cases)
    ExpectConversion(TUtilities::ConvertIso8601StringToDateTime, c.Input, c.Expected, c.Error);
}

TEST(Iso8601, ISOTimestampStringToDateTimeScalesTheFraction) {
  const TConversionCase cases[] = {
      {"2024-03-05T07:08:09Z", {2024, 3, 5, 7, 8, 9, 0}, ""},
      {"2024-03-05T07:08:09.5Z", {2024, 3, 5, 7, 8, 9, 500}, ""},
      {"2024-03-05T07:08:09.12Z", {2024, 3, 5, 7, 8, 9, 120}, ""},
      {"2024-03-05T07:08:09.1234Z", {2024, 3, 5, 7, 8, 9, 123}, ""},
      {"2024-03-05T07:08:09.003+02:00", {2024, 3, 5, 7, 8, 9, 3}, ""},
      {"2024-03-05T07:08:09-05:30", {2024, 3, 5, 7, 8, 9, 0}, ""},
      {"2024-03-05T07:08", {}, "'' is not a valid integer value"},
      {"2024-03-05TXX:08:09Z", {}, "'XX' is not a valid integer value"},
  };
  for (const TConversionCase& c : cases)
    ExpectConversion(TUtilities::ISOTimestampStringToDateTime, c.Input, c.Expected, c.Error);
}

TEST(Iso8601, ISOTimestampStringToOffset) {
  using std::chrono::hours;
  using std::chrono::minutes;
  const struct {
    const char* Input;
    TTimeSpan Expected;
  } cases[] = {
      {"2024-03-05T07:08:09Z", TTimeSpan::zero()},
      {"2024-03-05T07:08:09.123Z", TTimeSpan::zero()},
      {"2024-03-05T07:08:09+02:00", hours(2)},
      {"2024-03-05T07:08:09.123456+02:00", hours(2)},
      {"2024-03-05T07:08:09-05:30", -(hours(5) + minutes(30))},
      {"2024-03-05T07:08:09.1-00:30", -minutes(30)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    EXPECT_EQ(TUtilities::ISOTimestampStringToOffset(c.Input), c.Expected);
  }
  EXPECT_THROW((void)TUtilities::ISOTimestampStringToOffset("2024-03-05T07:08:09"), EConvertError);
}

TEST(Iso8601, DateTimeToISOTimestampStringLabelsTheValueWithTheOffset) {
  const TDateTime value = TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12);
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(value), "2024-03-05T07:08:09.012Z");
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(value, TTimeSpan::zero()), "2024-03-05T07:08:09.012Z");
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(value, std::chrono::hours(2)),
            "2024-03-05T07:08:09.012+02:00");
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(value, -std::chrono::minutes(90)),
            "2024-03-05T07:08:09.012-01:30");
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(value, -std::chrono::minutes(30)),
            "2024-03-05T07:08:09.012-00:30");
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(TUtilities::EncodeDateTime(1, 1, 1, 0, 0, 0, 0)),
            "0001-01-01T00:00:00.000Z");
}

TEST(FixedForm, ConvertDateTimeToStringAndBack) {
  const TDateTime value = TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 456);
  EXPECT_EQ(TUtilities::ConvertDateTimeToString(value), "2024-MAR-05 07:08:09");
  EXPECT_EQ(TUtilities::ConvertDateTimeToString(TUtilities::EncodeDateTime(1999, 12, 31, 23, 0, 0, 0)),
            "1999-DEC-31 23:00:00");
  ExpectFields(TUtilities::ConvertDateTimeString("2024-mar-05 07:08:09"), {2024, 3, 5, 7, 8, 9, 0});
  ExpectFields(TUtilities::ConvertDateTimeString("1999-DEC-31 23:00:00"), {1999, 12, 31, 23, 0, 0, 0});
  ExpectConversion(TUtilities::ConvertDateTimeString, "2024-XYZ-05 07:08:09", {}, "Invalid argument to date encode");
}

TEST(Text, CharacterClassesAndExtractAlphaNumericStr) {
  EXPECT_TRUE(TUtilities::IsAlpha('-'));
  EXPECT_FALSE(TUtilities::IsAlpha('_'));
  EXPECT_FALSE(TUtilities::IsAlphaNumeric('['));
  const struct {
    const char* Input;
    const char* Token;
    const char* Rest;
  } cases[] = {
      {"host-1 rest", "host-1", " rest"},
      {"[bracket] x", "", "[bracket] x"},
      {"", "", ""},
      {"app42", "app42", ""},
      {"sshd[42]: text", "sshd", "[42]: text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    std::string value = c.Input;
    EXPECT_EQ(TUtilities::ExtractAlphaNumericStr(value), c.Token);
    EXPECT_EQ(value, c.Rest);
  }
  std::istringstream stream("skip\xC3\xA9t\xC3\xA9");
  stream.seekg(4);
  EXPECT_EQ(TUtilities::StreamToString(stream), "\xC3\xA9t\xC3\xA9");
}

TEST(Text, Utf16RoundTripKeepsSurrogatePairsAndReplacesBadBytes) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, an emoji
  EXPECT_EQ(TUtilities::Utf8ToUtf16(text), (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(TUtilities::Utf16ToUtf8(TUtilities::Utf8ToUtf16(text)), text);
  EXPECT_EQ(TUtilities::Utf8ToUtf16("x\xFFy\xC3"), (std::u16string{u'x', 0xFFFD, u'y', 0xFFFD}));
  // An overlong encoding is not a character.
  EXPECT_EQ(TUtilities::Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(TUtilities::Utf16ToUtf8(std::u16string{0xD800, u'z'}), "\xEF\xBF\xBDz");
}

TEST(Address, ConfigurationServerAddressSplitsIntoBaseAndPort) {
  const struct {
    const char* Input;
    const char* Url;
    int Port;  // -1: the port conversion fails
  } cases[] = {
      {"https://cfg.example:8443", "https://cfg.example", 8443},
      {"cfg.example:8443", "http://cfg.example", 8443},
      {"https://cfg.example", "https://cfg.example", 443},
      {"http://cfg.example", "http://cfg.example", 80},
      {"https://cfg.example/", "https://cfg.example/", 443},
      {"https://cfg.example:8443/", "https://cfg.example", 8443},
      {"cfg.example", "cfg.example", -1},
      {"cfg.example:70000", "http://cfg.example", -1},
      {"https://cfg.example:x", "https://cfg.example", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    EXPECT_EQ(TUtilities::GetURLFromURLString(c.Input), c.Url);
    if (c.Port >= 0) {
      EXPECT_EQ(TUtilities::GetPortFromURLString(c.Input), c.Port);
    } else {
      EXPECT_THROW((void)TUtilities::GetPortFromURLString(c.Input), EConvertError);
    }
  }
}

TEST(Address, DottedQuads) {
  const struct {
    const char* Input;
    bool Valid;
    uint32_t Value;
  } cases[] = {
      {"1.2.3.4", true, 16909060},   {"255.255.255.255", true, 0xFFFFFFFF}, {"0.0.0.0", true, 0},
      {"256.1.1.1", false, 0},       {"1.2.3", false, 0},                   {"1.2.3.4.5", false, 0},
      {"1.2.-3.4", false, 0},        {"1..3.4", false, 0},                  {"a.b.c.d", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(TUtilities::TryDottedQuadToUInt32(c.Input, value), c.Valid);
    EXPECT_EQ(value, c.Valid ? c.Value : 0xDEADBEEF);
    if (c.Valid) {
      EXPECT_EQ(TUtilities::UInt32ToDottedQuad(c.Value), c.Input);
    }
  }
  EXPECT_EQ(TUtilities::DottedQuadToUInt32("1.2.3.4"), 16909060u);
  // Blanks are kept and tolerated by the number conversion; only the low byte counts.
  EXPECT_EQ(TUtilities::DottedQuadToUInt32("10. 0.0.257"), 0x0A000001u);
  try {
    (void)TUtilities::DottedQuadToUInt32("1.2.3");
    ADD_FAILURE();
  } catch (const EInvalidArgument& e) {
    EXPECT_STREQ(e.what(), "Invalid dotted quad address");
  }
  EXPECT_THROW((void)TUtilities::DottedQuadToUInt32("1.2.x.4"), EConvertError);
  EXPECT_EQ(TUtilities::HostToNetworkByteOrder(0x01020304), 0x04030201u);
  EXPECT_EQ(TUtilities::NetworkToHostByteOrder(0x04030201), 0x01020304u);
}

TEST(Integer, StrToUInt32RangeAndDefaults) {
  const struct {
    const char* Input;
    const char* Error;  // "" for success
    uint32_t Value;
  } cases[] = {
      {"0", "", 0},
      {"4294967295", "", 4294967295u},
      {"  42", "", 42},
      {"$FF", "", 255},
      {"4294967296", "\"0x0000000100000000\" is not within range of Cardinal data type", 0},
      {"-1", "\"0xFFFFFFFFFFFFFFFF\" is not within range of Cardinal data type", 0},
      {"a", "'a' is not a valid integer value", 0},
      {"", "'' is not a valid integer value", 0},
      {"12 ", "'12 ' is not a valid integer value", 0},
      {"99999999999999999999", "'99999999999999999999' is not a valid integer value", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    if (*c.Error == '\0') {
      EXPECT_EQ(TUtilities::StrToUInt32(c.Input), c.Value);
      EXPECT_EQ(TUtilities::StrToUInt32Def(c.Input, 7), c.Value);
      continue;
    }
    try {
      (void)TUtilities::StrToUInt32(c.Input);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.Error);
    }
    EXPECT_EQ(TUtilities::StrToUInt32Def(c.Input, 7), 7u);
  }
  EXPECT_EQ(TUtilities::StrToInt64("-9223372036854775808"), INT64_MIN);
  int32_t value = 0;
  EXPECT_FALSE(TUtilities::TryStrToInt("2147483648", value));
}

// Each test runs under its own TZ rules and puts the previous ones back.
class TimeZoneTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("TZ");
    FHadZone = previous != nullptr;
    if (FHadZone) FPrevious = previous;
  }
  void TearDown() override {
    if (FHadZone)
      setenv("TZ", FPrevious.c_str(), 1);
    else
      unsetenv("TZ");
    TUtilities::TimeZoneChanged();
  }
  static void UseZone(const char* ARule) {
    setenv("TZ", ARule, 1);
    TUtilities::TimeZoneChanged();
  }
  static TDateTime At(int AYear, int AMonth, int ADay, int AHour, int AMinute, int AMs = 0) {
    return TUtilities::EncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, 0, AMs);
  }

 private:
  bool FHadZone = false;
  std::string FPrevious;
};

TEST_F(TimeZoneTest, CentralEuropeWithDaylightSaving) {
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  const struct {
    TDateTime Utc;
    TDateTime Local;
  } cases[] = {
      {At(2024, 1, 15, 12, 0, 250), At(2024, 1, 15, 13, 0, 250)},
      {At(2024, 7, 1, 12, 0, 999), At(2024, 7, 1, 14, 0, 999)},
      {At(2024, 3, 31, 0, 59), At(2024, 3, 31, 1, 59)},  // the minute before the change
      {At(2024, 3, 31, 1, 0), At(2024, 3, 31, 3, 0)},    // the change itself
      {At(2024, 12, 31, 23, 30), At(2025, 1, 1, 0, 30)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TUtilities::DateTimeToISOTimestampString(c.Utc));
    TDateTime local = 0;
    ASSERT_TRUE(TUtilities::TryUTCToLocal(c.Utc, local));
    EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(local), TUtilities::DateTimeToISOTimestampString(c.Local));
    TDateTime utc = 0;
    ASSERT_TRUE(TUtilities::TryLocalToUTC(c.Local, utc));
    EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(utc), TUtilities::DateTimeToISOTimestampString(c.Utc));
  }
  // 02:30 on the last Sunday of March does not exist there.
  TDateTime untouched = 123.0;
  EXPECT_FALSE(TUtilities::TryLocalToUTC(At(2024, 3, 31, 2, 30), untouched));
  EXPECT_EQ(untouched, 123.0);
  const auto offset = std::chrono::duration_cast<std::chrono::minutes>(TUtilities::CurrentUTCOffset()).count();
  EXPECT_TRUE(offset == 60 || offset == 120) << offset;
}

TEST_F(TimeZoneTest, IndiaHasAHalfHourOffsetAndNoDaylightSaving) {
  UseZone("IST-5:30");
  TDateTime local = 0;
  ASSERT_TRUE(TUtilities::TryUTCToLocal(At(2024, 7, 1, 20, 0), local));
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(local), "2024-07-02T01:30:00.000Z");
  TDateTime utc = 0;
  ASSERT_TRUE(TUtilities::TryLocalToUTC(At(2024, 3, 31, 2, 30, 5), utc));
  EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(utc), "2024-03-30T21:00:00.005Z");
  EXPECT_EQ(TUtilities::CurrentUTCOffset(), std::chrono::minutes(330));
  // Now and NowUTC differ by the offset (allowing for the clock moving on).
  const double difference = (TUtilities::Now() - TUtilities::NowUTC()) * 24 * 60;
  EXPECT_NEAR(difference, 330.0, 0.5);
}

// Each thread keeps its last conversion of a second: readings of that second
// keep their own milliseconds, and a new zone is used from the next
// conversion on, in both directions and for a reading that does not exist.
TEST_F(TimeZoneTest, KeptConversionsFollowTheZone) {
  const struct {
    const char* Zone;
    int Hour, Minute;  // local time of 2024-03-31 01:30 UTC
    bool GapExists;    // whether 02:30 local on that day exists
  } zones[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 3, 30, false},
      {"IST-5:30", 7, 0, true},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 3, 30, false},
  };
  for (const auto& zone : zones) {
    SCOPED_TRACE(zone.Zone);
    UseZone(zone.Zone);
    for (const int ms : {0, 250, 999}) {
      TDateTime local = 0;
      ASSERT_TRUE(TUtilities::TryUTCToLocal(At(2024, 3, 31, 1, 30, ms), local));
      EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(local),
                TUtilities::DateTimeToISOTimestampString(At(2024, 3, 31, zone.Hour, zone.Minute, ms)));
      TDateTime utc = 0;
      ASSERT_TRUE(TUtilities::TryLocalToUTC(local, utc));
      EXPECT_EQ(TUtilities::DateTimeToISOTimestampString(utc),
                TUtilities::DateTimeToISOTimestampString(At(2024, 3, 31, 1, 30, ms)));
      TDateTime gap = 0;
      EXPECT_EQ(TUtilities::TryLocalToUTC(At(2024, 3, 31, 2, 30, ms), gap), zone.GapExists);
    }
  }
}

TEST_F(TimeZoneTest, FileTimesAreLocalAtTwoSecondResolution) {
  UseZone("IST-5:30");
  test::TempDir dir;
  const std::string file = (dir / "f.txt").string();
  EXPECT_EQ(TUtilities::GetFileSize(file), -1);
  EXPECT_EQ(TUtilities::GetFileCreationTime(file), -1.0);
  EXPECT_EQ(TUtilities::GetFileLastWriteTime(file), -1.0);
  { std::ofstream(file) << ""; }
  EXPECT_EQ(TUtilities::GetFileSize(file), 0);
  { std::ofstream(file) << "12345"; }
  EXPECT_EQ(TUtilities::GetFileSize(file), 5);
  for (const TDateTime time : {TUtilities::GetFileCreationTime(file), TUtilities::GetFileLastWriteTime(file)}) {
    EXPECT_NEAR(time, TUtilities::Now(), 5.0 / 86400);
    EXPECT_EQ(Decode(time).Second % 2, 0);
    EXPECT_EQ(Decode(time).Ms, 0);
  }
}

TEST(SecurityIdentifier, BinaryAndTextForms) {
  const uint8_t system[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  EXPECT_EQ(TUtilities::SIDToStr(system), "S-1-5-18");
  const uint8_t wideAuthority[] = {1, 1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 7, 0, 0, 0};
  EXPECT_EQ(TUtilities::SIDToStr(wideAuthority), "S-1-0x123456789ABC-7");
  const uint8_t noSubAuthority[] = {1, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(TUtilities::SIDToStr(noSubAuthority), "S-1-1");

  const std::vector<std::vector<uint8_t>> invalid = {
      {},
      {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0},           // sub-authority cut short
      {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},        // revision 2
      {1, 16, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0},       // too many sub-authorities
  };
  for (const auto& sid : invalid) {
    try {
      (void)TUtilities::SIDToStr(sid);
      ADD_FAILURE() << "accepted a SID of " << sid.size() << " bytes";
    } catch (const EInvalidSID& e) {
      EXPECT_STREQ(e.what(), "Invalid Security ID Exception");
    }
  }

  std::vector<uint8_t> binary;
  ASSERT_TRUE(TUtilities::StrToSID("S-1-5-21-3623811015-3361044348-30300820-1013", binary));
  EXPECT_EQ(binary.size(), 8u + 4 * 5);
  EXPECT_EQ(TUtilities::SIDToStr(binary), "S-1-5-21-3623811015-3361044348-30300820-1013");
  for (const char* bad : {"", "S-1", "S-2-5-18", "S-1-5-", "S-1-5-x", "X-1-5-18", "S-1-5-4294967296"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(TUtilities::StrToSID(bad, binary));
  }
}

TEST(SecurityIdentifier, WellKnownAccountsResolve) {
  const struct {
    const char* Sid;
    const char* Domain;
    const char* Name;
  } known[] = {
      {"S-1-5-18", "NT AUTHORITY", "SYSTEM"},
      {"S-1-5-19", "NT AUTHORITY", "LOCAL SERVICE"},
      {"S-1-5-20", "NT AUTHORITY", "NETWORK SERVICE"},
      {"S-1-5-32-544", "BUILTIN", "Administrators"},
      {"S-1-1-0", "", "Everyone"},
      {"s-1-5-0x12", "NT AUTHORITY", "SYSTEM"},
  };
  for (const auto& c : known) {
    SCOPED_TRACE(c.Sid);
    TAccountName account;
    ASSERT_TRUE(TUtilities::LookupAccountBySid(c.Sid, account));
    EXPECT_EQ(account.Domain, c.Domain);
    EXPECT_EQ(account.Name, c.Name);
  }
  for (const char* unknown : {"S-1-5-21-1-2-3-500", "S-1-5-18-1", "NT AUTHORITY\\SYSTEM", ""}) {
    SCOPED_TRACE(unknown);
    TAccountName account{"keep", "keep"};
    EXPECT_FALSE(TUtilities::LookupAccountBySid(unknown, account));
    EXPECT_EQ(account.Name, "keep");
  }
}

TEST(Identity, ProcessAndMachine) {
  const std::string machine = TUtilities::GetLocalMachineName();
  EXPECT_FALSE(machine.empty());
  EXPECT_EQ(machine.find('.'), std::string::npos);
  EXPECT_EQ(TUtilities::GetFQDN().rfind(machine, 0), 0u) << TUtilities::GetFQDN();
  std::string user, domain;
  EXPECT_EQ(TUtilities::GetSID(user, domain), "S-1-22-1-" + std::to_string(geteuid()));
  EXPECT_EQ(user, TUtilities::GetLoggedInUserName());
  EXPECT_EQ(domain, machine);

  const std::string guid = TUtilities::GetMachineGUID();
  if (!guid.empty()) {
    ASSERT_EQ(guid.size(), 36u);
    EXPECT_EQ(guid[8], '-');
    EXPECT_EQ(guid[23], '-');
  }
  EXPECT_EQ(TUtilities::GetFullyQualifiedDomainName("127.0.0.1").empty(), false);
  try {
    (void)TUtilities::GetFullyQualifiedDomainName("not an address");
    ADD_FAILURE();
  } catch (const EOSError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("getnameinfo returned erro code ", 0), 0u) << e.what();
  }
}

TEST(Identity, VersionComesFromThisProgramOnly) {
  int32_t major = -1, minor = -1, release = -1, build = -1;
  ASSERT_TRUE(TUtilities::GetVersionInfo(TUtilities::ProgramFileName(), major, minor, release, build));
  EXPECT_EQ(TUtilities::Format("%d.%d.%d", major, minor, release), ZOR_VERSION);
  EXPECT_EQ(build, 0);

  test::TempDir dir;
  const std::string other = (dir / "other").string();
  std::ofstream(other) << "not a program";
  for (const std::string& file : {other, (dir / "missing").string()}) {
    major = minor = release = build = -1;
    EXPECT_FALSE(TUtilities::GetVersionInfo(file, major, minor, release, build));
    EXPECT_EQ(major | minor | release | build, 0);
  }
}

// Runs the body with the given environment variable, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* AName, const std::string& AValue) : FName(AName) {
    const char* previous = std::getenv(AName);
    FHad = previous != nullptr;
    if (FHad) FPrevious = previous;
    setenv(AName, AValue.c_str(), 1);
  }
  ~ScopedEnv() {
    if (FHad)
      setenv(FName, FPrevious.c_str(), 1);
    else
      unsetenv(FName);
  }

 private:
  const char* FName;
  bool FHad = false;
  std::string FPrevious;
};

TEST(Identity, UserFoldersFollowTheEnvironment) {
  EXPECT_EQ(TUtilities::CommonAppDataDir(), ServicePaths().CommonAppDataDir);
  TUtilities::SetCommonAppDataDir("/opt/data/");
  EXPECT_EQ(TUtilities::CommonAppDataDir(), "/opt/data");
  TUtilities::SetCommonAppDataDir("");
  EXPECT_EQ(TUtilities::CommonAppDataDir(), ServicePaths().CommonAppDataDir);
  ScopedEnv home("HOME", "/home/someone");
  ScopedEnv config("XDG_CONFIG_HOME", "");
  EXPECT_EQ(TUtilities::MyDocumentsDir(), "/home/someone");
  EXPECT_EQ(TUtilities::AppDataDir(), "/home/someone/.config");
  ScopedEnv data("XDG_DATA_HOME", "/d");
  EXPECT_EQ(TUtilities::AppDataDirNonRoaming(), "/d");
}

TEST(Identity, FormKeysPersistPerForm) {
  test::TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.Path().string());
  EXPECT_EQ(TUtilities::GetFormKey("Main", "Left"), "");
  EXPECT_EQ(TUtilities::GetIntegerFormKey("Main", "Width"), 0);
  EXPECT_TRUE(TUtilities::SetFormKey("Main", "Left", "ten"));
  EXPECT_TRUE(TUtilities::SetIntegerFormKey("Main", "Width", -640));
  EXPECT_TRUE(TUtilities::SetFormKey("Other", "Left", "five"));
  EXPECT_EQ(TUtilities::GetFormKey("Main", "Left"), "ten");
  EXPECT_EQ(TUtilities::GetIntegerFormKey("Main", "Width"), -640);
  EXPECT_EQ(TUtilities::GetFormKey("Other", "Left"), "five");
  // A value of the other kind reads as missing.
  EXPECT_EQ(TUtilities::GetIntegerFormKey("Main", "Left"), 0);
  EXPECT_EQ(TUtilities::GetFormKey("Main", "Width"), "");

  ScopedEnv unwritable("XDG_CONFIG_HOME", (dir / "file-not-folder").string());
  std::ofstream((dir / "file-not-folder").string()) << "x";
  EXPECT_FALSE(TUtilities::SetFormKey("Main", "Left", "x"));
}

}  // namespace
}  // namespace zor
