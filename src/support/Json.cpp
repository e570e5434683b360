#include "support/Json.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace zor::Json {

namespace {

// Finds the first place where arrays and objects nest deeper than
// MaxNestingDepth, skipping string contents. Returns the byte offset of the
// bracket that goes too deep, or npos. Malformed text is left to the parser.
size_t FindTooDeep(std::string_view AText) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > MaxNestingDepth) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::string_view::npos;
}

void LineAndColumn(std::string_view AText, size_t AOffset, size_t& ALine, size_t& AColumn) {
  ALine = 1;
  AColumn = 1;
  for (size_t i = 0; i < AOffset && i < AText.size(); ++i) {
    if (AText[i] == '\n') {
      ++ALine;
      AColumn = 1;
    } else {
      ++AColumn;
    }
  }
}

// The library's message without its "[json.exception.parse_error.101] parse
// error " prefix, so ours reads "Invalid JSON at line 1, column 5: ...".
std::string ParseErrorDetail(const std::string& AWhat) {
  static constexpr std::string_view Marker = "parse error ";
  const size_t at = AWhat.find(Marker);
  return at == std::string::npos ? AWhat : AWhat.substr(at + Marker.size());
}

// What a character of a JSON string becomes in compact text.
enum : uint8_t {
  ctPlain = 0,    // written as it is
  ctShort = 1,    // a two-character escape (\b, \t, \n, \f, \r, \", \/, \\)
  ctUnicode = 2,  // \u00XX
  ctMultiByte = 3 // lead byte of a UTF-8 sequence (or a stray byte)
};

constexpr std::array<uint8_t, 256> MakeCharTypes() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c < 32) {
      table[c] = ctUnicode;
    } else if (c >= 128) {
      table[c] = ctMultiByte;
    } else {
      table[c] = ctPlain;
    }
  }
  for (const char c : {'\b', '\t', '\n', '\f', '\r', '"', '/', '\\'}) table[static_cast<uint8_t>(c)] = ctShort;
  return table;
}
constexpr std::array<uint8_t, 256> CharTypes = MakeCharTypes();

char ShortEscape(char AChar) {
  switch (AChar) {
    case '\b': return 'b';
    case '\t': return 't';
    case '\n': return 'n';
    case '\f': return 'f';
    case '\r': return 'r';
    default: return AChar;  // '"', '/', '\\' keep their own letter
  }
}

void AppendUnicodeEscape(std::string& AOut, uint32_t ACodeUnit) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  const char escape[6] = {'\\', 'u', Hex[(ACodeUnit >> 12) & 0xF], Hex[(ACodeUnit >> 8) & 0xF],
                          Hex[(ACodeUnit >> 4) & 0xF], Hex[ACodeUnit & 0xF]};
  AOut.append(escape, 6);
}

constexpr uint32_t ReplacementCharacter = 0xFFFD;

// Decodes one UTF-8 sequence starting at AText[AIndex] (a byte >= 0x80) and
// advances AIndex past it. Malformed sequences (stray continuation bytes,
// truncation, overlong forms, surrogates, values above U+10FFFF) give U+FFFD
// and consume one byte, so decoding always moves on.
uint32_t DecodeUtf8(std::string_view AText, size_t& AIndex) {
  const auto byte = [&](size_t AAt) { return static_cast<uint8_t>(AText[AAt]); };
  const uint8_t lead = byte(AIndex);
  int length = 0;
  uint32_t codePoint = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++AIndex;
    return ReplacementCharacter;
  }
  if (AIndex + length > AText.size()) {
    ++AIndex;
    return ReplacementCharacter;
  }
  for (int k = 1; k < length; ++k) {
    const uint8_t next = byte(AIndex + k);
    if ((next & 0xC0) != 0x80) {
      ++AIndex;
      return ReplacementCharacter;
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    ++AIndex;
    return ReplacementCharacter;
  }
  AIndex += length;
  return codePoint;
}

void AppendNumber(std::string& AOut, const TJSONValue& AValue) {
  if (AValue.is_number_unsigned()) {
    AppendInteger(AOut, AValue.get<uint64_t>());
  } else if (AValue.is_number_integer()) {
    AppendInteger(AOut, AValue.get<int64_t>());
  } else {
    // The library spells floats in the shortest form that reads back the same
    // (and writes null for NaN and infinities, which JSON cannot hold).
    AOut += AValue.dump();
  }
}

std::string Indent(int ALevel) { return std::string(static_cast<size_t>(ALevel > 0 ? ALevel : 0) * 2, ' '); }

// Trim as the layout rules mean it: every leading and trailing character
// whose code is 32 or less.
std::string_view TrimControls(std::string_view AText) {
  size_t begin = 0;
  size_t end = AText.size();
  while (begin < end && static_cast<uint8_t>(AText[begin]) <= 32) ++begin;
  while (end > begin && static_cast<uint8_t>(AText[end - 1]) <= 32) --end;
  return AText.substr(begin, end - begin);
}

void FormatJSONArray(const TJSONValue& AArray, std::vector<std::string>& ALines, int ALevel);

