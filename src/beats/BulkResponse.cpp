#include "beats/BulkResponse.h"

#include <array>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

namespace zor {

namespace {

using TJson = nlohmann::json;

// Walks a bulk answer as a stream of JSON events. Depth 1 is the root object,
// 2 the "items" array, 3 an item, 4 its action's object, 5 that object's
// "error" object. Everything else is skipped, only counted in depth.
class TBulkSax {
 public:
  explicit TBulkSax(std::vector<TBulkItemResult>& AItems) : FItems(AItems) {}

  int64_t Took = -1;
  bool Errors = false;
  bool HaveItems = false;
  std::string Fault;

  bool null() { return Scalar(); }
  bool boolean(bool AValue) {
    if (FDepth == 1 && FKeys[1] == "errors") Errors = AValue;
    return Scalar();
  }
  bool number_integer(TJson::number_integer_t AValue) { return Integer(AValue); }
  bool number_unsigned(TJson::number_unsigned_t AValue) {
    return Integer(AValue > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                       ? std::numeric_limits<int64_t>::max()
                       : static_cast<int64_t>(AValue));
  }
  bool number_float(TJson::number_float_t, const TJson::string_t&) {
    if (FDepth == 4 && FKeys[4] == "status") return Fail("an item's status is not an integer");
    return Scalar();
  }
  bool string(TJson::string_t& AValue) {
    if (FDepth == 4 && FKeys[4] == "error") FItem.ErrorReason = AValue;
    if (FDepth == 5 && FKeys[4] == "error") {
      if (FKeys[5] == "type") FItem.ErrorType = AValue;
      if (FKeys[5] == "reason") FItem.ErrorReason = AValue;
    }
    return Scalar();
  }
  bool binary(TJson::binary_t&) { return Scalar(); }

  bool start_object(std::size_t) {
    if (FDepth == 1 && FKeys[1] == "items") return Fail("\"items\" is not an array");
    if (FDepth == 2 && InItems()) FActions = 0;
    if (FDepth == 3 && InItems()) {
      if (++FActions > 1) return Fail("an item holds more than one action");
      FItem = TBulkItemResult{};
      FHaveStatus = false;
    }
    return Enter();
  }
  bool end_object() {
    if (FDepth == 4 && InItem()) {
      if (!FHaveStatus) return Fail("an item has no status");
      FItem.Outcome = TBulkResponse::OutcomeOfStatus(FItem.Status);
      FItems.push_back(std::move(FItem));
    }
    if (FDepth == 3 && InItems() && FActions == 0) return Fail("an item holds no action");
    --FDepth;
    return true;
  }
  bool start_array(std::size_t) {
    if (FDepth == 0) return Fail("not a JSON object");
    if (FDepth == 1 && FKeys[1] == "items") {
      if (HaveItems) return Fail("two \"items\" arrays");
      HaveItems = true;
    }
    if (FDepth == 2 && InItems()) return Fail("an item is not an object");
    if (FDepth == 3 && InItems()) return Fail("an item's action is not an object");
    return Enter();
  }
  bool end_array() {
    --FDepth;
    return true;
  }
  bool key(TJson::string_t& AKey) {
    if (FDepth < static_cast<int>(FKeys.size())) FKeys[FDepth] = AKey;
    return true;
  }
  bool parse_error(std::size_t APosition, const std::string&, const nlohmann::detail::exception&) {
    return Fail("not JSON (at byte " + std::to_string(APosition) + ")");
  }

 private:
  // Inside the "items" array of the root (depth 2 or deeper).
  bool InItems() const { return FDepth >= 2 && FKeys[1] == "items"; }
  // Inside an item's action object (depth 4 or deeper).
  bool InItem() const { return FDepth >= 4 && InItems(); }

  bool Enter() {
    if (++FDepth > TBulkResponse::MaxDepth) return Fail("nested too deeply");
    if (FDepth < static_cast<int>(FKeys.size())) FKeys[FDepth].clear();
    return true;
  }
  bool Scalar() {
    if (FDepth == 0) return Fail("not a JSON object");
    if (FDepth == 1 && FKeys[1] == "items") return Fail("\"items\" is not an array");
    if (FDepth == 2 && InItems()) return Fail("an item is not an object");
    if (FDepth == 3 && InItems()) return Fail("an item's action is not an object");
    return true;
  }
  bool Integer(int64_t AValue) {
    if (FDepth == 1 && FKeys[1] == "took") Took = AValue;
    if (FDepth == 4 && InItem() && FKeys[4] == "status") {
      if (AValue < 0 || AValue > 999) return Fail("an item's status is out of range");
      FItem.Status = static_cast<int>(AValue);
      FHaveStatus = true;
    }
    return Scalar();
  }
  bool Fail(std::string AFault) {
    if (Fault.empty()) Fault = std::move(AFault);
    return false;
  }

