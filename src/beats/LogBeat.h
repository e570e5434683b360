#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "delivery/DeliveryReceipt.h"
#include "support/Json.h"
#include "support/Utilities.h"

namespace zor {

// A document for a beat receiver, with the routing data that never reaches
// the JSON: the day that picks the index (LogDate) and the receiver the copy
// is meant for. The processor fills the routing fields; a beat sender reads
// them. Used by one thread at a time; queues own the documents they hold.
class TLogBeat {
 public:
  TLogBeat(const TLogBeat&) = delete;
  TLogBeat& operator=(const TLogBeat&) = delete;
  virtual ~TLogBeat() = default;

  [[nodiscard]] TDateTime LogDate() const { return FLogDate; }
  void SetLogDate(TDateTime AValue) { FLogDate = AValue; }
  [[nodiscard]] const std::string& DestinationHost() const { return FDestinationHost; }
  void SetDestinationHost(const std::string& AValue) { FDestinationHost = AValue; }
  [[nodiscard]] uint16_t DestinationPort() const { return FDestinationPort; }
  void SetDestinationPort(uint16_t AValue) { FDestinationPort = AValue; }
  // Which reader batch the document is owed to (none: not made from records).
  [[nodiscard]] const TDeliveryReceipt& Receipt() const { return FReceipt; }
  [[nodiscard]] TDeliveryReceipt& Receipt() { return FReceipt; }

  // What names the event the document stems from, for a deterministic bulk
  // "_id": its computer, channel and record identifier, each followed by a
  // line feed. Empty for a document that stems from no event record.
  [[nodiscard]] virtual std::string IdentityText() const { return {}; }

  // A new object the caller owns.
  [[nodiscard]] virtual std::unique_ptr<TJSONObject> ToJSONObject() const = 0;
  // Applies the keys present. Throws EJSONTypeError for a value of the wrong
  // kind (and whatever a field's own conversion throws).
  virtual void FromJSONObject(const TJSONObject& AValue) = 0;

  // Appends the compact pure-ASCII JSON text of ToJSONObject to AOut. A
  // document type overrides it to write the text without building the tree.
  virtual void AppendJSON(std::string& AOut) const { Json::AppendCompact(AOut, *ToJSONObject()); }
  // Compact pure-ASCII JSON text of ToJSONObject.
  [[nodiscard]] std::string AsJSONString() const {
    std::string text;
    AppendJSON(text);
    return text;
  }
  // Parses AValue, which must be a JSON object (else EJSONError or
  // EJSONTypeError), and applies it.
  void SetAsJSONString(std::string_view AValue) { FromJSONObject(Json::ParseObject(AValue)); }

 protected:
  TLogBeat() = default;

 private:
  TDateTime FLogDate = 0;
  std::string FDestinationHost;
  uint16_t FDestinationPort = 0;
  TDeliveryReceipt FReceipt;
};

}  // namespace zor