void FormatJSONPair(const std::string& AKey, const TJSONValue& AValue, std::vector<std::string>& ALines,
                    bool AIsLast, int ALevel) {
  std::vector<std::string> valueLines;
  FormatJSONValue(AValue, valueLines, ALevel);
  std::string joined;
  for (size_t i = 0; i < valueLines.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += valueLines[i];
  }
  std::string line = Indent(ALevel);
  AppendQuoted(line, AKey);
  line += " : ";
  line += TrimControls(joined);
  if (!AIsLast) line += ',';
  ALines.push_back(std::move(line));
}

void FormatJSONArray(const TJSONValue& AArray, std::vector<std::string>& ALines, int ALevel) {
  ALines.push_back(Indent(ALevel) + "[");
  const size_t count = AArray.size();
  size_t index = 0;
  for (const auto& element : AArray) {
    FormatJSONValue(element, ALines, ALevel + 1);
    if (++index < count) ALines.back() += ',';
  }
  ALines.push_back(Indent(ALevel) + "]");
}

}  // namespace

TJSONValue Parse(std::string_view AText) {
  const size_t tooDeep = FindTooDeep(AText);
  if (tooDeep != std::string_view::npos) {
    size_t line = 0;
    size_t column = 0;
    LineAndColumn(AText, tooDeep, line, column);
    char message[128];
    std::snprintf(message, sizeof message, "Invalid JSON at line %zu, column %zu: nesting deeper than %d levels", line,
                  column, MaxNestingDepth);
    throw EJSONError(message);
  }
  try {
    return TJSONValue::parse(AText.begin(), AText.end());
  } catch (const TJSONValue::parse_error& e) {
    throw EJSONError("Invalid JSON " + ParseErrorDetail(e.what()));
  } catch (const TJSONValue::out_of_range& e) {
    // A number too large for a double ("1e999") is not a parse error to the
    // library, but it is one to us.
    const std::string what = e.what();
    const size_t at = what.find("] ");
    throw EJSONError("Invalid JSON: " + (at == std::string::npos ? what : what.substr(at + 2)));
  }
}

TJSONValue ParseObject(std::string_view AText) {
  TJSONValue value = Parse(AText);
  RequireObject(value, "JSON text");
  return value;
}

const char* TypeName(const TJSONValue& AValue) {
  switch (AValue.type()) {
    case TJSONValue::value_t::object: return "object";
    case TJSONValue::value_t::array: return "array";
    case TJSONValue::value_t::string: return "string";
    case TJSONValue::value_t::boolean: return "boolean";
    case TJSONValue::value_t::number_integer:
    case TJSONValue::value_t::number_unsigned:
    case TJSONValue::value_t::number_float: return "number";
    case TJSONValue::value_t::binary: return "binary";
    case TJSONValue::value_t::null:
    case TJSONValue::value_t::discarded: break;
  }
  return "null";
}

const TJSONValue& RequireObject(const TJSONValue& AValue, std::string_view AWhat) {
  if (!AValue.is_object())
    throw EJSONTypeError("Invalid type for " + std::string(AWhat) + ": expected a JSON object, found " +
                         TypeName(AValue));
  return AValue;
}

const TJSONValue& RequireArray(const TJSONValue& AValue, std::string_view AWhat) {
  if (!AValue.is_array())
    throw EJSONTypeError("Invalid type for " + std::string(AWhat) + ": expected a JSON array, found " +
                         TypeName(AValue));
  return AValue;
}

const TJSONValue* Find(const TJSONValue& AObject, std::string_view AKey) {
  if (!AObject.is_object()) return nullptr;
  // Linear, in document order; objects here hold a few dozen pairs at most.
  for (const auto& pair : AObject.get_ref<const TJSONValue::object_t&>()) {
    if (pair.first == AKey) return &pair.second;
  }
  return nullptr;
}

std::string Text(const TJSONValue& AValue) {
  switch (AValue.type()) {
    case TJSONValue::value_t::string: return AValue.get_ref<const std::string&>();
    case TJSONValue::value_t::boolean: return AValue.get<bool>() ? "true" : "false";
    case TJSONValue::value_t::null: return "null";
    case TJSONValue::value_t::number_integer:
    case TJSONValue::value_t::number_unsigned:
    case TJSONValue::value_t::number_float: {
      std::string text;
      AppendNumber(text, AValue);
      return text;
    }
    default: return std::string();
  }
}

bool TryTextToInt64(std::string_view AText, int64_t& AResult) {
  if (AText.empty()) return false;
  const char* first = AText.data();
  const char* last = first + AText.size();
  if (*first == '+') {
    ++first;
    if (first == last || *first == '-') return false;
  }
  int64_t value = 0;
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc() || result.ptr != last) return false;
  AResult = value;
  return true;
}

bool ToBoolean(const TJSONValue& AValue) {
  if (AValue.is_boolean()) return AValue.get<bool>();
  if (!AValue.is_string()) return false;
  const std::string& text = AValue.get_ref<const std::string&>();
  if (text.size() != 4) return false;
  static constexpr char Upper[] = "TRUE";
  for (size_t i = 0; i < 4; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != Upper[i]) return false;
  }
  return true;
}

