// The configuration server's answers and the factory that reads them.
#include "management/BaseConfigResponse.h"
#include "management/ConfigResponseFactory.h"
#include "support/JSONConfig.h"

namespace zor {

namespace {

// An answer is quoted in an error message (and so in the log) at most this
// long: a server cannot fill the log with one answer.
constexpr size_t MaxQuotedAnswer = 4096;

std::string Quoted(std::string_view AText) {
  if (AText.size() <= MaxQuotedAnswer) return std::string(AText);
  return std::string(AText.substr(0, MaxQuotedAnswer)) + "... (" + std::to_string(AText.size()) + " bytes)";
}

}  // namespace

std::unique_ptr<TJSONObject> TCollectorConfigResponse::ToJsonObject() const {
  auto object = std::make_unique<TJSONObject>(TJSONValue::object());
  Json::Append(*object, "type", FType);
  Json::Append(*object, "collector", std::move(*FCollector->ToJSONObject()));
  Json::Append(*object, "newVersion", FNewVersion);
  return object;
}

void TCollectorConfigResponse::FromJSONObject(const TJSONValue& AValue) {
  const TJSONValue* collector = Json::Find(AValue, "collector");
  if (collector == nullptr || !collector->is_object())
    throw EConfigResponseError("Config response of type collector holds no collector object");
  // Through its compact text, as every configuration is read.
  JSONConfig::ReadAt("collector", [&] { FCollector = TCollector::GetFromJSONString(Json::Compact(*collector)); });
  if (const TJSONValue* version = Json::Find(AValue, "newVersion")) FNewVersion = Json::Text(*version);
}

bool TPendingConfigResponse::HasError() const { return JSONConfig::IsNotBlank(FError); }

std::unique_ptr<TJSONObject> TPendingConfigResponse::ToJsonObject() const {
  auto object = std::make_unique<TJSONObject>(TJSONValue::object());
  Json::Append(*object, "type", FType);
  Json::Append(*object, "pendingCollector", std::move(*FPendingCollector->ToJSONObject()));
  Json::Append(*object, "error", FError);
  return object;
}

void TPendingConfigResponse::FromJSONObject(const TJSONValue& AValue) {
  const TJSONValue* pending = Json::Find(AValue, "pendingCollector");
  if (pending != nullptr && pending->is_object()) {
    JSONConfig::ReadAt("pendingCollector",
                       [&] { FPendingCollector = TPendingCollector::GetFromJSONString(Json::Compact(*pending)); });
  }
  if (const TJSONValue* error = Json::Find(AValue, "error")) FError = Json::Text(*error);
}

std::unique_ptr<TBaseConfigResponse> TConfigResponseFactory::GetResponse(std::string_view AJsonString) {
  TJSONValue answer;
  try {
    answer = Json::Parse(AJsonString);
  } catch (const EJSONError&) {
    throw EConfigResponseError("Invalid Json String: " + Quoted(AJsonString));
  }
  if (!answer.is_object()) throw EConfigResponseError("Invalid Json String: " + Quoted(AJsonString));
  const TJSONValue* type = Json::Find(answer, "type");
  if (type == nullptr) throw EConfigResponseError("Config response type value not present");
  const std::string typeText = Json::Text(*type);
  std::unique_ptr<TBaseConfigResponse> response;
  if (typeText == TPendingConfigResponse::TypeName)
    response = std::make_unique<TPendingConfigResponse>();
  else if (typeText == TCollectorConfigResponse::TypeName)
    response = std::make_unique<TCollectorConfigResponse>();
  else
    throw EConfigResponseError("Invalid config response type value: " + Quoted(typeText) + ".");
  response->FromJSONObject(answer);
  return response;
}

}  // namespace zor
