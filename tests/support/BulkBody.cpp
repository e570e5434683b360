#include "support/BulkBody.h"

#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

namespace zor::test {

namespace {

class TJsonScanner {
 public:
  TJsonScanner(const char* ABegin, const char* AEnd) : FPos(ABegin), FEnd(AEnd) {}

  bool Document() {
    SkipBlanks();
    if (!Value(0)) return false;
    SkipBlanks();
    return FPos == FEnd;
  }
  // The first byte of the value (after blanks), 0 when there is none.
  char FirstByte() {
    const char* p = FPos;
    while (p < FEnd && IsBlank(*p)) ++p;
    return p < FEnd ? *p : '\0';
  }

 private:
  static bool IsBlank(char AChar) { return AChar == ' ' || AChar == '\t' || AChar == '\n' || AChar == '\r'; }
  static bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }
  void SkipBlanks() {
    while (FPos < FEnd && IsBlank(*FPos)) ++FPos;
  }
  bool Eat(char AChar) {
    if (FPos < FEnd && *FPos == AChar) {
      ++FPos;
      return true;
    }
    return false;
  }

  bool Value(int ADepth) {
    if (FPos >= FEnd) return false;
    switch (*FPos) {
      case '{': return Object(ADepth + 1);
      case '[': return Array(ADepth + 1);
      case '"': return String();
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number();
    }
  }
  bool Object(int ADepth) {
    if (ADepth > TBulkBody::MaxDepth) return false;
    ++FPos;
    SkipBlanks();
    if (Eat('}')) return true;
    for (;;) {
      SkipBlanks();
      if (FPos >= FEnd || *FPos != '"' || !String()) return false;
      SkipBlanks();
      if (!Eat(':')) return false;
      SkipBlanks();
      if (!Value(ADepth)) return false;
      SkipBlanks();
      if (Eat('}')) return true;
      if (!Eat(',')) return false;
    }
  }
  bool Array(int ADepth) {
    if (ADepth > TBulkBody::MaxDepth) return false;
    ++FPos;
    SkipBlanks();
    if (Eat(']')) return true;
    for (;;) {
      SkipBlanks();
      if (!Value(ADepth)) return false;
      SkipBlanks();
      if (Eat(']')) return true;
      if (!Eat(',')) return false;
    }
  }
  bool Literal(const char* AWord) {
    const size_t length = std::strlen(AWord);
    if (static_cast<size_t>(FEnd - FPos) < length || std::memcmp(FPos, AWord, length) != 0) return false;
    FPos += length;
    return true;
  }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
    } else if (FPos < FEnd && *FPos >= '1' && *FPos <= '9') {
      while (FPos < FEnd && IsDigit(*FPos)) ++FPos;
    } else {
      return false;
    }
    if (Eat('.')) {
      if (FPos >= FEnd || !IsDigit(*FPos)) return false;
      while (FPos < FEnd && IsDigit(*FPos)) ++FPos;
    }
    if (FPos < FEnd && (*FPos == 'e' || *FPos == 'E')) {
      ++FPos;
      if (!Eat('+')) Eat('-');
      if (FPos >= FEnd || !IsDigit(*FPos)) return false;
      while (FPos < FEnd && IsDigit(*FPos)) ++FPos;
    }
    return true;
  }
  static bool IsHex(char AChar) {
    return IsDigit(AChar) || (AChar >= 'a' && AChar <= 'f') || (AChar >= 'A' && AChar <= 'F');
  }
  bool String() {
    ++FPos;  // the opening quote
    while (FPos < FEnd) {
      const auto c = static_cast<unsigned char>(*FPos);
      if (c == '"') {
        ++FPos;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (FEnd - FPos < 2) return false;
        const char e = FPos[1];
        if (e == 'u') {
          if (FEnd - FPos < 6 || !IsHex(FPos[2]) || !IsHex(FPos[3]) || !IsHex(FPos[4]) || !IsHex(FPos[5]))
            return false;
          FPos += 6;
        } else if (std::strchr("\"\\/bfnrt", e) && e != '\0') {
          FPos += 2;
        } else {
          return false;
        }
        continue;
      }
      if (c < 0x80) {
        ++FPos;
        continue;
      }
      if (!Utf8Sequence()) return false;
    }
    return false;
  }
  // One multi-byte UTF-8 sequence (RFC 3629: no overlong forms, no
  // surrogates, nothing above U+10FFFF).
  bool Utf8Sequence() {
    const auto* p = reinterpret_cast<const unsigned char*>(FPos);
    const auto* end = reinterpret_cast<const unsigned char*>(FEnd);
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
      length = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
      length = 3;
      if (p[0] == 0xE0) low = 0xA0;
      if (p[0] == 0xED) high = 0x9F;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
      length = 4;
      if (p[0] == 0xF0) low = 0x90;
      if (p[0] == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - p < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (int i = 2; i < length; ++i)
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    FPos += length;
    return true;
  }

  const char* FPos;
  const char* FEnd;
};