void Append(TJSONValue& AObject, std::string_view AKey, TJSONValue&& AValue) {
  auto& pairs = AObject.get_ref<TJSONValue::object_t&>();
  // ordered_map is a vector of pairs; appending to the vector directly skips
  // the linear search for an existing key that emplace would do.
  static_cast<std::vector<std::pair<const std::string, TJSONValue>>&>(pairs).emplace_back(std::string(AKey),
                                                                                          std::move(AValue));
}

void AppendQuoted(std::string& AOut, std::string_view AText) {
  AOut += '"';
  size_t i = 0;
  const size_t size = AText.size();
  while (i < size) {
    // Copy the longest run of plain characters in one go.
    size_t run = i;
    while (run < size && CharTypes[static_cast<uint8_t>(AText[run])] == ctPlain) ++run;
    if (run > i) {
      AOut.append(AText.data() + i, run - i);
      i = run;
      if (i == size) break;
    }
    const char c = AText[i];
    switch (CharTypes[static_cast<uint8_t>(c)]) {
      case ctShort:
        AOut += '\\';
        AOut += ShortEscape(c);
        ++i;
        break;
      case ctUnicode:
        AppendUnicodeEscape(AOut, static_cast<uint8_t>(c));
        ++i;
        break;
      default: {
        const uint32_t codePoint = DecodeUtf8(AText, i);
        if (codePoint >= 0x10000) {
          const uint32_t offset = codePoint - 0x10000;
          AppendUnicodeEscape(AOut, 0xD800 + (offset >> 10));
          AppendUnicodeEscape(AOut, 0xDC00 + (offset & 0x3FF));
        } else {
          AppendUnicodeEscape(AOut, codePoint);
        }
        break;
      }
    }
  }
  AOut += '"';
}

void AppendCompact(std::string& AOut, const TJSONValue& AValue) {
  switch (AValue.type()) {
    case TJSONValue::value_t::object: {
      AOut += '{';
      bool first = true;
      for (const auto& pair : AValue.get_ref<const TJSONValue::object_t&>()) {
        if (!first) AOut += ',';
        first = false;
        AppendQuoted(AOut, pair.first);
        AOut += ':';
        AppendCompact(AOut, pair.second);
      }
      AOut += '}';
      break;
    }
    case TJSONValue::value_t::array: {
      AOut += '[';
      bool first = true;
      for (const auto& element : AValue) {
        if (!first) AOut += ',';
        first = false;
        AppendCompact(AOut, element);
      }
      AOut += ']';
      break;
    }
    case TJSONValue::value_t::string: AppendQuoted(AOut, AValue.get_ref<const std::string&>()); break;
    case TJSONValue::value_t::boolean: AOut += AValue.get<bool>() ? "true" : "false"; break;
    case TJSONValue::value_t::number_integer:
    case TJSONValue::value_t::number_unsigned:
    case TJSONValue::value_t::number_float: AppendNumber(AOut, AValue); break;
    default: AOut += "null"; break;
  }
}

void AppendInteger(std::string& AOut, int64_t AValue) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, AValue);
  AOut.append(buffer, result.ptr);
}

void AppendInteger(std::string& AOut, uint64_t AValue) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, AValue);
  AOut.append(buffer, result.ptr);
}

std::string Compact(const TJSONValue& AValue) {
  std::string text;
  AppendCompact(text, AValue);
  return text;
}

// The configuration file layout, two blanks per level:
//  - an object is the line "{" (never indented), its pairs at the same level,
//    and the line "}" (never indented);
//  - an array is laid out one level deeper: the indented "[", its elements one
//    level deeper again (a "," after every element but the last), the
//    indented "]";
//  - any other value is one indented line of compact JSON;
//  - a pair is the indented quoted key, " : ", and its value laid out at the
//    pair's level, joined with CR LF and trimmed; "," unless it is the last.
// Nested objects therefore keep their braces in the first column. People read
// this file; any JSON reader reads it back.
void FormatJSONValue(const TJSONValue& AValue, std::vector<std::string>& ALines, int ALevel) {
  if (AValue.is_object()) {
    ALines.emplace_back("{");
    const auto& pairs = AValue.get_ref<const TJSONValue::object_t&>();
    size_t index = 0;
    for (const auto& pair : pairs) {
      FormatJSONPair(pair.first, pair.second, ALines, ++index == pairs.size(), ALevel);
    }
    ALines.emplace_back("}");
  } else if (AValue.is_array()) {
    FormatJSONArray(AValue, ALines, ALevel + 1);
  } else {
    std::string line = Indent(ALevel);
    AppendCompact(line, AValue);
    ALines.push_back(std::move(line));
  }
}

std::string PrettyText(const TJSONValue& AValue) {
  std::vector<std::string> lines;
  FormatJSONValue(AValue, lines, 1);
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace zor::Json
