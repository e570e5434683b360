#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Errors.h"

// The one JSON layer of the system.
//
// Trees are nlohmann::ordered_json values: objects keep their pairs in
// document order, which every writer relies on. Text is parsed with the
// library (nesting depth bounded first, so hostile text cannot exhaust the
// stack of any later recursive walk) and written by our own writers: the
// compact pure-ASCII form sent on the wire and returned by every AsJSONString,
// and the pretty form of the configuration file.
//
// Scalars are read "through the value's text": a JSON string gives its
// content, a number or a literal its JSON spelling. So numbers and booleans
// are also accepted when written as JSON strings.
//
// Everything here is stateless and safe to call from any thread.

namespace zor {

using TJSONValue = nlohmann::ordered_json;
// A TJSONValue that holds an object (or an array); the aliases only document
// what a signature expects.
using TJSONObject = TJSONValue;
using TJSONArray = TJSONValue;

// The text is not JSON, or is nested deeper than MaxNestingDepth. The message
// carries the line, column and byte offset of the fault.
class EJSONError : public EZorError {
 public:
  explicit EJSONError(const std::string& AMessage) : EZorError(AMessage) {}
};

// A value has the wrong JSON type for where it is used (an array where an
// object is required, a string where the "user" object belongs, ...).
class EJSONTypeError : public EZorError {
 public:
  explicit EJSONTypeError(const std::string& AMessage) : EZorError(AMessage) {}
};

namespace Json {

// Deepest nesting of arrays and objects that Parse accepts.
constexpr int MaxNestingDepth = 256;

// Parses AText (UTF-8). Throws EJSONError with the position on malformed
// text, on nesting deeper than MaxNestingDepth, and on trailing garbage.
[[nodiscard]] TJSONValue Parse(std::string_view AText);

// Parse, then require an object: anything else throws EJSONTypeError.
[[nodiscard]] TJSONValue ParseObject(std::string_view AText);

// "object", "array", "string", "number", "boolean" or "null".
[[nodiscard]] const char* TypeName(const TJSONValue& AValue);

// AValue itself when it is an object (or array); otherwise throws
// EJSONTypeError naming AWhat (a key, usually) and the type found.
const TJSONValue& RequireObject(const TJSONValue& AValue, std::string_view AWhat);
const TJSONValue& RequireArray(const TJSONValue& AValue, std::string_view AWhat);

// The value of AKey in AObject, or nullptr when the key is absent or AObject
// is not an object. The pointer is borrowed from AObject. Keys match exactly.
[[nodiscard]] const TJSONValue* Find(const TJSONValue& AObject, std::string_view AKey);

// The value's text: a string's content; a number's or literal's JSON spelling
// ("514", "1.5", "true", "null"); empty for objects and arrays.
[[nodiscard]] std::string Text(const TJSONValue& AValue);

// Decimal text (optional sign, digits only, nothing else) to an integer.
// False when the text is not one or does not fit in int64_t.
[[nodiscard]] bool TryTextToInt64(std::string_view AText, int64_t& AResult);

// The value's text as an integer of type TInt; ADefault when the text is not
// a decimal integer or the integer does not fit in TInt.
template <class TInt>
[[nodiscard]] TInt ToInteger(const TJSONValue& AValue, TInt ADefault) {
  static_assert(std::is_integral_v<TInt> && !std::is_same_v<TInt, bool>);
  int64_t value = 0;
  if (AValue.is_number_unsigned()) {
    const uint64_t raw = AValue.get<uint64_t>();
    if (raw > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return ADefault;
    value = static_cast<int64_t>(raw);
  } else if (AValue.is_number_integer()) {
    value = AValue.get<int64_t>();
  } else if (!TryTextToInt64(Text(AValue), value)) {
    return ADefault;
  }
  if constexpr (std::is_signed_v<TInt>) {
    if (value < std::numeric_limits<TInt>::min() || value > std::numeric_limits<TInt>::max()) return ADefault;
  } else {
    if (value < 0 || static_cast<uint64_t>(value) > std::numeric_limits<TInt>::max()) return ADefault;
  }
  return static_cast<TInt>(value);
}

// True when the value's text, upper-cased, is "TRUE" (so true and "True").
[[nodiscard]] bool ToBoolean(const TJSONValue& AValue);

// Appends AKey/AValue to AObject (which must be an object) without looking
// for an existing pair: the caller guarantees the key is new. Use it where a
// writer appends a fixed, distinct set of keys; it keeps writing linear.
void Append(TJSONValue& AObject, std::string_view AKey, TJSONValue&& AValue);

// Compact text: no white space between tokens; in strings \b \t \n \f \r,
// a backslash before '"', '/' and '\', and \uXXXX (upper-case hex, one escape
// per UTF-16 code unit, so a surrogate pair outside the BMP) for every other
// character below 32 or above 127. The result is pure ASCII. Bytes that are
// not valid UTF-8 are written as \uFFFD.
[[nodiscard]] std::string Compact(const TJSONValue& AValue);
void AppendCompact(std::string& AOut, const TJSONValue& AValue);
// AText as a quoted, escaped compact JSON string.
void AppendQuoted(std::string& AOut, std::string_view AText);
// The decimal text of an integer, as AppendCompact writes a JSON number.
void AppendInteger(std::string& AOut, int64_t AValue);
void AppendInteger(std::string& AOut, uint64_t AValue);
template <class TInt>
void AppendInteger(std::string& AOut, TInt AValue) {
  static_assert(std::is_integral_v<TInt> && !std::is_same_v<TInt, bool>);
  if constexpr (std::is_signed_v<TInt>)
    AppendInteger(AOut, static_cast<int64_t>(AValue));
  else
    AppendInteger(AOut, static_cast<uint64_t>(AValue));
}

// The pretty layout of the configuration file, as lines (see Json.cpp for the
// exact rules). A pair whose value is an array or object is one "line" that
// holds CR LF breaks.
void FormatJSONValue(const TJSONValue& AValue, std::vector<std::string>& ALines, int ALevel);

// The whole file text: AValue laid out from level 1, every line (the last
// included) followed by CR LF.
[[nodiscard]] std::string PrettyText(const TJSONValue& AValue);

}  // namespace Json
}  // namespace zor