[[noreturn]] void Fault(size_t ALine, const std::string& AWhat) {
  throw EBulkBodyError("line " + std::to_string(ALine) + ": " + AWhat);
}

std::unique_ptr<TBulkAction> ReadAction(std::string_view ALine, size_t ALineNumber) {
  if (!TBulkBody::IsJson(ALine)) Fault(ALineNumber, "the action line is not JSON");
  nlohmann::json action;
  try {
    action = nlohmann::json::parse(ALine);
  } catch (const nlohmann::json::exception& e) {
    // JSON by the grammar that the library still refuses (a number beyond
    // the range of a double).
    Fault(ALineNumber, std::string("the action line cannot be read: ") + e.what());
  }
  if (!action.is_object() || action.size() != 1) Fault(ALineNumber, "the action line is not an object with one action");
  auto result = std::make_unique<TBulkAction>();
  result->Line = ALine;
  result->Name = action.begin().key();
  if (result->Name != "index" && result->Name != "create") Fault(ALineNumber, "unsupported action [" + result->Name + "]");
  const nlohmann::json& metadata = action.begin().value();
  if (!metadata.is_object()) Fault(ALineNumber, "the action's metadata is not an object");
  for (const auto& [key, value] : metadata.items()) {
    if (key != "_index" && key != "_type" && key != "_id")
      Fault(ALineNumber, "the action line contains an unknown parameter [" + key + "]");
    if (!value.is_string()) Fault(ALineNumber, "the action's [" + key + "] is not a string");
  }
  const auto index = metadata.find("_index");
  if (index == metadata.end()) Fault(ALineNumber, "the action names no index");
  result->Index = index->get<std::string>();
  if (!TBulkBody::IsValidIndexName(result->Index)) Fault(ALineNumber, "invalid index name [" + result->Index + "]");
  result->HasType = metadata.contains("_type");
  const auto id = metadata.find("_id");
  if (id != metadata.end()) {
    result->Id = id->get<std::string>();
    // The server's own limits of a document id.
    if (result->Id.empty() || result->Id.size() > 512) Fault(ALineNumber, "invalid document id");
  }
  return result;
}

}  // namespace

bool TBulkBody::IsJson(std::string_view AText) {
  return TJsonScanner(AText.data(), AText.data() + AText.size()).Document();
}

bool TBulkBody::IsValidIndexName(std::string_view AName) {
  if (AName.empty() || AName.size() > 255 || AName == "." || AName == "..") return false;
  if (AName[0] == '-' || AName[0] == '_' || AName[0] == '+') return false;
  for (char c : AName) {
    if (c >= 'A' && c <= 'Z') return false;
    if (std::strchr("\\/*?\"<>|,#: ", c) && c != '\0') return false;
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

TBulkBody::TBulkBody(std::string_view ABody) {
  size_t lineNumber = 0;
  size_t pos = 0;
  const TBulkAction* action = nullptr;
  while (pos < ABody.size()) {
    ++lineNumber;
    const size_t lineEnd = ABody.find('\n', pos);
    if (lineEnd == std::string_view::npos) Fault(lineNumber, "the last line is not ended by a line break");
    std::string_view line = ABody.substr(pos, lineEnd - pos);
    pos = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) Fault(lineNumber, "an empty line");
    if (lineNumber % 2 == 1) {
      if (action && action->Line == line) continue;
      const auto known = FActions.find(line);
      if (known != FActions.end()) {
        action = known->second.get();
        continue;
      }
      auto read = ReadAction(line, lineNumber);
      action = read.get();
      FActions.emplace(std::string_view(read->Line), std::move(read));
      continue;
    }
    TJsonScanner scanner(line.data(), line.data() + line.size());
    if (scanner.FirstByte() != '{' || !scanner.Document()) Fault(lineNumber, "the document is not a JSON object");
    FItems.push_back({action, line});
  }
  if (lineNumber % 2 == 1) Fault(lineNumber, "an action line without a document");
}

}  // namespace zor::test
