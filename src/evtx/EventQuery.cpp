#include "evtx/EventQuery.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

namespace zor {

namespace query {

// ---------------------------------------------------------------------------
// Compiled form

enum class TExprKind : uint8_t { Or, And, Compare, Path, String, Number, Position, Band, TimeDiff };
enum class TCmpOp : uint8_t { Eq, Ne, Lt, Le, Gt, Ge };

// Numbers keep integers exact: record ids and keywords exceed 2^53.
struct TNumber {
  bool Integral = true;
  __int128 Int = 0;
  double Real = 0;
};

struct TStep {
  enum class TKind : uint8_t { Element, AnyElement, Text };
  TKind Kind = TKind::Element;
  std::string Name;
  std::vector<std::unique_ptr<TExpr>> Predicates;
};

struct TExpr {
  TExprKind Kind = TExprKind::Or;
  TCmpOp Op = TCmpOp::Eq;
  std::vector<std::unique_ptr<TExpr>> Args;  // operands of and/or/compare, function arguments
  // Path: element steps from the context node, then an optional attribute.
  // FromRoot: the first step tests the event element itself (the top of a query).
  std::vector<TStep> Steps;
  std::string Attribute;
  bool HasAttribute = false;
  bool FromRoot = false;
  std::string Text;  // string literal
  TNumber Number;    // number literal
};

namespace {

// ---------------------------------------------------------------------------
// Lexer

enum class TTok : uint8_t {
  End, Name, String, Number, Star, At, Slash, DoubleSlash, LBracket, RBracket, LParen, RParen, Comma,
  Eq, Ne, Lt, Le, Gt, Ge, AxisSep, Other
};

struct TToken {
  TTok Kind = TTok::End;
  std::string_view Text;
  size_t Offset = 0;
};

bool IsNameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || std::isdigit(c) || c == '-' || c == '.'; }

std::vector<TToken> Tokenize(std::string_view AText) {
  std::vector<TToken> tokens;
  size_t i = 0;
  const size_t n = AText.size();
  while (true) {
    while (i < n && std::isspace(static_cast<unsigned char>(AText[i]))) ++i;
    if (i >= n) break;
    const size_t start = i;
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    auto push = [&](TTok AKind, size_t ALength) {
      tokens.push_back({AKind, AText.substr(start, ALength), start});
      i = start + ALength;
    };
    const char next = i + 1 < n ? AText[i + 1] : '\0';
    if (IsNameStart(c)) {
      size_t j = i + 1;
      while (j < n && IsNameChar(static_cast<unsigned char>(AText[j]))) ++j;
      push(TTok::Name, j - i);
    } else if (std::isdigit(c) || (c == '.' && std::isdigit(static_cast<unsigned char>(next)))) {
      size_t j = i;
      while (j < n && std::isdigit(static_cast<unsigned char>(AText[j]))) ++j;
      if (j < n && AText[j] == '.') {
        ++j;
        while (j < n && std::isdigit(static_cast<unsigned char>(AText[j]))) ++j;
      }
      push(TTok::Number, j - i);
    } else if (c == '\'' || c == '"') {
      const size_t close = AText.find(static_cast<char>(c), i + 1);
      if (close == std::string_view::npos) throw EQueryError("unterminated string literal", start);
      tokens.push_back({TTok::String, AText.substr(i + 1, close - i - 1), start});
      i = close + 1;
    } else {
      switch (c) {
        case '*': push(TTok::Star, 1); break;
        case '@': push(TTok::At, 1); break;
        case '/': next == '/' ? push(TTok::DoubleSlash, 2) : push(TTok::Slash, 1); break;
        case '[': push(TTok::LBracket, 1); break;
        case ']': push(TTok::RBracket, 1); break;
        case '(': push(TTok::LParen, 1); break;
        case ')': push(TTok::RParen, 1); break;
        case ',': push(TTok::Comma, 1); break;
        case '=': push(TTok::Eq, 1); break;
        case '!':
          if (next != '=') throw EQueryError("unexpected '!'", start);
          push(TTok::Ne, 2);
          break;
        case '<': next == '=' ? push(TTok::Le, 2) : push(TTok::Lt, 1); break;
        case '>': next == '=' ? push(TTok::Ge, 2) : push(TTok::Gt, 1); break;
        case ':': next == ':' ? push(TTok::AxisSep, 2) : push(TTok::Other, 1); break;
        default: push(TTok::Other, 1); break;
      }
    }
  }
  tokens.push_back({TTok::End, {}, n});
  return tokens;
}

// ---------------------------------------------------------------------------
// Parser (recursive descent over the grammar of the supported subset)

constexpr int MaxDepth = 64;

class TParser {
 public:
  explicit TParser(std::string_view AText) : FTokens(Tokenize(AText)) {}