  std::vector<TBulkItemResult>& FItems;
  int FDepth = 0;
  // The last key seen at each depth up to the error object's.
  std::array<std::string, 6> FKeys;
  int FActions = 0;
  TBulkItemResult FItem;
  bool FHaveStatus = false;
};

// The quick reading of an all-accepted answer (TBulkResponse::ReadAllAccepted):
// a strict recursive descent over pure-ASCII JSON that looks only at the
// root's "took", "errors" and "items" and at each item's "status". It gives up
// (false) on anything the full reading might see differently: escapes,
// non-ASCII bytes, numbers it would not read as a plain integer, an "error"
// key in an item, a status outside 2xx, "errors" not false.
class TAcceptedScan {
 public:
  TAcceptedScan(std::string_view AText, std::vector<TBulkItemResult>& AItems) : FText(AText), FItems(AItems) {}

  int64_t Took = -1;

  bool Run() {
    bool sawErrors = false, sawItems = false;
    const bool read = Object([&](std::string_view AKey) {
      if (AKey == "took") return Integer(Took);
      if (AKey == "errors") {
        sawErrors = Literal("false");
        return sawErrors;
      }
      if (AKey == "items") return !std::exchange(sawItems, true) && Array([&] { return Item(); });
      return Value(2);
    });
    SkipSpace();
    return read && sawErrors && sawItems && FPos == FText.size();
  }

 private:
  // An object; AMember reads the value of each key.
  template <class F>
  bool Object(F AMember) {
    SkipSpace();
    if (!Eat('{')) return false;
    SkipSpace();
    if (Eat('}')) return true;
    do {
      SkipSpace();
      std::string_view key;
      if (!String(key) || !Colon() || !AMember(key)) return false;
      SkipSpace();
    } while (Eat(','));
    return Eat('}');
  }
  // An array; AElement reads each element.
  template <class F>
  bool Array(F AElement) {
    SkipSpace();
    if (!Eat('[')) return false;
    SkipSpace();
    if (Eat(']')) return true;
    do {
      if (!AElement()) return false;
      SkipSpace();
    } while (Eat(','));
    return Eat(']');
  }

  // An item: one action (any name) whose object has a 2xx status.
  bool Item() {
    int actions = 0;
    return Object([&](std::string_view) { return ++actions == 1 && Action(); }) && actions == 1;
  }
  bool Action() {
    int64_t status = -1;
    const bool read = Object([&](std::string_view AKey) {
      // The last status counts, as in the full reading.
      if (AKey == "status") return Integer(status);
      return AKey != "error" && Value(5);
    });
    if (!read || status < 200 || status > 299) return false;
    FItems.push_back(TBulkItemResult{TBulkOutcome::boAccepted, static_cast<int>(status), {}, {}});
    return true;
  }

  // Any value at nesting depth ADepth (the root object is 1).
  bool Value(int ADepth) {
    SkipSpace();
    if (FPos >= FText.size()) return false;
    switch (FText[FPos]) {
      case '{':
        return ADepth <= TBulkResponse::MaxDepth && Object([&](std::string_view) { return Value(ADepth + 1); });
      case '[':
        return ADepth <= TBulkResponse::MaxDepth && Array([&] { return Value(ADepth + 1); });
      case '"': {
        std::string_view text;
        return String(text);
      }
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number(nullptr);
    }
  }

  // A string without escapes, control characters or non-ASCII bytes.
  bool String(std::string_view& AOut) {
    if (!Eat('"')) return false;
    const size_t start = FPos;
    while (FPos < FText.size()) {
      const auto c = static_cast<unsigned char>(FText[FPos]);
      if (c == '"') {
        AOut = FText.substr(start, FPos - start);
        ++FPos;
        return true;
      }
      if (c == '\\' || c < 0x20 || c >= 0x80) return false;
      ++FPos;
    }
    return false;
  }

