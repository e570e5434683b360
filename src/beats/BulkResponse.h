#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"

namespace zor {

// The answer is not an Elasticsearch bulk response (not JSON, no "items"
// array, an item without a status, fewer or more items than documents sent).
class EBulkResponseError : public EZorError {
 public:
  using EZorError::EZorError;
};

// What becomes of one document of a bulk request.
enum class TBulkOutcome : uint8_t {
  boAccepted = 0,  // indexed (2xx)
  boRetry = 1,     // not indexed this time, try again (429, 5xx, a failed request)
  boRejected = 2,  // refused for good (other 4xx: a mapping error, a bad document)
};

// One document's result, in the order the documents were sent.
struct TBulkItemResult {
  TBulkOutcome Outcome = TBulkOutcome::boRetry;
  int Status = -1;          // the item's status; for a failed request, the request's
  std::string ErrorType;    // "mapper_parsing_exception", ...; empty without an error
  std::string ErrorReason;  // the server's text; for a failed request, why it failed
};

// The answer of an Elasticsearch-style endpoint to a POST of _bulk, read into
// one outcome per document. Reading walks the text once without building a
// tree, keeps of each item only its status and its error's type and reason,
// and bounds the nesting depth, so a hostile answer costs no more than its
// length.
//
// A value; no lock, no shared state.
class TBulkResponse {
 public:
  // The deepest nesting the reader follows; deeper answers are not bulk
  // responses.
  static constexpr int MaxDepth = 64;

  // Reads a bulk answer: an object with "items", an array with one object per
  // document, each holding one action ("index", "create", ...) whose object
  // has an integer "status" and, when refused, an "error" (an object with
  // "type" and "reason", or a text). "took" and "errors" are read when
  // present. Throws EBulkResponseError when AText is anything else.
  // An answer whose "errors" is false and whose items are all accepted takes
  // a quick path (ReadAllAccepted); any other answer is read in full.
  [[nodiscard]] static TBulkResponse Read(std::string_view AText);

  // The quick path of Read, for the common answer: a strict single pass that
  // keeps no key and copies no text. It returns a response only when AText is
  // pure-ASCII JSON, a bulk response whose "errors" is false, whose every item
  // holds one action object with an integer 2xx "status"; and then the same
  // response that the full reading gives. Any other text (errors, rejected
  // items, anything unusual or malformed) gives nullopt, and Read falls back
  // to the full reading, which decides.
  [[nodiscard]] static std::optional<TBulkResponse> ReadAllAccepted(std::string_view AText);
  // The full reading of Read, whatever "errors" says.
  [[nodiscard]] static TBulkResponse ReadItems(std::string_view AText);

  // The whole exchange of a bulk request of ADocuments documents, sorted into
  // one result per document:
  //  - a 2xx answer whose body reads as a bulk response with ADocuments items:
  //    each item by its own status (OutcomeOfStatus);
  //  - a 2xx answer that does not read so: every document boRetry (a failed
  //    request; the reason says why);
  //  - 400, 413, 414, 415 and 422 (the server refuses this body as such, and
  //    would again): every document boRejected;
  //  - anything else, no answer (-1) included: every document boRetry. A
  //    refused authorisation (401, 403) or a missing endpoint (404) is a
  //    set-up that an administrator mends, so nothing is dropped meanwhile.
  // AStatusLine, when not empty, is the reason given for a failed request.
  [[nodiscard]] static TBulkResponse FromExchange(int AStatusCode, const std::string& AStatusLine,
                                                  std::string_view ABody, size_t ADocuments);

  // The outcome of one item's status: 2xx accepted; 429 and 5xx retry; any
  // other status rejected.
  [[nodiscard]] static TBulkOutcome OutcomeOfStatus(int AStatus);

  // The server's "took" in milliseconds, -1 when absent.
  [[nodiscard]] int64_t Took() const { return FTook; }
  // The server's "errors" flag (false when absent).
  [[nodiscard]] bool Errors() const { return FErrors; }
  // Whether the request as a whole failed (FromExchange without a readable
  // bulk answer).
  [[nodiscard]] bool RequestFailed() const { return FRequestFailed; }
  // The HTTP status of the exchange (FromExchange; -1 for no answer, 0 when
  // only read).
  [[nodiscard]] int StatusCode() const { return FStatusCode; }
  [[nodiscard]] const std::vector<TBulkItemResult>& Items() const { return FItems; }
  [[nodiscard]] size_t Count(TBulkOutcome AOutcome) const;

 private:
  int64_t FTook = -1;
  bool FErrors = false;
  bool FRequestFailed = false;
  int FStatusCode = 0;
  std::vector<TBulkItemResult> FItems;
};

}  // namespace zor
