#include "evtx/ValueFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "evtx/ByteCursor.h"
#include "support/CivilDate.h"

namespace zor {

namespace {

// Escape class of each ASCII character, one table per context: 0 means copy
// the character; otherwise the index into Escapes.
struct TEscapeTables {
  std::array<uint8_t, 128> Text{};
  std::array<uint8_t, 128> Attribute{};
  constexpr TEscapeTables() {
    Text['&'] = Attribute['&'] = 1;
    Text['<'] = Attribute['<'] = 2;
    Text['>'] = Attribute['>'] = 3;
    Attribute['\''] = 4;
    Attribute['"'] = 5;
  }
};
constexpr TEscapeTables EscapeTables;
constexpr std::string_view Escapes[] = {"", "&amp;", "&lt;", "&gt;", "&apos;", "&quot;"};
constexpr size_t MaxEscape = 6;

// Windows-1252 code points of bytes 0x80-0x9F (the rest of the page is Latin-1).
constexpr uint16_t Cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline const std::array<uint8_t, 128>& TableFor(TXmlContext AContext) {
  return AContext == TXmlContext::xcAttribute ? EscapeTables.Attribute : EscapeTables.Text;
}

inline char* PutAscii(char* p, unsigned c, const std::array<uint8_t, 128>& ATable) {
  const uint8_t e = ATable[c];
  if (!e) {
    *p++ = static_cast<char>(c);
    return p;
  }
  const std::string_view s = Escapes[e];
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

inline char* PutCodePoint(char* p, uint32_t c) {
  if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | (c >> 6));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (c >> 12));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (c >> 18));
    *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return p;
}

// When the sixteen UTF-16 units at AData are all plain (ASCII, not NUL, none
// of the characters any context escapes), writes them to AOut as sixteen
// bytes and returns true; otherwise writes nothing and returns false.
#if defined(__SSE2__)
inline bool PlainBlock(const uint8_t* AData, char* AOut) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AData));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AData + 16));
  // A unit of 0x80 or more has a bit of 0xFF80 set.
  const __m128i wide = _mm_and_si128(_mm_or_si128(low, high), _mm_set1_epi16(static_cast<short>(0xFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(wide, _mm_setzero_si128())) != 0xFFFF) return false;
  const __m128i bytes = _mm_packus_epi16(low, high);
  __m128i special = _mm_cmpeq_epi8(bytes, _mm_setzero_si128());
  for (const char c : {'&', '<', '>', '\'', '"'})
    special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
  if (_mm_movemask_epi8(special) != 0) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut), bytes);
  return true;
}
#endif

template <bool Escape>
void Utf16ToUtf8(TOutBuffer& AOut, const uint8_t* AData, size_t AUnits, const std::array<uint8_t, 128>& ATable) {
  char* p = AOut.Reserve(AUnits * MaxEscape);
  size_t i = 0;
  while (i < AUnits) {
    // Most text is plain ASCII: sixteen units a step while it lasts, one at a
    // time through a block that holds anything else.
#if defined(__SSE2__)
    if (AUnits - i >= 16 && PlainBlock(AData + 2 * i, p)) {
      p += 16;
      i += 16;
      continue;
    }
#endif
    for (const size_t stop = std::min(AUnits, i + 16); i < stop; ++i) {
      const uint32_t u = LoadU16(AData + 2 * i);
      if (u < 0x80) {
        if (u == 0) {
          AOut.Commit(p);
          return;
        }
        if constexpr (Escape) {
          p = PutAscii(p, u, ATable);
        } else {
          *p++ = static_cast<char>(u);
        }
      } else if (u < 0xD800 || u > 0xDFFF) {
        p = PutCodePoint(p, u);
      } else if (u < 0xDC00 && i + 1 < AUnits) {
        const uint32_t low = LoadU16(AData + 2 * (i + 1));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          p = PutCodePoint(p, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
          ++i;
        } else {
          p = PutCodePoint(p, 0xFFFD);
        }
      } else {
        p = PutCodePoint(p, 0xFFFD);
      }
    }
  }
  AOut.Commit(p);
}

constexpr char HexLower[] = "0123456789abcdef";
constexpr char HexUpper[] = "0123456789ABCDEF";

void AppendHexBytes(TOutBuffer& AOut, const uint8_t* AData, size_t ASize) {
  char* p = AOut.Reserve(ASize * 2);
  for (size_t i = 0; i < ASize; ++i) {
    *p++ = HexUpper[AData[i] >> 4];
    *p++ = HexUpper[AData[i] & 0xF];
  }
  AOut.Commit(p);
}

