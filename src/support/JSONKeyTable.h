#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/Json.h"
#include "support/Utilities.h"

namespace zor {

// One table of keys per class drives its JSON round trip, its defaults and
// its content comparison, so ToJSONObject, FromJSONObject, the constructor's
// defaults and AreEqual cannot drift apart.
//
// Each entry names a key and how its value is written, read, reset and
// compared. Entries are written in table order (which is the document's key
// order) and read in table order (so a key whose reading depends on another,
// such as a port read only when its feature is enabled, comes after it).
//
//   static const TJSONKeyTable<TThing>& Keys() {
//     static const TJSONKeyTable<TThing> table = [] {
//       TJSONKeyTable<TThing> t;
//       t.Integer("id", &TThing::FID, -1, -1)
//        .String("name", &TThing::FName)
//        .Boolean("enabled", &TThing::FEnabled)
//        .Integer("port", &TThing::FPort, uint16_t{514}, uint16_t{0}).ReadWhen(&TThing::IsEnabled);
//       return t;
//     }();
//     return table;
//   }
//
// Fields are reached through pointers to data members (build the table in a
// member function, so private fields are reachable) or through a getter and a
// setter for values held elsewhere. Scalars are read through the value's text
// (Json::Text): numbers and booleans may also come as JSON strings; integers
// that do not convert (or do not fit) take the entry's "unreadable" value;
// booleans are true only for text that upper-cased is "TRUE".
//
// A built table is immutable and may be used from any thread.
template <class TOwner>
class TJSONKeyTable {
 public:
  using TWriteFn = std::function<TJSONValue(const TOwner&)>;
  using TReadFn = std::function<void(TOwner&, const TJSONValue&)>;
  using TResetFn = std::function<void(TOwner&)>;
  using TEqualFn = std::function<bool(const TOwner&, const TOwner&)>;
  using TConditionFn = std::function<bool(const TOwner&)>;
  using TTextFn = std::function<void(const TOwner&, std::string&)>;

  struct TEntry {
    std::string Key;
    TWriteFn Write;          // the value to write for this key
    TReadFn Read;            // applies a present value; empty: read by the owner itself
    TResetFn Reset;          // sets the default; empty: no default
    TEqualFn Equal;          // content comparison; empty: not compared
    TConditionFn WriteWhen;  // empty: always written
    TConditionFn ReadWhen;   // empty: always read when present
    TConditionFn HasData;    // whether this entry counts as data; empty: never
    // Appends the value's compact text (as Json::AppendCompact would write
    // Write's value) without building it; empty: through Write.
    TTextFn Text = {};
    std::string QuotedKey = {};  // the key as compact JSON text, then ':'
  };

  // --- building -------------------------------------------------------------

  // A string field, written as a JSON string and read as the value's text.
  // It counts as data (HasData) when it is not blank.
  TJSONKeyTable& String(std::string AKey, std::string TOwner::*AField, std::string ADefault = {}) {
    Add({std::move(AKey), [AField](const TOwner& AOwner) { return TJSONValue(AOwner.*AField); },
         [AField](TOwner& AOwner, const TJSONValue& AValue) { AOwner.*AField = Json::Text(AValue); },
         [AField, ADefault](TOwner& AOwner) { AOwner.*AField = ADefault; }, FieldEqual(AField), {}, {}, {},
         [AField](const TOwner& AOwner, std::string& AOut) { Json::AppendQuoted(AOut, AOwner.*AField); }});
    return DataWhen([AField](const TOwner& AOwner) { return !TUtilities::IsBlank(AOwner.*AField); });
  }
  // The same through a getter and a setter (callables or member functions).
  template <class TGet, class TSet>
  TJSONKeyTable& StringProperty(std::string AKey, TGet AGet, TSet ASet) {
    return Add({std::move(AKey), [AGet](const TOwner& AOwner) { return TJSONValue(std::invoke(AGet, AOwner)); },
                [ASet](TOwner& AOwner, const TJSONValue& AValue) { std::invoke(ASet, AOwner, Json::Text(AValue)); }, {},
                GetterEqual(AGet), {}, {}, {},
                [AGet](const TOwner& AOwner, std::string& AOut) { Json::AppendQuoted(AOut, std::invoke(AGet, AOwner)); }});
  }

