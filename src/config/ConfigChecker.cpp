#include "config/ConfigChecker.h"

#include <cctype>
#include <string_view>

#include "support/CryptoAPI.h"
#include "support/TextFile.h"

namespace zor {

namespace {

constexpr std::size_t MaxWrongKinds = 100;

// Which configuration class an object at some place of the document is.
enum class TObjectKind : uint8_t { okCollector, okReader, okSyslogReceiver, okBeatReceiver, okNone };

TObjectKind ChildKind(TObjectKind AParent, std::string_view AKey) {
  if (AParent == TObjectKind::okCollector && AKey == "interfaces") return TObjectKind::okReader;
  if (AParent == TObjectKind::okReader && AKey == "syslogReceivers") return TObjectKind::okSyslogReceiver;
  if (AParent == TObjectKind::okReader && AKey == "beatReceivers") return TObjectKind::okBeatReceiver;
  return TObjectKind::okNone;
}

bool IsKnownKey(TObjectKind AKind, std::string_view AKey) {
  switch (AKind) {
    case TObjectKind::okCollector: return TCollector::IsKey(AKey);
    case TObjectKind::okReader: return TCollectionInterface::IsKey(AKey);
    case TObjectKind::okSyslogReceiver: return TSyslogReceiver::IsKey(AKey);
    case TObjectKind::okBeatReceiver: return TBeatReceiver::IsKey(AKey);
    case TObjectKind::okNone: break;
  }
  return false;
}

bool IsPasswordKey(std::string_view AKey) { return AKey.ends_with("assword"); }

// Why a known key that the file holds is not used.
std::string IgnoredReason(std::string_view AKey) {
  if (AKey == "apmServerIp" || AKey == "apmServerPort") return "ignored while apmEnabled is not true";
  if (AKey == "forwardHeader" || AKey == "forwardIpList") {
    return "ignored: forwarding needs both a forwardHeader and a non-empty forwardIpList";
  }
  return "ignored with the other settings";
}

std::string Upper(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return AText;
}

std::string WithoutLineBreaks(std::string AText) {
  std::erase_if(AText, [](char c) { return c == '\r' || c == '\n'; });
  return AText;
}

// True when the service holds AValue as the file wrote it: the same text, a
// Boolean in any letter case, a stored password in any line breaking.
bool SameScalar(std::string_view AKey, const TJSONValue& AFile, const TJSONValue& AEffective) {
  const std::string file = Json::Text(AFile);
  const std::string effective = Json::Text(AEffective);
  if (file == effective) return true;
  if (AEffective.is_boolean()) return Upper(file) == Upper(effective);
  if (IsPasswordKey(AKey)) return WithoutLineBreaks(file) == WithoutLineBreaks(effective);
  return false;
}

class TDiff {
 public:
  explicit TDiff(std::vector<std::string>& AProblems) : FProblems(AProblems) {}

  // Reports every value of AFile that AEffective (the same place, written
  // back by the configuration classes) does not hold as written.
  void Object(const TJSONValue& AFile, const TJSONValue& AEffective, TObjectKind AKind,
              std::vector<std::string>& APath) {
    for (const auto& [key, value] : AFile.items()) {
      APath.push_back(key);
      const TJSONValue* effective = Json::Find(AEffective, key);
      if (effective == nullptr) {
        Missing(key, value, AKind, APath);
      } else {
        Value(key, value, *effective, ChildKind(AKind, key), APath);
      }
      APath.pop_back();
    }
  }

 private:
  void Value(std::string_view AKey, const TJSONValue& AFile, const TJSONValue& AEffective, TObjectKind AKind,
             std::vector<std::string>& APath) {
    if (AFile.is_object() && AEffective.is_object()) {
      Object(AFile, AEffective, AKind, APath);
    } else if (AFile.is_array() && AEffective.is_array()) {
      for (std::size_t i = 0; i < AFile.size() && i < AEffective.size(); ++i) {
        APath.push_back(std::to_string(i));
        Value(AKey, AFile[i], AEffective[i], AKind, APath);
        APath.pop_back();
      }
    } else if (AFile.is_structured() || AEffective.is_structured()) {
      Report(APath, std::string("expected a JSON ") + Json::TypeName(AEffective) + ", found " + Json::TypeName(AFile) +
                        "; read as " + Json::Compact(AEffective));
    } else if (!SameScalar(AKey, AFile, AEffective)) {
      Report(APath, Json::Compact(AFile) + " is read as " + Json::Compact(AEffective));
    }
  }