  // The whole query: a path from the event element, e.g. `*[...]`, `Event/System[...]`.
  std::unique_ptr<TExpr> ParseQuery() {
    if (Peek().Kind == TTok::Slash) Fail("absolute paths are not supported");
    if (Peek().Kind == TTok::DoubleSlash) Fail("the descendant axis is not supported");
    auto path = std::make_unique<TExpr>();
    path->Kind = TExprKind::Path;
    path->FromRoot = true;
    ParseSteps(*path, 0);
    if (path->HasAttribute) Fail("a query cannot select an attribute", Peek().Offset);
    const TStep& root = path->Steps.front();
    if (root.Kind == TStep::TKind::Text || (root.Kind == TStep::TKind::Element && root.Name != "Event"))
      Fail("a query starts with * or Event", 0);
    if (Peek().Kind != TTok::End) FailUnexpected();
    return path;
  }

 private:
  const TToken& Peek(size_t AAhead = 0) const { return FTokens[std::min(FPos + AAhead, FTokens.size() - 1)]; }
  const TToken& Take() { return FTokens[std::min(FPos++, FTokens.size() - 1)]; }
  bool Accept(TTok AKind) {
    if (Peek().Kind != AKind) return false;
    ++FPos;
    return true;
  }
  void Expect(TTok AKind, const char* AWhat) {
    if (!Accept(AKind)) Fail(std::string("expected ") + AWhat);
  }
  [[noreturn]] void Fail(const std::string& AMessage) const { Fail(AMessage, Peek().Offset); }
  [[noreturn]] static void Fail(const std::string& AMessage, size_t AOffset) { throw EQueryError(AMessage, AOffset); }
  [[noreturn]] void FailUnexpected() const {
    const TToken& t = Peek();
    if (t.Kind == TTok::End) Fail("unexpected end of query");
    Fail("unexpected '" + std::string(t.Text) + "'");
  }
  static bool IsKeyword(const TToken& AToken, const char* AKeyword) {
    if (AToken.Kind != TTok::Name || AToken.Text.size() != std::strlen(AKeyword)) return false;
    for (size_t i = 0; i < AToken.Text.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(AToken.Text[i])) != AKeyword[i]) return false;
    // Lower case is XPath; upper case appears in published examples. Mixed case is neither.
    return AToken.Text == AKeyword || std::all_of(AToken.Text.begin(), AToken.Text.end(), [](char c) {
             return std::isupper(static_cast<unsigned char>(c));
           });
  }
  void CheckDepth(int ADepth) const {
    if (ADepth > MaxDepth) Fail("query nested too deeply");
  }

  std::unique_ptr<TExpr> ParseOr(int ADepth) {
    CheckDepth(ADepth);
    return ParseChain(TExprKind::Or, "or", ADepth, &TParser::ParseAnd);
  }

  std::unique_ptr<TExpr> ParseAnd(int ADepth) {
    return ParseChain(TExprKind::And, "and", ADepth, &TParser::ParseCompare);
  }

  // AOperand ( AKeyword AOperand )*, one node for the whole chain.
  std::unique_ptr<TExpr> ParseChain(TExprKind AKind, const char* AKeyword, int ADepth,
                                    std::unique_ptr<TExpr> (TParser::*AOperand)(int)) {
    auto left = (this->*AOperand)(ADepth);
    if (!IsKeyword(Peek(), AKeyword)) return left;
    auto node = std::make_unique<TExpr>();
    node->Kind = AKind;
    node->Args.push_back(std::move(left));
    while (IsKeyword(Peek(), AKeyword)) {
      Take();
      node->Args.push_back((this->*AOperand)(ADepth));
    }
    return node;
  }

  std::unique_ptr<TExpr> ParseCompare(int ADepth) {
    auto left = ParseOperand(ADepth);
    std::optional<TCmpOp> op;
    switch (Peek().Kind) {
      case TTok::Eq: op = TCmpOp::Eq; break;
      case TTok::Ne: op = TCmpOp::Ne; break;
      case TTok::Lt: op = TCmpOp::Lt; break;
      case TTok::Le: op = TCmpOp::Le; break;
      case TTok::Gt: op = TCmpOp::Gt; break;
      case TTok::Ge: op = TCmpOp::Ge; break;
      default: CheckNoArithmetic(); return left;
    }
    Take();
    auto node = std::make_unique<TExpr>();
    node->Kind = TExprKind::Compare;
    node->Op = *op;
    node->Args.push_back(std::move(left));
    node->Args.push_back(ParseOperand(ADepth));
    CheckNoArithmetic();
    switch (Peek().Kind) {
      case TTok::Eq: case TTok::Ne: case TTok::Lt: case TTok::Le: case TTok::Gt: case TTok::Ge:
        Fail("chained comparisons are not supported");
      default: break;
    }
    return node;
  }

