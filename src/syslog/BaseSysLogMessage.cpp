#include "syslog/BaseSysLogMessage.h"

namespace zor {

void TBaseSysLogMessage::CheckSendToIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= SendToCount())
    throw ESyslogError(TUtilities::Format("List index out of bounds (%d)", AIndex));
}

const TDestinationHost& TBaseSysLogMessage::GetSendTo(int AIndex) const {
  CheckSendToIndex(AIndex);
  return *FSendTo[static_cast<size_t>(AIndex)];
}

void TBaseSysLogMessage::SetSendTo(int AIndex, std::unique_ptr<TDestinationHost>&& AValue) {
  CheckSendToIndex(AIndex);
  FSendTo[static_cast<size_t>(AIndex)] = std::move(AValue);
}

void TBaseSysLogMessage::AddSendTo(std::unique_ptr<TDestinationHost>&& AValue) { FSendTo.push_back(std::move(AValue)); }

void TBaseSysLogMessage::DeleteSendTo(int AIndex) {
  CheckSendToIndex(AIndex);
  FSendTo.erase(FSendTo.begin() + AIndex);
}

TJSONValue TBaseSysLogMessage::SendToJSONArray() const {
  TJSONValue array = TJSONValue::array();
  for (const auto& destination : FSendTo) array.push_back(std::move(*destination->ToJSONObject()));
  return array;
}

void TBaseSysLogMessage::AddSendToFromJSONArray(const TJSONValue& AValue) {
  for (const auto& element : Json::RequireArray(AValue, "sendTo")) {
    AddSendTo(TDestinationHost::GetFromJSONObject(Json::RequireObject(element, "sendTo element")));
  }
}

void TBaseSysLogMessage::CopyBaseFields(const TBaseSysLogMessage& ASource) {
  FPriority = ASource.FPriority;
  FCategory = ASource.FCategory;
  FDestinationHost = ASource.FDestinationHost;
  FDestinationPort = ASource.FDestinationPort;
  FSendMessageOnly = ASource.FSendMessageOnly;
  FText = ASource.FText;
  FFraming = ASource.FFraming;
}

}  // namespace zor