  // A JSON number; AInteger, when given, receives it and the number must be
  // a plain integer of at most 18 digits.
  bool Number(int64_t* AInteger) {
    const size_t start = FPos;
    const bool negative = Eat('-');
    const size_t digits = FPos;
    if (FPos >= FText.size() || !IsDigit(FText[FPos])) return false;
    if (FText[FPos] == '0') {
      ++FPos;
    } else {
      while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
    }
    const size_t integerEnd = FPos;
    bool plain = true;
    if (Eat('.')) {
      plain = false;
      if (!Digits()) return false;
    }
    if (FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
      plain = false;
      ++FPos;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    if (AInteger == nullptr) return FPos > start;
    if (!plain || integerEnd - digits > 18) return false;
    int64_t value = 0;
    for (size_t i = digits; i < integerEnd; ++i) value = value * 10 + (FText[i] - '0');
    *AInteger = negative ? -value : value;
    return true;
  }
  bool Integer(int64_t& AOut) {
    SkipSpace();
    return Number(&AOut);
  }
  bool Digits() {
    const size_t start = FPos;
    while (FPos < FText.size() && IsDigit(FText[FPos])) ++FPos;
    return FPos > start;
  }
  static bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }

  bool Literal(std::string_view AWord) {
    SkipSpace();
    if (FText.substr(FPos, AWord.size()) != AWord) return false;
    FPos += AWord.size();
    return true;
  }
  bool Colon() {
    SkipSpace();
    return Eat(':');
  }
  bool Eat(char AChar) {
    if (FPos >= FText.size() || FText[FPos] != AChar) return false;
    ++FPos;
    return true;
  }
  void SkipSpace() {
    while (FPos < FText.size() &&
           (FText[FPos] == ' ' || FText[FPos] == '\n' || FText[FPos] == '\r' || FText[FPos] == '\t'))
      ++FPos;
  }

  std::string_view FText;
  size_t FPos = 0;
  std::vector<TBulkItemResult>& FItems;
};

bool IsRefusedBody(int AStatus) {
  return AStatus == 400 || AStatus == 413 || AStatus == 414 || AStatus == 415 || AStatus == 422;
}

}  // namespace

TBulkOutcome TBulkResponse::OutcomeOfStatus(int AStatus) {
  if (AStatus >= 200 && AStatus <= 299) return TBulkOutcome::boAccepted;
  if (AStatus == 429 || (AStatus >= 500 && AStatus <= 599)) return TBulkOutcome::boRetry;
  return TBulkOutcome::boRejected;
}

std::optional<TBulkResponse> TBulkResponse::ReadAllAccepted(std::string_view AText) {
  TBulkResponse response;
  TAcceptedScan scan(AText, response.FItems);
  if (!scan.Run()) return std::nullopt;
  response.FTook = scan.Took;
  return response;
}

TBulkResponse TBulkResponse::Read(std::string_view AText) {
  if (std::optional<TBulkResponse> accepted = ReadAllAccepted(AText)) return std::move(*accepted);
  return ReadItems(AText);
}

TBulkResponse TBulkResponse::ReadItems(std::string_view AText) {
  TBulkResponse response;
  TBulkSax sax(response.FItems);
  const bool ok = TJson::sax_parse(AText.begin(), AText.end(), &sax);
  if (!ok || !sax.Fault.empty())
    throw EBulkResponseError("not a bulk response: " + (sax.Fault.empty() ? std::string("not JSON") : sax.Fault));
  if (!sax.HaveItems) throw EBulkResponseError("not a bulk response: no \"items\" array");
  response.FTook = sax.Took;
  response.FErrors = sax.Errors;
  return response;
}

TBulkResponse TBulkResponse::FromExchange(int AStatusCode, const std::string& AStatusLine, std::string_view ABody,
                                          size_t ADocuments) {
  std::string reason;
  if (AStatusCode >= 200 && AStatusCode <= 299) {
    try {
      TBulkResponse response = Read(ABody);
      response.FStatusCode = AStatusCode;
      if (response.FItems.size() == ADocuments) return response;
      reason = "the bulk response has " + std::to_string(response.FItems.size()) + " items for " +
               std::to_string(ADocuments) + " documents";
    } catch (const EBulkResponseError& e) {
      reason = e.what();
    }
  } else {
    reason = !AStatusLine.empty()  ? AStatusLine
             : AStatusCode < 0     ? std::string("no answer")
                                   : "status " + std::to_string(AStatusCode);
  }
  TBulkResponse response;
  response.FRequestFailed = true;
  response.FStatusCode = AStatusCode;
  const TBulkOutcome outcome = IsRefusedBody(AStatusCode) ? TBulkOutcome::boRejected : TBulkOutcome::boRetry;
  response.FItems.assign(ADocuments, TBulkItemResult{outcome, AStatusCode, {}, reason});
  return response;
}

size_t TBulkResponse::Count(TBulkOutcome AOutcome) const {
  size_t count = 0;
  for (const TBulkItemResult& item : FItems) count += item.Outcome == AOutcome ? 1 : 0;
  return count;
}

}  // namespace zor