  void CheckNoArithmetic() const {
    const TToken& t = Peek();
    if (t.Kind == TTok::Star || (t.Kind == TTok::Other && (t.Text == "+" || t.Text == "-")) ||
        (t.Kind == TTok::Name && (t.Text == "div" || t.Text == "mod")))
      Fail("arithmetic is not supported");
    if (t.Kind == TTok::Other && t.Text == "|") Fail("union is not supported");
  }

  std::unique_ptr<TExpr> ParseOperand(int ADepth) {
    CheckDepth(ADepth);
    const TToken& t = Peek();
    auto node = std::make_unique<TExpr>();
    switch (t.Kind) {
      case TTok::String:
        node->Kind = TExprKind::String;
        node->Text = std::string(Take().Text);
        return node;
      case TTok::Number:
        node->Kind = TExprKind::Number;
        node->Number = ParseNumberLiteral(Take());
        return node;
      case TTok::LParen: {
        Take();
        auto inner = ParseOr(ADepth + 1);
        Expect(TTok::RParen, "')'");
        return inner;
      }
      case TTok::Name:
        if (Peek(1).Kind == TTok::LParen && t.Text != "text" && t.Text != "node") return ParseCall(ADepth);
        [[fallthrough]];
      case TTok::Star:
      case TTok::At:
        node->Kind = TExprKind::Path;
        ParseSteps(*node, ADepth);
        return node;
      case TTok::Slash: Fail("absolute paths are not supported");
      case TTok::DoubleSlash: Fail("the descendant axis is not supported");
      case TTok::Other:
        if (t.Text == "$") Fail("variables are not supported");
        if (t.Text == ".") Fail("the self and parent axes are not supported");
        if (t.Text == "-") Fail("arithmetic is not supported");
        FailUnexpected();
      default: FailUnexpected();
    }
  }

  static TNumber ParseNumberLiteral(const TToken& AToken) {
    TNumber number;
    const std::string text(AToken.Text);
    if (text.find('.') == std::string::npos && text.size() <= 30) {
      for (char c : text) number.Int = number.Int * 10 + (c - '0');
      number.Real = static_cast<double>(number.Int);
    } else {
      number.Integral = false;
      number.Real = std::strtod(text.c_str(), nullptr);
    }
    return number;
  }

  std::unique_ptr<TExpr> ParseCall(int ADepth) {
    const TToken& name = Take();
    const size_t offset = name.Offset;
    Expect(TTok::LParen, "'('");
    auto node = std::make_unique<TExpr>();
    std::vector<std::unique_ptr<TExpr>> args;
    if (Peek().Kind != TTok::RParen) {
      args.push_back(ParseOr(ADepth + 1));
      while (Accept(TTok::Comma)) args.push_back(ParseOr(ADepth + 1));
    }
    Expect(TTok::RParen, "')'");
    if (name.Text == "position") {
      if (!args.empty()) Fail("position() takes no arguments", offset);
      node->Kind = TExprKind::Position;
    } else if (name.Text == "band") {
      if (args.size() != 2) Fail("band() takes two arguments", offset);
      node->Kind = TExprKind::Band;
    } else if (name.Text == "timediff") {
      if (args.empty() || args.size() > 2) Fail("timediff() takes one or two arguments", offset);
      node->Kind = TExprKind::TimeDiff;
    } else {
      Fail("function " + std::string(name.Text) + "() is not supported", offset);
    }
    node->Args = std::move(args);
    return node;
  }

  // Step ('/' Step)* ('/' '@' Name)?  |  '@' Name
  void ParseSteps(TExpr& APath, int ADepth) {
    while (true) {
      if (ParseAttribute(APath)) return;
      APath.Steps.push_back(ParseStep(ADepth));
      if (Peek().Kind == TTok::DoubleSlash) Fail("the descendant axis is not supported");
      if (!Accept(TTok::Slash)) return;
    }
  }

  bool ParseAttribute(TExpr& APath) {
    bool attribute = Accept(TTok::At);
    if (!attribute && Peek().Kind == TTok::Name && Peek(1).Kind == TTok::AxisSep && Peek().Text == "attribute") {
      FPos += 2;
      attribute = true;
    }
    if (!attribute) return false;
    if (Peek().Kind != TTok::Name) Fail("expected an attribute name");
    APath.Attribute = std::string(Take().Text);
    CheckNoPrefix();
    APath.HasAttribute = true;
    if (Peek().Kind == TTok::LBracket) Fail("predicates on attributes are not supported");
    if (Peek().Kind == TTok::Slash || Peek().Kind == TTok::DoubleSlash) Fail("an attribute has no children");
    return true;
  }

  void CheckNoPrefix() const {
    if (Peek().Kind == TTok::Other && Peek().Text == ":") Fail("namespace prefixes are not supported");
  }

