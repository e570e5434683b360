#include "beats/BulkResponse.h"

#include <array>
#include <limits>

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

bool IsRefusedBody(int AStatus) {
  return AStatus == 400 || AStatus == 413 || AStatus == 414 || AStatus == 415 || AStatus == 422;
}

}  // namespace

TBulkOutcome TBulkResponse::OutcomeOfStatus(int AStatus) {
  if (AStatus >= 200 && AStatus <= 299) return TBulkOutcome::boAccepted;
  if (AStatus == 429 || (AStatus >= 500 && AStatus <= 599)) return TBulkOutcome::boRetry;
  return TBulkOutcome::boRejected;
}

TBulkResponse TBulkResponse::Read(std::string_view AText) {
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