template <typename T>
void AppendNumber(TOutBuffer& AOut, T AValue) {
  char* p = AOut.Reserve(32);
  AOut.Commit(std::to_chars(p, p + 32, AValue).ptr);
}

void AppendHexInt(TOutBuffer& AOut, uint64_t AValue) {
  char* p = AOut.Reserve(18);
  *p++ = '0';
  *p++ = 'x';
  AOut.Commit(std::to_chars(p, p + 16, AValue, 16).ptr);
}

// Fixed-width decimal with leading zeros.
inline char* PutDigits(char* p, uint32_t AValue, int AWidth) {
  for (int i = AWidth - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + AValue % 10);
    AValue /= 10;
  }
  return p + AWidth;
}

// Year of at least four digits (FILETIME reaches year 58000 and beyond).
inline char* PutYear(char* p, uint32_t AYear) {
  if (AYear < 10000) return PutDigits(p, AYear, 4);
  return std::to_chars(p, p + 8, AYear).ptr;
}

void AppendDateTime(TOutBuffer& AOut, uint32_t AYear, uint32_t AMonth, uint32_t ADay, uint32_t AHour,
                    uint32_t AMinute, uint32_t ASecond, uint32_t AFraction7, TEvtxRenderProfile AProfile) {
  char* p = AOut.Reserve(48);
  p = PutYear(p, AYear);
  *p++ = '-';
  p = PutDigits(p, AMonth, 2);
  *p++ = '-';
  p = PutDigits(p, ADay, 2);
  *p++ = 'T';
  p = PutDigits(p, AHour, 2);
  *p++ = ':';
  p = PutDigits(p, AMinute, 2);
  *p++ = ':';
  p = PutDigits(p, ASecond, 2);
  *p++ = '.';
  p = PutDigits(p, AFraction7, 7);
  if (AProfile == TEvtxRenderProfile::erpLegacy) {
    *p++ = '0';
    *p++ = '0';
  }
  *p++ = 'Z';
  AOut.Commit(p);
}

void AppendGuid(TOutBuffer& AOut, const uint8_t* AData, TEvtxRenderProfile AProfile) {
  const char* hex = AProfile == TEvtxRenderProfile::erpLegacy ? HexUpper : HexLower;
  // Byte order of the text: Data1, Data2, Data3 little-endian, then 8 bytes as stored.
  static constexpr int Order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  char* p = AOut.Reserve(38);
  *p++ = '{';
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    const uint8_t b = AData[Order[i]];
    *p++ = hex[b >> 4];
    *p++ = hex[b & 0xF];
  }
  *p++ = '}';
  AOut.Commit(p);
}

bool AppendSid(TOutBuffer& AOut, const uint8_t* AData, size_t ASize) {
  if (ASize < 8) return false;
  const unsigned count = AData[1];
  if (ASize < 8 + 4 * static_cast<size_t>(count)) return false;
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | AData[i];
  char* p = AOut.Reserve(32 + 11 * count);
  *p++ = 'S';
  *p++ = '-';
  p = std::to_chars(p, p + 4, AData[0]).ptr;
  *p++ = '-';
  if (authority < (uint64_t{1} << 32)) {
    p = std::to_chars(p, p + 20, authority).ptr;
  } else {
    *p++ = '0';
    *p++ = 'x';
    for (int i = 2; i < 8; ++i) {
      *p++ = HexUpper[AData[i] >> 4];
      *p++ = HexUpper[AData[i] & 0xF];
    }
  }
  for (unsigned i = 0; i < count; ++i) {
    *p++ = '-';
    p = std::to_chars(p, p + 10, LoadU32(AData + 8 + 4 * i)).ptr;
  }
  AOut.Commit(p);
  return true;
}

}  // namespace

void AppendUtf16(TOutBuffer& AOut, const uint8_t* AData, size_t AUnits, TXmlContext AContext) {
  Utf16ToUtf8<true>(AOut, AData, AUnits, TableFor(AContext));
}

void AppendUtf16Raw(TOutBuffer& AOut, const uint8_t* AData, size_t AUnits) {
  Utf16ToUtf8<false>(AOut, AData, AUnits, EscapeTables.Text);
}

void AppendAnsi(TOutBuffer& AOut, const uint8_t* AData, size_t ASize, TXmlContext AContext) {
  const auto& table = TableFor(AContext);
  char* p = AOut.Reserve(ASize * MaxEscape);
  for (size_t i = 0; i < ASize; ++i) {
    const uint8_t c = AData[i];
    if (c < 0x80) {
      if (c == 0) break;
      p = PutAscii(p, c, table);
    } else {
      p = PutCodePoint(p, c < 0xA0 ? Cp1252High[c - 0x80] : c);
    }
  }
  AOut.Commit(p);
}

