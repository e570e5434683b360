#include "collection/EventXml.h"

#include <array>
#include <cstring>
#include <limits>

namespace zor::eventxml {

namespace {

std::string Quoted(std::string_view AText) {
  // Bound the text in messages: an event may carry a megabyte in one element.
  constexpr size_t MaxShown = 64;
  std::string result = "'";
  result.append(AText.substr(0, MaxShown));
  if (AText.size() > MaxShown) result.append("...");
  result.append("'");
  return result;
}

// Plain decimal digits, the form every number of a rendered event takes, are
// converted here without a temporary string; any other text goes through the
// system's conversion, which gives the same value for plain digits.
bool TryPlainDigits(std::string_view AText, int64_t AMax, int64_t& AValue) {
  // 18 digits always fit in 64 bits.
  if (AText.empty() || AText.size() > 18) return false;
  int64_t value = 0;
  for (const char c : AText) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > AMax) return false;
  AValue = value;
  return true;
}

bool TryInt32(std::string_view AText, int32_t& AValue) {
  int64_t value = 0;
  if (TryPlainDigits(AText, std::numeric_limits<int32_t>::max(), value)) {
    AValue = static_cast<int32_t>(value);
    return true;
  }
  return TUtilities::TryStrToInt(std::string(AText), AValue);
}

bool TryInt64(std::string_view AText, int64_t& AValue) {
  return TryPlainDigits(AText, std::numeric_limits<int64_t>::max(), AValue) ||
         TUtilities::TryStrToInt64(std::string(AText), AValue);
}

[[noreturn]] void ThrowNotAnInteger(std::string_view AText, const char* AWhat) {
  throw EConvertError(std::string(AWhat) + ": " + Quoted(AText) + " is not a valid integer value");
}

}  // namespace

int32_t ToInt32(std::string_view AText, const char* AWhat) {
  int32_t value = 0;
  if (!TryInt32(AText, value)) ThrowNotAnInteger(AText, AWhat);
  return value;
}

int64_t ToInt64(std::string_view AText, const char* AWhat) {
  int64_t value = 0;
  if (!TryInt64(AText, value)) ThrowNotAnInteger(AText, AWhat);
  return value;
}

int32_t ToInt32OrMinusOne(std::string_view AText) {
  int32_t value = 0;
  return TryInt32(AText, value) ? value : -1;
}

int64_t ToInt64OrMinusOne(std::string_view AText) {
  int64_t value = 0;
  return TryInt64(AText, value) ? value : -1;
}

std::string WithoutFirstAndLast(std::string_view AText) {
  if (AText.size() < 2) return std::string();
  return std::string(AText.substr(1, AText.size() - 2));
}

namespace {

constexpr bool IsBlankChar(char AChar) { return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n'; }

// Name characters: 1 may start a name (ASCII letters, "_", ":"), 2 may follow (also digits, "-", ".").
constexpr std::array<uint8_t, 256> NameChars = [] {
  std::array<uint8_t, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[static_cast<size_t>(c)] = 1;
  for (int c = 'A'; c <= 'Z'; ++c) table[static_cast<size_t>(c)] = 1;
  table['_'] = table[':'] = 1;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] = 2;
  table['-'] = table['.'] = 2;
  return table;
}();

// The plain-XML reader of ClosesEvent: a cursor over the tail that only
// moves forward. Runs of text and values are found with memchr: most of a
// tail is their bytes.
class TTailReader {
 public:
  explicit TTailReader(std::string_view AText) : FAt(AText.data()), FEnd(AText.data() + AText.size()) {}

  bool Read() {
    // An empty tail closes nothing (and its pointer may be null, which memchr
    // must not see). A NUL ends the parser's input.
    if (FAt == FEnd || std::memchr(FAt, '\0', static_cast<size_t>(FEnd - FAt)) != nullptr) return false;
    constexpr size_t MaxDepth = 64;
    std::string_view open[MaxDepth];
    size_t depth = 0;
    for (;;) {
      // Text up to the next tag.
      const char* tag = Find(FAt, '<');
      if (tag == nullptr) return false;
      FAt = tag + 1;
      if (Next() == '/') {
        ++FAt;
        const std::string_view name = Name();
        SkipBlanks();
        if (Next() != '>') return false;
        ++FAt;
        if (depth == 0) {
          if (name != "Event") return false;
          SkipBlanks();
          return FAt == FEnd;
        }
        if (name != open[--depth]) return false;
        continue;
      }
      const std::string_view name = Name();
      if (name.empty() || !Attributes()) return false;
      if (Next() == '/') {
        ++FAt;
        if (Next() != '>') return false;
        ++FAt;
        continue;
      }
      ++FAt;  // '>'
      if (depth == MaxDepth) return false;
      open[depth++] = name;
    }
  }

 private:
  // The first AChar from AFrom on, before ALimit (the end when null), or null.
  // Most runs of text and values are short: a plain loop finds their end
  // sooner than a call, memchr takes over beyond that.
  const char* Find(const char* AFrom, char AChar, const char* ALimit = nullptr) const {
    const char* const limit = ALimit ? ALimit : FEnd;
    const char* const quickEnd = limit - AFrom > 32 ? AFrom + 32 : limit;
    for (const char* p = AFrom; p < quickEnd; ++p)
      if (*p == AChar) return p;
    if (quickEnd == limit) return nullptr;
    return static_cast<const char*>(std::memchr(quickEnd, AChar, static_cast<size_t>(limit - quickEnd)));
  }
  // The next character; NUL at the end (the text holds none).
  char Next() const { return FAt < FEnd ? *FAt : '\0'; }
  void SkipBlanks() {
    while (IsBlankChar(Next())) ++FAt;
  }
  // A name of ASCII letters, digits and "_:-." that starts with a letter, "_" or ":"; empty when none.
  std::string_view Name() {
    const char* const start = FAt;
    if (NameChars[static_cast<uint8_t>(Next())] != 1) return {};
    while (NameChars[static_cast<uint8_t>(Next())] != 0) ++FAt;
    return std::string_view(start, static_cast<size_t>(FAt - start));
  }
  // Blank-separated Name='value' pairs up to "/" or ">", where it stops.
  bool Attributes() {
    for (;;) {
      const bool blank = IsBlankChar(Next());
      SkipBlanks();
      const char next = Next();
      if (next == '/' || next == '>') return true;
      if (!blank || Name().empty() || Next() != '=') return false;
      ++FAt;
      const char quote = Next();
      if (quote != '\'' && quote != '"') return false;
      ++FAt;
      const char* end = Find(FAt, quote);
      if (end == nullptr || Find(FAt, '<', end) != nullptr) return false;
      FAt = end + 1;
    }
  }

  const char* FAt;
  const char* const FEnd;
};

}  // namespace

bool ClosesEvent(std::string_view ATail) { return TTailReader(ATail).Read(); }

void ParseDocument(pugi::xml_document& ADocument, const std::string& AText) {
  const pugi::xml_parse_result result =
      ADocument.load_buffer(AText.data(), AText.size(), ParseOptions, pugi::encoding_utf8);
  CheckParseResult(result);
}

void CheckParseResult(const pugi::xml_parse_result& AResult) {
  if (!AResult)
    throw EEventLogError(std::string("Invalid event XML: ") + AResult.description() + " at offset " +
                         std::to_string(AResult.offset));
}

}  // namespace zor::eventxml