  // An integer field, written as a JSON number. AUnreadable is taken when the
  // key is present but its text is not an integer that fits the field. It
  // counts as data when it is not 0.
  template <class TInt>
  TJSONKeyTable& Integer(std::string AKey, TInt TOwner::*AField, TInt ADefault, TInt AUnreadable) {
    static_assert(std::is_integral_v<TInt> && !std::is_same_v<TInt, bool>);
    Add({std::move(AKey), [AField](const TOwner& AOwner) { return TJSONValue(AOwner.*AField); },
         [AField, AUnreadable](TOwner& AOwner, const TJSONValue& AValue) {
           AOwner.*AField = Json::ToInteger<TInt>(AValue, AUnreadable);
         },
         [AField, ADefault](TOwner& AOwner) { AOwner.*AField = ADefault; }, FieldEqual(AField), {}, {}, {},
         [AField](const TOwner& AOwner, std::string& AOut) { Json::AppendInteger(AOut, AOwner.*AField); }});
    return DataWhen([AField](const TOwner& AOwner) { return AOwner.*AField != 0; });
  }
  template <class TInt, class TGet, class TSet>
  TJSONKeyTable& IntegerProperty(std::string AKey, TGet AGet, TSet ASet, TInt AUnreadable) {
    static_assert(std::is_integral_v<TInt> && !std::is_same_v<TInt, bool>);
    return Add({std::move(AKey), [AGet](const TOwner& AOwner) { return TJSONValue(static_cast<TInt>(std::invoke(AGet, AOwner))); },
                [ASet, AUnreadable](TOwner& AOwner, const TJSONValue& AValue) {
                  std::invoke(ASet, AOwner, Json::ToInteger<TInt>(AValue, AUnreadable));
                },
                {}, GetterEqual(AGet), {}, {}, {},
                [AGet](const TOwner& AOwner, std::string& AOut) {
                  Json::AppendInteger(AOut, static_cast<TInt>(std::invoke(AGet, AOwner)));
                }});
  }

  // A Boolean field, written as true/false.
  TJSONKeyTable& Boolean(std::string AKey, bool TOwner::*AField, bool ADefault = false) {
    return Add({std::move(AKey), [AField](const TOwner& AOwner) { return TJSONValue(AOwner.*AField); },
                [AField](TOwner& AOwner, const TJSONValue& AValue) { AOwner.*AField = Json::ToBoolean(AValue); },
                [AField, ADefault](TOwner& AOwner) { AOwner.*AField = ADefault; }, FieldEqual(AField), {}, {}, {},
                [AField](const TOwner& AOwner, std::string& AOut) { AOut += AOwner.*AField ? "true" : "false"; }});
  }

  // Anything else (enumerations by word, nested objects, arrays, encrypted
  // values): the caller says how to write and read it. An empty ARead leaves
  // the key to the owner (keys read together, such as an offset in two
  // parts). Not compared unless Compare is chained.
  TJSONKeyTable& Custom(std::string AKey, TWriteFn AWrite, TReadFn ARead, TResetFn AReset = {}) {
    return Add({std::move(AKey), std::move(AWrite), std::move(ARead), std::move(AReset), {}, {}, {}, {}});
  }

  // Modifiers of the entry added last.
  TJSONKeyTable& WriteWhen(TConditionFn ACondition) {
    Last().WriteWhen = std::move(ACondition);
    return *this;
  }
  TJSONKeyTable& ReadWhen(TConditionFn ACondition) {
    Last().ReadWhen = std::move(ACondition);
    return *this;
  }
  TJSONKeyTable& Compare(TEqualFn AEqual) {
    Last().Equal = std::move(AEqual);
    return *this;
  }
  TJSONKeyTable& NotCompared() {
    Last().Equal = nullptr;
    return *this;
  }
  TJSONKeyTable& DataWhen(TConditionFn ACondition) {
    Last().HasData = std::move(ACondition);
    return *this;
  }
  // How a custom entry appends its compact text directly; AText must write
  // exactly what Json::AppendCompact writes for the entry's Write value.
  TJSONKeyTable& TextWith(TTextFn AText) {
    Last().Text = std::move(AText);
    return *this;
  }

