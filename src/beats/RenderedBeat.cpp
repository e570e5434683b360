#include "beats/RenderedBeat.h"

namespace zor {

TRenderedBeat::TRenderedBeat(std::string_view AText, std::string_view AIdentity) : FTextSize(AText.size()) {
  FBuffer.reserve(AText.size() + AIdentity.size());
  FBuffer.append(AText);
  FBuffer.append(AIdentity);
}

std::unique_ptr<TRenderedBeat> TRenderedBeat::Render(const TLogBeat& ASource, std::string& AScratch) {
  AScratch.clear();
  ASource.AppendJSON(AScratch);
  const size_t textSize = AScratch.size();
  AScratch += ASource.IdentityText();
  const std::string_view all(AScratch);
  return std::unique_ptr<TRenderedBeat>(new TRenderedBeat(all.substr(0, textSize), all.substr(textSize)));
}

std::unique_ptr<TRenderedBeat> TRenderedBeat::CopyText() const {
  const std::string_view all(FBuffer);
  return std::unique_ptr<TRenderedBeat>(new TRenderedBeat(all.substr(0, FTextSize), all.substr(FTextSize)));
}

std::unique_ptr<TJSONObject> TRenderedBeat::ToJSONObject() const {
  return std::make_unique<TJSONObject>(Json::ParseObject(Text()));
}

void TRenderedBeat::FromJSONObject(const TJSONObject& AValue) {
  Json::RequireObject(AValue, "JSON value");
  TJSONValue object = Json::ParseObject(Text());
  for (const auto& [key, value] : AValue.items()) object[key] = value;
  std::string text;
  Json::AppendCompact(text, object);
  const std::string identity = IdentityText();
  FBuffer = text + identity;
  FTextSize = text.size();
}

}  // namespace zor
