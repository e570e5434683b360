#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/CryptoAPI.h"
#include "platform/Errors.h"
#include "support/JSONKeyTable.h"
#include "support/Json.h"

// What every configuration class (receivers, readers, the collector) shares
// around its key table: the JSON text forms, and load errors that say where in
// the document they were found.

namespace zor {

// A configuration value has the wrong JSON kind. Path() names where it is, one
// segment per level: keys ("interfaces", "port") and array indexes ("3").
// what() reads "interfaces[3].syslogReceivers: expected a JSON array, found number".
class EConfigError : public EZorError {
 public:
  EConfigError(std::vector<std::string> APath, std::string ADetail)
      : EZorError(Describe(APath, ADetail)), FPath(std::move(APath)), FDetail(std::move(ADetail)) {}

  [[nodiscard]] const std::vector<std::string>& Path() const { return FPath; }
  [[nodiscard]] const std::string& Detail() const { return FDetail; }

  // The path as people read it: keys joined with ".", indexes in brackets.
  [[nodiscard]] static std::string PathText(const std::vector<std::string>& APath) {
    std::string text;
    for (const auto& segment : APath) {
      const bool index = !segment.empty() && segment.find_first_not_of("0123456789") == std::string::npos;
      if (index) {
        text += "[" + segment + "]";
      } else {
        if (!text.empty()) text += '.';
        text += segment;
      }
    }
    return text;
  }

 private:
  static std::string Describe(const std::vector<std::string>& APath, const std::string& ADetail) {
    return APath.empty() ? ADetail : PathText(APath) + ": " + ADetail;
  }

  std::vector<std::string> FPath;
  std::string FDetail;
};

namespace JSONConfig {

// Runs ARead(); an EConfigError or a JSON type error it raises is raised again
// with ASegment in front of its path, so the outermost caller learns the whole
// path of the bad value.
template <class TFn>
void ReadAt(std::string_view ASegment, TFn&& ARead) {
  try {
    std::forward<TFn>(ARead)();
  } catch (const EConfigError& e) {
    std::vector<std::string> path{std::string(ASegment)};
    path.insert(path.end(), e.Path().begin(), e.Path().end());
    throw EConfigError(std::move(path), e.Detail());
  } catch (const EJSONTypeError& e) {
    throw EConfigError({std::string(ASegment)}, e.what());
  }
}

// AValue when it is an array (object); else EConfigError "expected a JSON array, found ...".
inline const TJSONValue& RequireArray(const TJSONValue& AValue) {
  if (!AValue.is_array()) throw EConfigError({}, std::string("expected a JSON array, found ") + Json::TypeName(AValue));
  return AValue;
}
inline const TJSONValue& RequireObject(const TJSONValue& AValue) {
  if (!AValue.is_object()) {
    throw EConfigError({}, std::string("expected a JSON object, found ") + Json::TypeName(AValue));
  }
  return AValue;
}

// True when AText holds something other than characters of code 32 or less:
// the test for "not blank" that decides whether a name or password is written.
[[nodiscard]] inline bool IsNotBlank(std::string_view AText) {
  for (char c : AText) {
    if (static_cast<unsigned char>(c) > 32) return true;
  }
  return false;
}

// A JSON array of strings, in order.
[[nodiscard]] inline TJSONValue StringListToJSON(const std::vector<std::string>& AList) {
  TJSONValue array = TJSONValue::array();
  for (const auto& text : AList) array.push_back(text);
  return array;
}

// Replaces AList with the text of every element of AValue, which must be an array.
inline void StringListFromJSON(const TJSONValue& AValue, std::vector<std::string>& AList) {
  const auto& array = RequireArray(AValue);
  AList.clear();
  AList.reserve(array.size());
  for (const auto& element : array) AList.push_back(Json::Text(element));
}

// An enumeration stored as its ordinal; an ordinal that is not an integer or
// is above AMaximum reads as the enumeration's 0.
template <class TOwner, class TEnum>
TJSONKeyTable<TOwner>& AddOrdinal(TJSONKeyTable<TOwner>& ATable, std::string AKey, TEnum TOwner::*AField,
                                  TEnum AMaximum) {
  using TBase = std::underlying_type_t<TEnum>;
  ATable.Custom(
      std::move(AKey), [AField](const TOwner& AOwner) { return TJSONValue(static_cast<TBase>(AOwner.*AField)); },
      [AField, AMaximum](TOwner& AOwner, const TJSONValue& AValue) {
        const int value = Json::ToInteger<int>(AValue, 0);
        AOwner.*AField = value >= 0 && value <= static_cast<int>(AMaximum) ? static_cast<TEnum>(value) : TEnum{};
      },
      [AField](TOwner& AOwner) { AOwner.*AField = TEnum{}; });
  return ATable.Compare([AField](const TOwner& A1, const TOwner& A2) { return A1.*AField == A2.*AField; });
}

// A Boolean that is true unless its text, upper-cased, is "FALSE"; default true.
template <class TOwner>
TJSONKeyTable<TOwner>& AddTrueUnlessFalse(TJSONKeyTable<TOwner>& ATable, std::string AKey, bool TOwner::*AField) {
  ATable.Custom(
      std::move(AKey), [AField](const TOwner& AOwner) { return TJSONValue(AOwner.*AField); },
      [AField](TOwner& AOwner, const TJSONValue& AValue) {
        std::string text = Json::Text(AValue);
        for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        AOwner.*AField = text != "FALSE";
      },
      [AField](TOwner& AOwner) { AOwner.*AField = true; });
  return ATable.Compare([AField](const TOwner& A1, const TOwner& A2) { return A1.*AField == A2.*AField; });
}

// How a password key behaves; the configuration classes differ in each point.
template <class TOwner>
struct TPasswordRules {
  // The key is written only when this holds (and the password is not blank,
  // unless AlsoWhenBlank).
  std::function<bool(const TOwner&)> WriteWhen;
  bool AlsoWhenBlank = false;
  // Leave the key out when encryption fails (else the text written is
  // whatever encryption left, the empty text).
  bool OmitWhenEncryptionFails = false;
  // A stored text that does not decrypt empties the field (else it stays).
  bool EmptyWhenUndecryptable = false;
};

// Adds a password entry: clear text in AField, the stored text of TCryptoAPI
// in JSON. The entry is compared (exact text); chain NotCompared() to drop that.
template <class TOwner>
TJSONKeyTable<TOwner>& AddPassword(TJSONKeyTable<TOwner>& ATable, std::string AKey, std::string TOwner::*AField,
                                   TPasswordRules<TOwner> ARules) {
  const auto encrypt = [AField](const TOwner& AOwner, std::string& AText) {
    return TCryptoAPI::aesEncryptString(AOwner.*AField, AText);
  };
  ATable.Custom(
      std::move(AKey),
      [encrypt](const TOwner& AOwner) {
        std::string text;
        (void)encrypt(AOwner, text);
        return TJSONValue(std::move(text));
      },
      [AField, ARules](TOwner& AOwner, const TJSONValue& AValue) {
        std::string plain;
        if (TCryptoAPI::aesDecryptString(Json::Text(AValue), plain) == TCryptoAPI::CryptOK) {
          AOwner.*AField = std::move(plain);
        } else if (ARules.EmptyWhenUndecryptable) {
          AOwner.*AField = std::string();
        }
      },
      [AField](TOwner& AOwner) { AOwner.*AField = std::string(); });
  ATable.Compare([AField](const TOwner& A1, const TOwner& A2) { return A1.*AField == A2.*AField; });
  ATable.WriteWhen([AField, ARules, encrypt](const TOwner& AOwner) {
    if (ARules.WriteWhen && !ARules.WriteWhen(AOwner)) return false;
    if (!ARules.AlsoWhenBlank && !IsNotBlank(AOwner.*AField)) return false;
    std::string text;
    return !ARules.OmitWhenEncryptionFails || encrypt(AOwner, text) == TCryptoAPI::CryptOK;
  });
  return ATable;
}

}  // namespace JSONConfig

// The JSON round trip every configuration class shares, driven by its key
// table: TDerived provides `static const TJSONKeyTable<TDerived>& Keys()`
// (private, with TJSONConfig<TDerived> a friend, so the table reaches private
// fields) and calls Keys().SetDefaults(*this) in its default constructor. A
// class with rules that span keys hides FromJSONObject with its own and calls
// ReadKeys from it.
template <class TDerived>
class TJSONConfig {
 public:
  // A new object with the table's keys in table order; the caller owns it.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const { return TDerived::Keys().ToJSONObject(Self()); }