  TStep ParseStep(int ADepth) {
    TStep step;
    if (Peek().Kind == TTok::Name && Peek(1).Kind == TTok::AxisSep) {
      if (Peek().Text != "child") Fail("the " + std::string(Peek().Text) + " axis is not supported");
      FPos += 2;
    }
    const TToken& t = Peek();
    if (t.Kind == TTok::Star) {
      Take();
      step.Kind = TStep::TKind::AnyElement;
    } else if (t.Kind == TTok::Name) {
      if (Peek(1).Kind == TTok::LParen) {
        if (t.Text != "text") Fail("node test " + std::string(t.Text) + "() is not supported");
        FPos += 2;
        Expect(TTok::RParen, "')'");
        step.Kind = TStep::TKind::Text;
      } else {
        step.Name = std::string(Take().Text);
        CheckNoPrefix();
      }
    } else if (t.Kind == TTok::Other && t.Text == ".") {
      Fail("the self and parent axes are not supported");
    } else {
      FailUnexpected();
    }
    while (Accept(TTok::LBracket)) {
      step.Predicates.push_back(ParseOr(ADepth + 1));
      Expect(TTok::RBracket, "']'");
    }
    return step;
  }

  std::vector<TToken> FTokens;
  size_t FPos = 0;
};

// ---------------------------------------------------------------------------
// Value conversions on rendered text

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.front()))) AText.remove_prefix(1);
  while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.back()))) AText.remove_suffix(1);
  return AText;
}

// Decimal (optionally signed, optionally with a fraction) or 0x hexadecimal,
// as HexInt values render.
std::optional<TNumber> ToNumber(std::string_view AText) {
  AText = Trim(AText);
  if (AText.empty()) return std::nullopt;
  TNumber number;
  if (AText.size() > 2 && AText[0] == '0' && (AText[1] == 'x' || AText[1] == 'X')) {
    if (AText.size() > 2 + 16) return std::nullopt;
    for (char c : AText.substr(2)) {
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return std::nullopt;
      number.Int = number.Int * 16 + digit;
    }
    number.Real = static_cast<double>(number.Int);
    return number;
  }
  bool negative = false;
  size_t i = 0;
  if (AText[0] == '-') {
    negative = true;
    i = 1;
  }
  size_t digits = 0;
  size_t j = i;
  while (j < AText.size() && std::isdigit(static_cast<unsigned char>(AText[j]))) ++j, ++digits;
  if (j == AText.size()) {
    if (digits == 0 || digits > 30) return std::nullopt;
    for (size_t k = i; k < j; ++k) number.Int = number.Int * 10 + (AText[k] - '0');
    if (negative) number.Int = -number.Int;
    number.Real = static_cast<double>(number.Int);
    return number;
  }
  if (AText[j] != '.') return std::nullopt;
  size_t k = j + 1;
  size_t fraction = 0;
  while (k < AText.size() && std::isdigit(static_cast<unsigned char>(AText[k]))) ++k, ++fraction;
  if (k != AText.size() || digits + fraction == 0) return std::nullopt;
  number.Integral = false;
  number.Real = std::strtod(std::string(AText).c_str(), nullptr);
  return number;
}

int CompareNumbers(const TNumber& A, const TNumber& B) {
  if (A.Integral && B.Integral) return A.Int < B.Int ? -1 : (A.Int > B.Int ? 1 : 0);
  return A.Real < B.Real ? -1 : (A.Real > B.Real ? 1 : 0);
}

bool Holds(TCmpOp AOp, int AOrder) {
  switch (AOp) {
    case TCmpOp::Eq: return AOrder == 0;
    case TCmpOp::Ne: return AOrder != 0;
    case TCmpOp::Lt: return AOrder < 0;
    case TCmpOp::Le: return AOrder <= 0;
    case TCmpOp::Gt: return AOrder > 0;
    case TCmpOp::Ge: return AOrder >= 0;
  }
  return false;
}

TCmpOp Mirror(TCmpOp AOp) {
  switch (AOp) {
    case TCmpOp::Lt: return TCmpOp::Gt;
    case TCmpOp::Le: return TCmpOp::Ge;
    case TCmpOp::Gt: return TCmpOp::Lt;
    case TCmpOp::Ge: return TCmpOp::Le;
    default: return AOp;
  }
}

bool ReadDigits(std::string_view AText, size_t APos, size_t ACount, int& AValue) {
  if (APos + ACount > AText.size()) return false;
  AValue = 0;
  for (size_t i = APos; i < APos + ACount; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(AText[i]))) return false;
    AValue = AValue * 10 + (AText[i] - '0');
  }
  return true;
}

