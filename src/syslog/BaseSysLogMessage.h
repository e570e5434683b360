#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "delivery/DeliveryReceipt.h"
#include "support/Json.h"
#include "support/Utilities.h"
#include "syslog/DestinationHost.h"
#include "syslog/Priority.h"

namespace zor {

// One syslog message, BSD (RFC 3164) or IETF (RFC 5424), as every syslog
// component passes it around. The event parser and the trainer create
// messages; the processor stamps the destination; the sender registry and a
// sender take them from queues. A message is used by one thread at a time and
// handed over whole (queues hold unique_ptrs; whoever takes one owns it).
//
// Forms: the encoded syslog line (EncodedMessage; MessageContent alone when
// SendMessageOnly is set), the one-line name=value form (ToString and the
// string constructors of the subclasses), the JSON form and the shorter JSON
// file form.
//
// The message owns its priority and its send-to entries.
class TBaseSysLogMessage {
 public:
  TBaseSysLogMessage(const TBaseSysLogMessage&) = delete;
  TBaseSysLogMessage& operator=(const TBaseSysLogMessage&) = delete;
  virtual ~TBaseSysLogMessage() = default;

  // A copy of the same class, as its copy constructor makes it.
  [[nodiscard]] virtual std::unique_ptr<TBaseSysLogMessage> Clone() const = 0;

  // --- fields ---------------------------------------------------------------
  [[nodiscard]] const std::string& MessageContent() const { return FText; }
  void SetMessageContent(std::string AValue) { FText = std::move(AValue); }
  [[nodiscard]] const std::string& Category() const { return FCategory; }
  void SetCategory(const std::string& AValue) { FCategory = AValue; }
  [[nodiscard]] const std::string& DestinationHost() const { return FDestinationHost; }
  void SetDestinationHost(const std::string& AValue) { FDestinationHost = AValue; }
  [[nodiscard]] uint16_t DestinationPort() const { return FDestinationPort; }
  void SetDestinationPort(uint16_t AValue) { FDestinationPort = AValue; }
  [[nodiscard]] bool SendMessageOnly() const { return FSendMessageOnly; }
  void SetSendMessageOnly(bool AValue) { FSendMessageOnly = AValue; }
  // Per-message framing override for stream transports ("" for none).
  [[nodiscard]] const std::string& Framing() const { return FFraming; }
  void SetFraming(const std::string& AValue) { FFraming = AValue; }
  // Which reader batch the message is owed to (none for messages not made
  // from records); not copied by CopyBaseFields: a copy is owed to nobody.
  [[nodiscard]] const TDeliveryReceipt& Receipt() const { return FReceipt; }
  [[nodiscard]] TDeliveryReceipt& Receipt() { return FReceipt; }

  [[nodiscard]] const TPriority& Priority() const { return FPriority; }
  [[nodiscard]] TSyslogFacility Facility() const { return FPriority.Facility(); }
  void SetFacility(TSyslogFacility AValue) { FPriority.SetFacility(AValue); }
  [[nodiscard]] TSyslogSeverity Severity() const { return FPriority.Severity(); }
  void SetSeverity(TSyslogSeverity AValue) { FPriority.SetSeverity(AValue); }
  [[nodiscard]] std::string FacilityString() const { return FPriority.FacilityString(); }
  [[nodiscard]] std::string SeverityString() const { return FPriority.SeverityString(); }
  // Throws ESyslogError "Invalid Syslog PRI: %d" outside 0..191.
  void SetPriority(int AValue) { FPriority.SetPriority(AValue); }

  // --- format-specific ------------------------------------------------------
  [[nodiscard]] virtual std::string Host() const = 0;
  virtual void SetHost(const std::string& AValue) = 0;
  [[nodiscard]] virtual std::string Process() const = 0;
  virtual void SetProcess(const std::string& AValue) = 0;
  [[nodiscard]] virtual int32_t ProcessID() const = 0;
  virtual void SetProcessID(int32_t AValue) = 0;
  // Local time in the BSD message, UTC in the IETF message.
  [[nodiscard]] virtual TDateTime TimeStamp() const = 0;
  virtual void SetTimeStamp(TDateTime AValue) = 0;
  [[nodiscard]] virtual std::string TimeStampString() const = 0;
  // The syslog line. Writing parses a line; it throws ESyslogError (or the
  // date-time library's EConvertError) for a malformed one, and fields set
  // before the fault keep their new values.
  [[nodiscard]] virtual std::string EncodedMessage() const = 0;
  virtual void SetEncodedMessage(std::string_view AValue) = 0;
  // The one-line name=value form.
  [[nodiscard]] virtual std::string ToString() const = 0;

  // --- JSON -----------------------------------------------------------------
  // The caller owns the results.
  [[nodiscard]] virtual std::unique_ptr<TJSONObject> ToJSONObject() const = 0;
  [[nodiscard]] virtual std::unique_ptr<TJSONObject> ToJSONFileObject() const = 0;
  // Apply the keys present. Throw EJSONTypeError when AValue is not an object
  // or a value has the wrong kind, ESyslogError for a wrong "type".
  virtual void FromJSONObject(const TJSONObject& AValue) = 0;
  virtual void FromJSONFileObject(const TJSONObject& AValue) = 0;
  [[nodiscard]] std::string AsJSONString() const { return Json::Compact(*ToJSONObject()); }
  void SetAsJSONString(std::string_view AValue) { FromJSONObject(Json::ParseObject(AValue)); }
  [[nodiscard]] std::string AsJSONFileString() const { return Json::Compact(*ToJSONFileObject()); }
  void SetAsJSONFileString(std::string_view AValue) { FromJSONFileObject(Json::ParseObject(AValue)); }

  // --- send-to list (carried in JSON only) -----------------------------------
  // Indexes outside the list throw ESyslogError.
  [[nodiscard]] int SendToCount() const { return static_cast<int>(FSendTo.size()); }
  [[nodiscard]] const TDestinationHost& GetSendTo(int AIndex) const;
  // Replaces (and frees) the entry; the list takes ownership of AValue.
  void SetSendTo(int AIndex, std::unique_ptr<TDestinationHost>&& AValue);
  void AddSendTo(std::unique_ptr<TDestinationHost>&& AValue);
  void DeleteSendTo(int AIndex);
  void ClearSendTo() { FSendTo.clear(); }
  // The list as a JSON array of destination objects, and the reverse (each
  // element must be an object); used by the JSON forms.
  [[nodiscard]] TJSONValue SendToJSONArray() const;
  void AddSendToFromJSONArray(const TJSONValue& AValue);

 protected:
  TBaseSysLogMessage() = default;
  // Copies the fields every message has (not the send-to list).
  void CopyBaseFields(const TBaseSysLogMessage& ASource);
  void CheckSendToIndex(int AIndex) const;

  TPriority FPriority;
  TDeliveryReceipt FReceipt;
  std::string FCategory;
  std::string FDestinationHost;
  uint16_t FDestinationPort = 0;
  bool FSendMessageOnly = false;
  std::string FText;
  std::string FFraming;
  std::vector<std::unique_ptr<TDestinationHost>> FSendTo;
};

}  // namespace zor
