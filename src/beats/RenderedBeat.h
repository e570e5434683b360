#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "beats/LogBeat.h"

namespace zor {

// A beat document kept as the compact JSON text of the document it was made
// from, written once by the thread that made it. The processing threads turn
// each event's document into one (so the text is written there, in parallel,
// and the document travels and is freed as one buffer instead of dozens of
// fields); the sender only copies the text into its bulk body.
//
// The text and the identity text (for the bulk "_id") share one buffer,
// allocated once. Used by one thread at a time, like every TLogBeat.
class TRenderedBeat : public TLogBeat {
 public:
  // The text and identity text of ASource, written into AScratch first (a
  // buffer the caller keeps from document to document, so that the text
  // grows there and is copied once at its final size). The routing fields
  // (day, destination, receipt) are not copied.
  [[nodiscard]] static std::unique_ptr<TRenderedBeat> Render(const TLogBeat& ASource, std::string& AScratch);
  // A copy of the text and identity text, without the routing fields.
  [[nodiscard]] std::unique_ptr<TRenderedBeat> CopyText() const;

  // The compact JSON text.
  [[nodiscard]] std::string_view Text() const { return std::string_view(FBuffer).substr(0, FTextSize); }

  [[nodiscard]] std::string IdentityText() const override { return FBuffer.substr(FTextSize); }
  // The parse of the text (a JSON object).
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const override;
  // Sets the keys of AValue (an object, else EJSONTypeError) in the text:
  // present keys keep their place, new ones come last.
  void FromJSONObject(const TJSONObject& AValue) override;
  void AppendJSON(std::string& AOut) const override { AOut.append(FBuffer, 0, FTextSize); }

 private:
  TRenderedBeat(std::string_view AText, std::string_view AIdentity);

  // The text, then the identity text.
  std::string FBuffer;
  size_t FTextSize;
};

}  // namespace zor