// "YYYY-MM-DDThh:mm:ss[.fraction][Z]" as 100 ns ticks since 1970 (UTC).
// Fraction digits beyond the seventh are dropped.
std::optional<int64_t> ToInstant(std::string_view AText) {
  AText = Trim(AText);
  int year, month, day, hour, minute, second;
  if (AText.size() < 19 || AText[4] != '-' || AText[7] != '-' || AText[10] != 'T' || AText[13] != ':' ||
      AText[16] != ':')
    return std::nullopt;
  if (!ReadDigits(AText, 0, 4, year) || !ReadDigits(AText, 5, 2, month) || !ReadDigits(AText, 8, 2, day) ||
      !ReadDigits(AText, 11, 2, hour) || !ReadDigits(AText, 14, 2, minute) || !ReadDigits(AText, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  size_t i = 19;
  int64_t fraction = 0;
  if (i < AText.size() && AText[i] == '.') {
    ++i;
    int digits = 0;
    while (i < AText.size() && std::isdigit(static_cast<unsigned char>(AText[i]))) {
      if (digits < 7) fraction = fraction * 10 + (AText[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0) return std::nullopt;
    for (int d = digits; d < 7; ++d) fraction *= 10;
  }
  if (i < AText.size() && AText[i] == 'Z') ++i;
  if (i != AText.size()) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                        std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  const int64_t seconds = static_cast<int64_t>(std::chrono::sys_days(date).time_since_epoch().count()) * 86400 +
                          hour * 3600 + minute * 60 + second;
  return seconds * 10'000'000 + fraction;
}

bool IsGuid(std::string_view AText) {
  if (AText.size() != 38 || AText.front() != '{' || AText.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? AText[i] != '-' : !std::isxdigit(static_cast<unsigned char>(AText[i]))) return false;
  }
  return true;
}

bool EqualIgnoringCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) != std::tolower(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

// Two texts: instants when both are date-times, GUIDs ignoring case, numbers
// for ordering, else exact text (equality only).
bool CompareTexts(std::string_view A, TCmpOp AOp, std::string_view B) {
  const auto instantA = ToInstant(A);
  if (instantA) {
    if (const auto instantB = ToInstant(B)) return Holds(AOp, *instantA < *instantB ? -1 : (*instantA > *instantB));
  }
  if (AOp == TCmpOp::Eq || AOp == TCmpOp::Ne) {
    const bool equal = (IsGuid(A) && IsGuid(B)) ? EqualIgnoringCase(A, B) : A == B;
    return AOp == TCmpOp::Eq ? equal : !equal;
  }
  const auto numberA = ToNumber(A);
  const auto numberB = ToNumber(B);
  return numberA && numberB && Holds(AOp, CompareNumbers(*numberA, *numberB));
}

std::optional<uint64_t> ToUnsigned(std::string_view AText) {
  const auto number = ToNumber(AText);
  if (!number || !number->Integral || number->Int < 0 || number->Int > static_cast<__int128>(UINT64_MAX))
    return std::nullopt;
  return static_cast<uint64_t>(number->Int);
}

std::string_view LocalName(const char* AName) {
  std::string_view name(AName);
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// ---------------------------------------------------------------------------
// Evaluation

struct TNodeRef {
  pugi::xml_node Node;
  pugi::xml_attribute Attribute;
};

// Only leaf values compare: an attribute, a text node, or an element without
// element children. Elements with children have no value here.
std::optional<std::string_view> LeafValue(const TNodeRef& ARef) {
  if (ARef.Attribute) return std::string_view(ARef.Attribute.value());
  if (ARef.Node.type() == pugi::node_pcdata || ARef.Node.type() == pugi::node_cdata)
    return std::string_view(ARef.Node.value());
  for (pugi::xml_node child = ARef.Node.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element) return std::nullopt;
  return std::string_view(ARef.Node.text().get());
}

struct TValue {
  enum class TKind : uint8_t { Nodes, String, Number, Boolean, Nothing };
  TKind Kind = TKind::Nothing;
  std::vector<TNodeRef> Nodes;
  std::string_view Text;
  TNumber Number;
  bool Boolean = false;
};

class TEvaluator {
 public:
  TEvaluator(pugi::xml_node AEvent, int64_t ANowTicks) : FEvent(AEvent), FNowTicks(ANowTicks) {}

  bool Test(const TExpr& AExpr, pugi::xml_node AContext, size_t APosition) const {
    return ToBoolean(Evaluate(AExpr, AContext, APosition));
  }

  // The top of a query: does the path from the event element reach anything?
  bool TestRoot(const TExpr& APath) const { return !SelectPath(APath, FEvent).empty(); }

 private:
  static bool ToBoolean(const TValue& AValue) {
    switch (AValue.Kind) {
      case TValue::TKind::Nodes: return !AValue.Nodes.empty();
      case TValue::TKind::String: return !AValue.Text.empty();
      case TValue::TKind::Number: return AValue.Number.Integral ? AValue.Number.Int != 0 : AValue.Number.Real != 0;
      case TValue::TKind::Boolean: return AValue.Boolean;
      case TValue::TKind::Nothing: return false;
    }
    return false;
  }

  TValue Evaluate(const TExpr& AExpr, pugi::xml_node AContext, size_t APosition) const {
    TValue value;
    switch (AExpr.Kind) {
      case TExprKind::Or:
        value.Kind = TValue::TKind::Boolean;
        for (const auto& arg : AExpr.Args)
          if (Test(*arg, AContext, APosition)) {
            value.Boolean = true;
            break;
          }
        return value;
      case TExprKind::And:
        value.Kind = TValue::TKind::Boolean;
        value.Boolean = true;
        for (const auto& arg : AExpr.Args)
          if (!Test(*arg, AContext, APosition)) {
            value.Boolean = false;
            break;
          }
        return value;
      case TExprKind::Compare:
        value.Kind = TValue::TKind::Boolean;
        value.Boolean = Compare(Evaluate(*AExpr.Args[0], AContext, APosition), AExpr.Op,
                                Evaluate(*AExpr.Args[1], AContext, APosition));
        return value;
      case TExprKind::Path:
        value.Kind = TValue::TKind::Nodes;
        value.Nodes = SelectPath(AExpr, AContext);
        return value;
      case TExprKind::String:
        value.Kind = TValue::TKind::String;
        value.Text = AExpr.Text;
        return value;
      case TExprKind::Number:
        value.Kind = TValue::TKind::Number;
        value.Number = AExpr.Number;
        return value;
      case TExprKind::Position:
        value.Kind = TValue::TKind::Number;
        value.Number.Int = static_cast<__int128>(APosition);
        value.Number.Real = static_cast<double>(APosition);
        return value;
      case TExprKind::Band:
        value.Kind = TValue::TKind::Boolean;
        value.Boolean = Band(Evaluate(*AExpr.Args[0], AContext, APosition), Evaluate(*AExpr.Args[1], AContext, APosition));
        return value;
      case TExprKind::TimeDiff: {
        const auto from = FirstInstant(Evaluate(*AExpr.Args[0], AContext, APosition));
        const auto to = AExpr.Args.size() == 2 ? FirstInstant(Evaluate(*AExpr.Args[1], AContext, APosition))
                                               : std::optional<int64_t>(FNowTicks);
        if (!from || !to) return value;  // Nothing: every comparison with it is false
        value.Kind = TValue::TKind::Number;
        value.Number.Int = (static_cast<__int128>(*to) - *from) / 10'000;
        value.Number.Real = static_cast<double>(value.Number.Int);
        return value;
      }
    }
    return value;
  }

  static std::vector<std::string_view> Texts(const TValue& AValue) {
    std::vector<std::string_view> texts;
    if (AValue.Kind == TValue::TKind::String) {
      texts.push_back(AValue.Text);
    } else if (AValue.Kind == TValue::TKind::Nodes) {
      for (const TNodeRef& ref : AValue.Nodes)
        if (auto leaf = LeafValue(ref)) texts.push_back(*leaf);
    }
    return texts;
  }

  static std::optional<int64_t> FirstInstant(const TValue& AValue) {
    for (std::string_view text : Texts(AValue))
      if (auto instant = ToInstant(text)) return instant;
    return std::nullopt;
  }

  static bool Band(const TValue& A, const TValue& B) {
    auto unsignedValues = [](const TValue& AValue) {
      std::vector<uint64_t> values;
      if (AValue.Kind == TValue::TKind::Number) {
        if (AValue.Number.Integral && AValue.Number.Int >= 0 && AValue.Number.Int <= static_cast<__int128>(UINT64_MAX))
          values.push_back(static_cast<uint64_t>(AValue.Number.Int));
      } else {
        for (std::string_view text : Texts(AValue))
          if (auto value = ToUnsigned(text)) values.push_back(*value);
      }
      return values;
    };
    const auto left = unsignedValues(A);
    const auto right = unsignedValues(B);
    for (uint64_t a : left)
      for (uint64_t b : right)
        if ((a & b) != 0) return true;
    return false;
  }

  static bool Compare(const TValue& A, TCmpOp AOp, const TValue& B) {
    using K = TValue::TKind;
    if (A.Kind == K::Nothing || B.Kind == K::Nothing) return false;
    if (A.Kind != K::Nodes && B.Kind == K::Nodes) return Compare(B, Mirror(AOp), A);
    if (A.Kind == K::Boolean || B.Kind == K::Boolean) {
      const bool a = ToBoolean(A);
      const bool b = ToBoolean(B);
      return Holds(AOp, a == b ? 0 : (a ? 1 : -1));
    }
    if (B.Kind == K::Number) {
      if (A.Kind == K::Number) return Holds(AOp, CompareNumbers(A.Number, B.Number));
      for (std::string_view text : Texts(A))
        if (auto number = ToNumber(text); number && Holds(AOp, CompareNumbers(*number, B.Number))) return true;
      return false;
    }
    if (A.Kind == K::Number) return Compare(B, Mirror(AOp), A);
    // Text against text: node values or string literals, any pair.
    const auto left = Texts(A);
    const auto right = Texts(B);
    for (std::string_view a : left)
      for (std::string_view b : right)
        if (CompareTexts(a, AOp, b)) return true;
    return false;
  }

  bool Visible(pugi::xml_node AChild) const {
    // RenderingInfo comes from the publisher's message files; the filter never sees it.
    return !(AChild.parent() == FEvent && LocalName(AChild.name()) == "RenderingInfo");
  }

  bool StepMatches(const TStep& AStep, pugi::xml_node ANode) const {
    switch (AStep.Kind) {
      case TStep::TKind::Text:
        return ANode.type() == pugi::node_pcdata || ANode.type() == pugi::node_cdata;
      case TStep::TKind::AnyElement:
        return ANode.type() == pugi::node_element && Visible(ANode);
      case TStep::TKind::Element:
        return ANode.type() == pugi::node_element && LocalName(ANode.name()) == AStep.Name && Visible(ANode);
    }
    return false;
  }

  // Applies the step's predicates in order; each one sees positions within
  // what the previous ones kept.
  void Filter(const TStep& AStep, std::vector<pugi::xml_node>& ANodes) const {
    for (const auto& predicate : AStep.Predicates) {
      std::vector<pugi::xml_node> kept;
      for (size_t i = 0; i < ANodes.size(); ++i) {
        const TValue value = Evaluate(*predicate, ANodes[i], i + 1);
        const bool keep = value.Kind == TValue::TKind::Number
                              ? value.Number.Integral && value.Number.Int == static_cast<__int128>(i + 1)
                              : ToBoolean(value);
        if (keep) kept.push_back(ANodes[i]);
      }
      ANodes.swap(kept);
    }
  }

  std::vector<TNodeRef> SelectPath(const TExpr& APath, pugi::xml_node AContext) const {
    std::vector<pugi::xml_node> current;
    size_t first = 0;
    if (APath.FromRoot) {
      const TStep& root = APath.Steps.front();
      if (!StepMatches(root, FEvent)) return {};
      current.push_back(FEvent);
      Filter(root, current);
      first = 1;
    } else {
      current.push_back(AContext);
    }
    for (size_t s = first; s < APath.Steps.size() && !current.empty(); ++s) {
      const TStep& step = APath.Steps[s];
      std::vector<pugi::xml_node> next;
      for (pugi::xml_node parent : current) {
        std::vector<pugi::xml_node> children;
        for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
          if (StepMatches(step, child)) children.push_back(child);
        Filter(step, children);
        next.insert(next.end(), children.begin(), children.end());
      }
      current.swap(next);
    }
    std::vector<TNodeRef> result;
    if (APath.HasAttribute) {
      for (pugi::xml_node node : current)
        for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute())
          if (LocalName(attribute.name()) == APath.Attribute) result.push_back({node, attribute});
    } else {
      for (pugi::xml_node node : current) result.push_back({node, {}});
    }
    return result;
  }

  pugi::xml_node FEvent;
  int64_t FNowTicks;
};

bool IsMatchAll(const TExpr& AFilter) {
  return AFilter.Kind == TExprKind::Path && AFilter.FromRoot && AFilter.Steps.size() == 1 &&
         AFilter.Steps[0].Kind == TStep::TKind::AnyElement && AFilter.Steps[0].Predicates.empty();
}

// Null for an empty or match-all filter.
std::unique_ptr<TExpr> CompileXPath(std::string_view AText) {
  if (Trim(AText).empty()) return nullptr;
  auto filter = TParser(AText).ParseQuery();
  if (IsMatchAll(*filter)) return nullptr;
  return filter;
}

int64_t ToTicks(std::chrono::system_clock::time_point ATime) {
  return std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>>(
             ATime.time_since_epoch())
      .count();
}

}  // namespace
}  // namespace query

bool SameChannelName(std::string_view A, std::string_view B) { return query::EqualIgnoringCase(A, B); }

std::optional<uint64_t> ParseEventTime(std::string_view AText) {
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  constexpr int64_t EpochDifference = 116444736000000000;
  const auto ticks = query::ToInstant(AText);
  if (!ticks || *ticks < -EpochDifference) return std::nullopt;
  return static_cast<uint64_t>(*ticks + EpochDifference);
}

TEventQuery::~TEventQuery() = default;

std::unique_ptr<TEventQuery> TEventQuery::Parse(std::string_view AText) {
  const std::string_view trimmed = query::Trim(AText);
  if (!trimmed.empty() && trimmed.front() == '<') return ParseQueryList(AText);
  std::unique_ptr<TEventQuery> result(new TEventQuery());
  TSelector selector;
  selector.Filter = query::CompileXPath(AText);
  result->FSelectsEverything = selector.Filter == nullptr;
  result->FGroups.emplace_back().Selectors.push_back(std::move(selector));
  return result;
}

std::unique_ptr<TEventQuery> TEventQuery::ParseQueryList(std::string_view AText) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(AText.data(), AText.size(), pugi::parse_default);
  if (!parsed) throw EQueryError(std::string("malformed QueryList: ") + parsed.description(), parsed.offset);
  const pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) != "QueryList") throw EQueryError("the root element must be QueryList", 0);

  std::unique_ptr<TEventQuery> result(new TEventQuery());
  size_t queryCount = 0;
  for (pugi::xml_node child : root.children())
    if (child.type() == pugi::node_element) ++queryCount;
  if (queryCount == 0) throw EQueryError("QueryList has no Query", 0);

  bool anyPath = false;
  bool anyWithoutPath = false;
  result->FSelectsEverything = true;
  for (pugi::xml_node queryNode : root.children()) {
    if (queryNode.type() != pugi::node_element) continue;
    if (std::string_view(queryNode.name()) != "Query")
      throw EQueryError("unexpected element " + std::string(queryNode.name()) + " in QueryList", 0);
    const std::string id = queryNode.attribute("Id").value();
    if (queryCount > 1 && id.empty()) throw EQueryError("every Query needs an Id when there are several", 0);
    if (!id.empty() && !query::ToUnsigned(id)) throw EQueryError("Query Id '" + id + "' is not a number", 0);
    const std::string queryPath = queryNode.attribute("Path").value();

    TGroup group;
    for (pugi::xml_node selectorNode : queryNode.children()) {
      if (selectorNode.type() != pugi::node_element) continue;
      const std::string_view kind = selectorNode.name();
      if (kind != "Select" && kind != "Suppress")
        throw EQueryError("unexpected element " + std::string(kind) + " in Query " + id, 0);
      TSelector selector;
      selector.Suppress = kind == "Suppress";
      selector.Path = selectorNode.attribute("Path") ? selectorNode.attribute("Path").value() : queryPath;
      if (selector.Path.rfind("file://", 0) == 0) selector.Path.erase(0, 7);
      (selector.Path.empty() ? anyWithoutPath : anyPath) = true;
      std::string text;
      for (pugi::xml_node part : selectorNode.children())
        if (part.type() == pugi::node_pcdata || part.type() == pugi::node_cdata) text += part.value();
      try {
        selector.Filter = query::CompileXPath(text);
      } catch (const EQueryError& e) {
        throw EQueryError(std::string(kind) + " of Query " + id + ": " + e.what(), e.Offset());
      }
      if (selector.Filter || selector.Suppress) result->FSelectsEverything = false;
      group.Selectors.push_back(std::move(selector));
    }
    bool hasSelect = false;
    for (const TSelector& selector : group.Selectors) hasSelect = hasSelect || !selector.Suppress;
    if (!hasSelect) throw EQueryError("Query " + id + " has no Select", 0);
    for (const TSelector& suppress : group.Selectors) {
      if (!suppress.Suppress) continue;
      const bool covered = std::any_of(group.Selectors.begin(), group.Selectors.end(), [&](const TSelector& s) {
        return !s.Suppress && SameChannelName(s.Path, suppress.Path);
      });
      if (!covered) throw EQueryError("a Suppress of Query " + id + " has no Select with its path", 0);
    }
    for (const TSelector& selector : group.Selectors) {
      if (selector.Path.empty()) continue;
      const bool known = std::any_of(result->FChannels.begin(), result->FChannels.end(),
                                     [&](const std::string& c) { return SameChannelName(c, selector.Path); });
      if (!known) result->FChannels.push_back(selector.Path);
    }
    result->FGroups.push_back(std::move(group));
  }
  if (anyPath && anyWithoutPath) throw EQueryError("when one Select or Suppress names a path, all must", 0);
  return result;
}

