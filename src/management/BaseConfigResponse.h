#pragma once

#include <memory>
#include <string>

#include "config/Collector.h"
#include "management/PendingCollector.h"
#include "platform/Errors.h"
#include "support/Json.h"

namespace zor {

// An answer of the configuration server could not be read: not JSON, not an
// object, no or an unknown "type", or a kind without its content.
class EConfigResponseError : public EZorError {
 public:
  explicit EConfigResponseError(const std::string& AMessage) : EZorError(AMessage) {}
};

// An answer of the configuration server, labelled by its "type". Two kinds:
// TCollectorConfigResponse ("collector") and TPendingConfigResponse
// ("pendingCollector"); TConfigResponseFactory builds the right one.
//
// Values owned by whoever asked for them; one thread at a time.
class TBaseConfigResponse {
 public:
  virtual ~TBaseConfigResponse() = default;
  TBaseConfigResponse(const TBaseConfigResponse&) = delete;
  TBaseConfigResponse& operator=(const TBaseConfigResponse&) = delete;

  [[nodiscard]] const std::string& Type() const { return FType; }

  // A new object ("type" first, then the kind's own keys); the caller owns it.
  [[nodiscard]] virtual std::unique_ptr<TJSONObject> ToJsonObject() const = 0;
  // Applies the kind's own keys of AValue (an object); "type" is not read.
  virtual void FromJSONObject(const TJSONValue& AValue) = 0;
  [[nodiscard]] std::string AsJSONString() const { return Json::Compact(*ToJsonObject()); }

 protected:
  explicit TBaseConfigResponse(std::string AType) : FType(std::move(AType)) {}

  std::string FType;
};

// A complete configuration for the service: "collector" (the root object of
// SvcConfig.json, passwords in their stored form) and "newVersion" (kept,
// not acted on).
class TCollectorConfigResponse final : public TBaseConfigResponse {
 public:
  static constexpr const char* TypeName = "collector";

  TCollectorConfigResponse() : TBaseConfigResponse(TypeName), FCollector(std::make_unique<TCollector>()) {}

  [[nodiscard]] const std::string& NewVersion() const { return FNewVersion; }
  // Owned by the response.
  [[nodiscard]] const TCollector& Collector() const { return *FCollector; }

  [[nodiscard]] std::unique_ptr<TJSONObject> ToJsonObject() const override;
  // "collector" must be present and an object (else EConfigResponseError): an
  // answer without one must not read as a configuration at its defaults,
  // which would drop every reader. A value of the wrong kind inside it raises
  // EConfigError with its key path.
  void FromJSONObject(const TJSONValue& AValue) override;

 private:
  std::string FNewVersion;
  std::unique_ptr<TCollector> FCollector;
};

// The server knows the service but holds no configuration for it yet:
// "pendingCollector" (its record of the service) and "error" (why, when it
// says).
class TPendingConfigResponse final : public TBaseConfigResponse {
 public:
  static constexpr const char* TypeName = "pendingCollector";

  TPendingConfigResponse()
      : TBaseConfigResponse(TypeName), FPendingCollector(std::make_unique<TPendingCollector>()) {}

  [[nodiscard]] const std::string& Error() const { return FError; }
  // True when Error() is not blank.
  [[nodiscard]] bool HasError() const;
  // Owned by the response.
  [[nodiscard]] const TPendingCollector& PendingCollector() const { return *FPendingCollector; }

  // Written with the "type" the factory recognises, so the form reads back.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJsonObject() const override;
  // A "pendingCollector" that is not an object is left out.
  void FromJSONObject(const TJSONValue& AValue) override;

 private:
  std::string FError;
  std::unique_ptr<TPendingCollector> FPendingCollector;
};

}  // namespace zor
