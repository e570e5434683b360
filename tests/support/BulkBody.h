#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zor::test {

// A body that breaks the bulk grammar. The message names the line (from 1).
class EBulkBodyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One distinct action line of a bulk body.
struct TBulkAction {
  std::string Line;      // as written, without its line break
  std::string Name;      // "index" or "create"
  std::string Index;     // the action's "_index"
  bool HasType = false;  // the action line names a "_type"
  std::string Id;        // the action's "_id"; empty when it names none
};

// One document of a bulk body.
struct TBulkBodyItem {
  const TBulkAction* Action = nullptr;  // owned by the TBulkBody
  std::string_view Document;            // the document line (a view into the body), without its line break
};

// The strict reader of a bulk request body, as an Elasticsearch server reads
// it: pairs of lines, each ended by "\n" (a "\r" before it is allowed), the
// first an action object {"index"|"create": {"_index": NAME, ["_type": T,]
// ["_id": ID]}} with a valid index name, the second the document, a JSON
// object. Nothing else is allowed: no empty line, no missing last line break,
// no other action, no other action key.
//
// Documents are checked by a validating scanner that builds nothing, and each
// distinct action line is read once, so a receiver can check every byte of a
// fast sender. A value read once; no lock.
class TBulkBody {
 public:
  static constexpr int MaxDepth = 256;

  // Reads ABody, which must outlive this object (the items' documents are
  // views into it). Throws EBulkBodyError at the first fault.
  explicit TBulkBody(std::string_view ABody);
  TBulkBody(const TBulkBody&) = delete;
  TBulkBody& operator=(const TBulkBody&) = delete;

  // The documents, in order.
  [[nodiscard]] const std::vector<TBulkBodyItem>& Items() const { return FItems; }

  // Whether AText is exactly one JSON value (RFC 8259: strings valid UTF-8
  // without raw control characters, numbers by the grammar, nesting up to
  // MaxDepth), with optional white space around it.
  [[nodiscard]] static bool IsJson(std::string_view AText);

  // Elasticsearch's rules for an index name: 1 to 255 bytes, lower case, none
  // of \ / * ? " < > | , # : or blank, not starting with -, _ or +, not "." or "..".
  [[nodiscard]] static bool IsValidIndexName(std::string_view AName);

 private:
  std::unordered_map<std::string_view, std::unique_ptr<TBulkAction>> FActions;  // keys view their Line
  std::vector<TBulkBodyItem> FItems;
};

}  // namespace zor::test