void AppendFileTime(TOutBuffer& AOut, uint64_t AFileTime, TEvtxRenderProfile AProfile) {
  const uint64_t seconds = AFileTime / 10000000;
  const auto fraction = static_cast<uint32_t>(AFileTime % 10000000);
  const auto secondOfDay = static_cast<uint32_t>(seconds % 86400);
  // 1601-01-01 is day -134774 of the Unix epoch.
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(static_cast<int64_t>(seconds / 86400) - 134774, year, month, day);
  AppendDateTime(AOut, static_cast<uint32_t>(year), static_cast<uint32_t>(month), static_cast<uint32_t>(day), secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, fraction,
                 AProfile);
}

size_t FixedValueSize(uint8_t AType) {
  switch (AType) {
    case evt::Int8:
    case evt::UInt8:
      return 1;
    case evt::Int16:
    case evt::UInt16:
      return 2;
    case evt::Int32:
    case evt::UInt32:
    case evt::Real32:
    case evt::Boolean:
    case evt::HexInt32:
      return 4;
    case evt::Int64:
    case evt::UInt64:
    case evt::Real64:
    case evt::FileTime:
    case evt::HexInt64:
      return 8;
    case evt::Guid:
    case evt::SysTime:
      return 16;
    default:
      return 0;
  }
}

void AppendScalar(TOutBuffer& AOut, uint8_t AType, const uint8_t* AData, size_t ASize, TXmlContext AContext,
                  TEvtxRenderProfile AProfile) {
  switch (AType) {
    case evt::String:
      AppendUtf16(AOut, AData, ASize / 2, AContext);
      return;
    case evt::AnsiString:
      AppendAnsi(AOut, AData, ASize, AContext);
      return;
    case evt::Binary:
      AppendHexBytes(AOut, AData, ASize);
      return;
    case evt::Sid:
      if (!AppendSid(AOut, AData, ASize)) AppendHexBytes(AOut, AData, ASize);
      return;
    case evt::SizeT:
      if (ASize == 4) {
        AppendHexInt(AOut, LoadU32(AData));
      } else if (ASize == 8) {
        AppendHexInt(AOut, LoadU64(AData));
      } else {
        AppendHexBytes(AOut, AData, ASize);
      }
      return;
    case evt::Boolean: {
      bool set = false;
      for (size_t i = 0; i < ASize; ++i) set = set || AData[i] != 0;
      AOut.Append(set ? std::string_view("true") : std::string_view("false"));
      return;
    }
    default:
      break;
  }
  if (ASize != FixedValueSize(AType)) {
    AppendHexBytes(AOut, AData, ASize);
    return;
  }
  switch (AType) {
    case evt::Int8:
      AppendNumber(AOut, static_cast<int8_t>(AData[0]));
      return;
    case evt::UInt8:
      AppendNumber(AOut, AData[0]);
      return;
    case evt::Int16:
      AppendNumber(AOut, static_cast<int16_t>(LoadU16(AData)));
      return;
    case evt::UInt16:
      AppendNumber(AOut, LoadU16(AData));
      return;
    case evt::Int32:
      AppendNumber(AOut, static_cast<int32_t>(LoadU32(AData)));
      return;
    case evt::UInt32:
      AppendNumber(AOut, LoadU32(AData));
      return;
    case evt::Int64:
      AppendNumber(AOut, static_cast<int64_t>(LoadU64(AData)));
      return;
    case evt::UInt64:
      AppendNumber(AOut, LoadU64(AData));
      return;
    case evt::Real32: {
      float f;
      std::memcpy(&f, AData, 4);
      AppendNumber(AOut, f);
      return;
    }
    case evt::Real64: {
      double d;
      std::memcpy(&d, AData, 8);
      AppendNumber(AOut, d);
      return;
    }
    case evt::Guid:
      AppendGuid(AOut, AData, AProfile);
      return;
    case evt::FileTime:
      AppendFileTime(AOut, LoadU64(AData), AProfile);
      return;
    case evt::SysTime: {
      // year, month, day of week, day, hour, minute, second, milliseconds
      uint16_t f[8];
      std::memcpy(f, AData, 16);
      AppendDateTime(AOut, f[0], f[1], f[3], f[4], f[5], f[6], static_cast<uint32_t>(f[7]) * 10000, AProfile);
      return;
    }
    case evt::HexInt32:
      AppendHexInt(AOut, LoadU32(AData));
      return;
    case evt::HexInt64:
      AppendHexInt(AOut, LoadU64(AData));
      return;
    default:
      // Types that never occur in files (handles, EvtXml) or are unknown.
      AppendHexBytes(AOut, AData, ASize);
      return;
  }
}

}  // namespace zor