  // Applies the keys AValue holds (absent keys leave their fields alone).
  // AValue must be an object. A value of the wrong kind raises EConfigError
  // with its path; keys applied before it keep their new values.
  void FromJSONObject(const TJSONValue& AValue) { ReadKeys(AValue); }

  // True when AKey is one of the keys of the class's JSON form.
  [[nodiscard]] static bool IsKey(std::string_view AKey) {
    for (const auto& entry : TDerived::Keys().Entries()) {
      if (entry.Key == AKey) return true;
    }
    return false;
  }

  // True when every compared key of the table is equal in both.
  [[nodiscard]] static bool AreEqual(const TDerived& AFirst, const TDerived& ASecond) {
    return TDerived::Keys().AreEqual(AFirst, ASecond);
  }

  // Compact, pure-ASCII JSON text of ToJSONObject.
  [[nodiscard]] std::string AsJSONString() const { return Json::Compact(*Self().ToJSONObject()); }

  // Parses AText, which must be a JSON object (else EJSONError or
  // EConfigError), and applies it with FromJSONObject.
  void SetAsJSONString(std::string_view AText) {
    const TJSONValue value = Json::Parse(AText);
    static_cast<TDerived&>(*this).FromJSONObject(JSONConfig::RequireObject(value));
  }

  // A new object at its defaults with AText applied; the caller owns it.
  [[nodiscard]] static std::unique_ptr<TDerived> GetFromJSONString(std::string_view AText) {
    auto result = std::make_unique<TDerived>();
    result->SetAsJSONString(AText);
    return result;
  }

 protected:
  void ReadKeys(const TJSONValue& AValue) {
    JSONConfig::RequireObject(AValue);
    auto& self = static_cast<TDerived&>(*this);
    for (const auto& entry : TDerived::Keys().Entries()) {
      const TJSONValue* value = Json::Find(AValue, entry.Key);
      if (value == nullptr || (entry.ReadWhen && !entry.ReadWhen(self))) continue;
      JSONConfig::ReadAt(entry.Key, [&] { entry.Read(self, *value); });
    }
  }

  TJSONConfig() = default;
  ~TJSONConfig() = default;
  TJSONConfig(const TJSONConfig&) = default;
  TJSONConfig& operator=(const TJSONConfig&) = default;

 private:
  const TDerived& Self() const { return static_cast<const TDerived&>(*this); }
};

}  // namespace zor