bool TEventQuery::Matches(const pugi::xml_node& AEvent, std::string_view AChannel, TClock::time_point ANow) const {
  const query::TEvaluator evaluator(AEvent, query::ToTicks(ANow));
  for (const TGroup& group : FGroups) {
    bool selected = false;
    bool suppressed = false;
    for (const TSelector& selector : group.Selectors) {
      if (selector.Suppress ? suppressed : selected) continue;
      if (!selector.Path.empty() && !SameChannelName(selector.Path, AChannel)) continue;
      if (selector.Filter && !evaluator.TestRoot(*selector.Filter)) continue;
      (selector.Suppress ? suppressed : selected) = true;
    }
    if (selected && !suppressed) return true;
  }
  return false;
}

bool TEventQuery::MatchesXml(std::string_view AEventXml, std::string_view AChannel, TClock::time_point ANow) const {
  if (FSelectsEverything) {
    for (const TGroup& group : FGroups)
      for (const TSelector& selector : group.Selectors)
        if (selector.Path.empty() || SameChannelName(selector.Path, AChannel)) return true;
    return false;
  }
  pugi::xml_document document;
  if (!document.load_buffer(AEventXml.data(), AEventXml.size(), QueryParseOptions)) return false;
  return Matches(document.document_element(), AChannel, ANow);
}

}  // namespace zor