  void Missing(std::string_view AKey, const TJSONValue& AFile, TObjectKind AKind, std::vector<std::string>& APath) {
    if (!IsKnownKey(AKind, AKey)) {
      Report(APath, "unknown key, ignored");
    } else if (IsPasswordKey(AKey) && !AFile.is_structured()) {
      std::string plain;
      if (!JSONConfig::IsNotBlank(Json::Text(AFile))) {
        // An empty stored password is no password.
      } else if (TCryptoAPI::aesDecryptString(Json::Text(AFile), plain) != TCryptoAPI::CryptOK) {
        Report(APath, "the stored password cannot be decrypted (not written by this service); it is ignored");
      } else if (JSONConfig::IsNotBlank(plain)) {
        Report(APath, "ignored: a password is kept only with a user name");
      }
    } else if (JSONConfig::IsNotBlank(Json::Text(AFile)) || AFile.is_structured()) {
      Report(APath, IgnoredReason(AKey) + " (" + Json::Compact(AFile) + ")");
    }
  }

  void Report(const std::vector<std::string>& APath, const std::string& AMessage) {
    FProblems.push_back(EConfigError::PathText(APath) + ": " + AMessage);
  }

  std::vector<std::string>& FProblems;
};

// Replaces the value at APath in ADocument by an empty value of the kind the
// error expected, so that loading can go on past it with indexes unchanged.
bool MendAt(TJSONValue& ADocument, const EConfigError& AError) {
  TJSONValue* node = &ADocument;
  for (const auto& segment : AError.Path()) {
    if (node->is_object()) {
      const auto found = node->find(segment);
      if (found == node->end()) return false;
      node = &*found;
    } else if (node->is_array()) {
      const std::size_t index = std::stoul(segment);
      if (index >= node->size()) return false;
      node = &(*node)[index];
    } else {
      return false;
    }
  }
  if (AError.Detail().starts_with("expected a JSON array")) {
    *node = TJSONValue::array();
  } else if (AError.Detail().starts_with("expected a JSON object")) {
    *node = TJSONValue::object();
  } else {
    return false;
  }
  return true;
}

}  // namespace

TConfigChecker::TResult TConfigChecker::CheckFile(const std::string& AFileName) {
  TResult result;
  TJSONValue document;
  try {
    document = TCollector::ReadJsonFile(AFileName);
  } catch (const EZorError& e) {
    result.Problems.emplace_back(e.what());
    return result;
  }
  return CheckDocument(std::move(document));
}

TConfigChecker::TResult TConfigChecker::CheckDocument(TJSONValue ADocument) {
  TJSONValue& document = ADocument;
  TResult result;
  if (!document.is_object()) {
    result.Problems.push_back(std::string("expected a JSON object at the top, found ") + Json::TypeName(document));
    return result;
  }

  // Load, mending each value of the wrong kind in turn. Every mend empties a
  // value that was not empty of its kind, so this ends; each pass reads the
  // whole document again, so a hostile file stops at MaxWrongKinds.
  for (;;) {
    auto collector = std::make_unique<TCollector>();
    try {
      collector->FromJSONObject(document);
      result.Effective = std::move(collector);
      break;
    } catch (const EConfigError& e) {
      if (result.Problems.size() == MaxWrongKinds) {
        result.Problems.emplace_back("more values of the wrong kind follow; checking stopped");
        return result;
      }
      result.Problems.emplace_back(e.what());
      if (!MendAt(document, e)) return result;
    }
  }

  std::vector<std::string> path;
  TDiff(result.Problems).Object(document, *result.Effective->ToJSONObject(), TObjectKind::okCollector, path);
  return result;
}

}  // namespace zor