  // --- using ----------------------------------------------------------------

  // Appends this table's pairs to AObject (an object) in table order.
  void Write(const TOwner& AOwner, TJSONValue& AObject) const {
    for (const auto& entry : FEntries) {
      if (entry.WriteWhen && !entry.WriteWhen(AOwner)) continue;
      Json::Append(AObject, entry.Key, entry.Write(AOwner));
    }
  }

  // Appends the compact text of ToJSONObject(AOwner) to AOut (byte for
  // byte), without building the object.
  void AppendCompact(const TOwner& AOwner, std::string& AOut) const {
    AOut += '{';
    bool first = true;
    for (const auto& entry : FEntries) {
      if (entry.WriteWhen && !entry.WriteWhen(AOwner)) continue;
      if (!first) AOut += ',';
      first = false;
      AOut += entry.QuotedKey;
      if (entry.Text)
        entry.Text(AOwner, AOut);
      else
        Json::AppendCompact(AOut, entry.Write(AOwner));
    }
    AOut += '}';
  }

  // A new object holding this table's pairs; the caller owns it.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject(const TOwner& AOwner) const {
    auto object = std::make_unique<TJSONObject>(TJSONValue::object());
    Write(AOwner, *object);
    return object;
  }

  // Applies every key of the table that AObject holds, in table order; absent
  // keys leave their fields as they are. AObject must be an object (else
  // EJSONTypeError). Errors of a custom reader propagate; keys applied before
  // it keep their new values.
  void Read(TOwner& AOwner, const TJSONValue& AObject) const {
    Json::RequireObject(AObject, "JSON value");
    for (const auto& entry : FEntries) {
      if (!entry.Read) continue;
      const TJSONValue* value = Json::Find(AObject, entry.Key);
      if (value == nullptr) continue;
      if (entry.ReadWhen && !entry.ReadWhen(AOwner)) continue;
      entry.Read(AOwner, *value);
    }
  }

  // Sets every field that has a default.
  void SetDefaults(TOwner& AOwner) const {
    for (const auto& entry : FEntries) {
      if (entry.Reset) entry.Reset(AOwner);
    }
  }

  // True when every compared entry is equal in both.
  [[nodiscard]] bool AreEqual(const TOwner& AFirst, const TOwner& ASecond) const {
    for (const auto& entry : FEntries) {
      if (entry.Equal && !entry.Equal(AFirst, ASecond)) return false;
    }
    return true;
  }

  // True when any entry counts as data (non-blank strings, non-zero
  // integers, and whatever DataWhen says for the others).
  [[nodiscard]] bool HasData(const TOwner& AOwner) const {
    for (const auto& entry : FEntries) {
      if (entry.HasData && entry.HasData(AOwner)) return true;
    }
    return false;
  }

  [[nodiscard]] const std::vector<TEntry>& Entries() const { return FEntries; }

  // Blank: nothing left after removing every leading and trailing character
  // whose code is 32 or less.

 private:
  TJSONKeyTable& Add(TEntry&& AEntry) {
    for (const auto& entry : FEntries) {
      if (entry.Key == AEntry.Key) throw std::logic_error("duplicate JSON key in table: " + AEntry.Key);
    }
    Json::AppendQuoted(AEntry.QuotedKey, AEntry.Key);
    AEntry.QuotedKey += ':';
    FEntries.push_back(std::move(AEntry));
    return *this;
  }

  TEntry& Last() {
    if (FEntries.empty()) throw std::logic_error("JSON key table modifier before any entry");
    return FEntries.back();
  }

  template <class TField>
  static TEqualFn FieldEqual(TField TOwner::*AField) {
    return [AField](const TOwner& AFirst, const TOwner& ASecond) { return AFirst.*AField == ASecond.*AField; };
  }

  template <class TGet>
  static TEqualFn GetterEqual(TGet AGet) {
    return [AGet](const TOwner& AFirst, const TOwner& ASecond) { return std::invoke(AGet, AFirst) == std::invoke(AGet, ASecond); };
  }

  std::vector<TEntry> FEntries;
};

}  // namespace zor
