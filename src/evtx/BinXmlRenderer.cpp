#include "evtx/BinXmlRenderer.h"

#include <charconv>

#include "evtx/ValueFormat.h"

namespace zor {

namespace {

enum TOpKind : uint8_t {
  okText = 0,
  okElementStart = 1,
  okElementEnd = 2,
  okAttributeStart = 3,
  okAttributeEnd = 4,
  okSubstitution = 5,
  okInstance = 6,
};
constexpr uint8_t OpOptional = 0x1;   // substitution: optional (0x0E)
constexpr uint8_t OpAttribute = 0x2;  // substitution: inside an attribute value
constexpr uint16_t NoIndex = 0xFFFF;

// Binary XML tokens (the 0x40 "more follows" bit masked off).
constexpr uint8_t TokEnd = 0x00;
constexpr uint8_t TokOpenElement = 0x01;
constexpr uint8_t TokCloseStart = 0x02;
constexpr uint8_t TokCloseEmpty = 0x03;
constexpr uint8_t TokEndElement = 0x04;
constexpr uint8_t TokValue = 0x05;
constexpr uint8_t TokAttribute = 0x06;
constexpr uint8_t TokCData = 0x07;
constexpr uint8_t TokCharRef = 0x08;
constexpr uint8_t TokEntityRef = 0x09;
constexpr uint8_t TokPITarget = 0x0A;
constexpr uint8_t TokPIData = 0x0B;
constexpr uint8_t TokInstance = 0x0C;
constexpr uint8_t TokSubstitution = 0x0D;
constexpr uint8_t TokOptional = 0x0E;
constexpr uint8_t TokFragment = 0x0F;
constexpr uint8_t TokenMask = 0xBF;
constexpr uint8_t MoreBit = 0x40;

constexpr int MaxNesting = 16;          // template instances and binary XML values inside each other
constexpr int MaxElementDepth = 256;    // elements inside each other in one stream
constexpr uint64_t MaxOps = 1u << 22;   // operations executed per record
constexpr size_t MaxText = 16u << 20;   // text per record

// A u16 character count followed by that many UTF-16 code units.
std::pair<const uint8_t*, uint16_t> CountedText(TByteCursor& ACursor, const char* AWhat) {
  const uint16_t count = ACursor.U16(AWhat);
  return {ACursor.Take(2 * size_t{count}, AWhat), count};
}

std::string Hex(uint64_t AValue) {
  char buf[24] = "0x";
  return std::string(buf, std::to_chars(buf + 2, buf + sizeof buf, AValue, 16).ptr);
}

}  // namespace

TBinXmlRenderer::TBinXmlRenderer(TEvtxRenderProfile AProfile) : FProfile(AProfile) {}
TBinXmlRenderer::~TBinXmlRenderer() = default;

void TBinXmlRenderer::ResetChunk(const uint8_t* AChunk, size_t ASize, uint64_t AFileOffset) {
  FChunk = AChunk;
  FChunkSize = ASize;
  FFileOffset = AFileOffset;
  FNames.clear();
  FTemplates.clear();
}

void TBinXmlRenderer::Fail(uint64_t AChunkOffset, const std::string& AWhat, const std::string& AExpected,
                           const std::string& AFound) const {
  throw EEvtxError(FFileOffset + AChunkOffset, AWhat, AExpected, AFound);
}

void TBinXmlRenderer::Render(size_t ABegin, size_t AEnd, TOutBuffer& AOut) {
  if (ABegin > AEnd || AEnd > FChunkSize) Fail(ABegin, "record body", "a range inside the chunk", "end " + std::to_string(AEnd));
  FOut = &AOut;
  // The limit is on this record's text, whatever AOut held before it.
  FOutLimit = AOut.Size() + MaxText;
  FValues.clear();
  FBudget = MaxOps;
  FArrayIndex = SIZE_MAX;
  RenderStream(ABegin, AEnd, 0);
}

// ---------------------------------------------------------------- compiling

const std::string& TBinXmlRenderer::Name(TByteCursor& ACursor) {
  const size_t at = ACursor.Pos();
  const uint32_t offset = ACursor.U32("name offset");
  const bool inline_ = offset == ACursor.Pos();
  auto found = FNames.find(offset);
  if (found != FNames.end()) {
    if (inline_) ACursor.Skip(10 + 2 * size_t{LoadU16(FChunk + offset + 6)}, "inline name");
    return found->second;
  }
  // Name structure: next offset (4), hash (2), character count (2), characters, NUL.
  if (offset > FChunkSize || FChunkSize - offset < 8) Fail(at, "name offset", "an offset inside the chunk", Hex(offset));
  const size_t count = LoadU16(FChunk + offset + 6);
  if ((FChunkSize - offset - 8) / 2 < count) Fail(offset, "name characters", std::to_string(count) + " characters", "end of chunk");
  if (inline_) ACursor.Skip(10 + 2 * count, "inline name");
  FTmp.Clear();
  AppendUtf16Raw(FTmp, FChunk + offset + 8, count);
  if (FTmp.Size() == 0) Fail(offset, "name", "a non-empty name", "empty");
  return FNames.emplace(offset, std::string(FTmp.View())).first->second;
}

void TBinXmlRenderer::EmitText(TProgram& AProgram, std::string_view AText) const {
  if (AText.empty()) return;
  // A name of many characters referred to many times would otherwise make a
  // program far larger than the chunk it comes from.
  if (AText.size() > MaxText - AProgram.Text.size())
    Fail(FCompiling, "template text", "at most " + std::to_string(MaxText) + " bytes", "more");
  if (!AProgram.Ops.empty()) {
    TOp& last = AProgram.Ops.back();
    if (last.Kind == okText && last.A + last.B == AProgram.Text.size()) {
      last.B += static_cast<uint32_t>(AText.size());
      AProgram.Text.append(AText);
      return;
    }
  }
  AProgram.Ops.push_back(TOp{okText, 0, NoIndex, static_cast<uint32_t>(AProgram.Text.size()),
                             static_cast<uint32_t>(AText.size())});
  AProgram.Text.append(AText);
}

size_t TBinXmlRenderer::Push(TProgram& AProgram, TOp AOp) {
  AProgram.Ops.push_back(AOp);
  return AProgram.Ops.size() - 1;
}

TBinXmlRenderer::TInstanceHeader TBinXmlRenderer::ReadInstanceHeader(TByteCursor& ACursor) {
  ACursor.Skip(2, "template instance token");
  ACursor.U32("template identifier");
  const uint32_t definition = ACursor.U32("template definition offset");
  // The first instance in a chunk carries the definition inline, right here.
  if (definition == ACursor.Pos()) {
    ACursor.Skip(20, "template definition header");
    ACursor.Skip(ACursor.U32("template definition size"), "template definition");
  }
  const uint32_t count = ACursor.U32("substitution value count");
  if (count > ACursor.Remaining() / 4)
    Fail(ACursor.Pos(), "substitution value count", "at most " + std::to_string(ACursor.Remaining() / 4), std::to_string(count));
  return TInstanceHeader{definition, ACursor.Take(4 * size_t{count}, "substitution descriptors"), count};
}

void TBinXmlRenderer::SkipInstance(TByteCursor& ACursor) {
  const TInstanceHeader header = ReadInstanceHeader(ACursor);
  size_t total = 0;
  for (uint32_t i = 0; i < header.Count; ++i) total += LoadU16(header.Descriptors + 4 * i);
  ACursor.Skip(total, "substitution values");
}

void TBinXmlRenderer::Compile(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate) {
  AProgram.Clear();
  CompileContent(AProgram, ACursor, AInTemplate, 0, -1);
}

// Tokens allowed both in element content and in attribute values. Returns
// false when the token at the cursor is none of them.
bool TBinXmlRenderer::CompileCommon(TProgram& AProgram, TByteCursor& ACursor, bool AAttribute, int AOwner) {
  const size_t at = ACursor.Pos();
  const uint8_t token = ACursor.Peek("token");
  const TXmlContext context = AAttribute ? TXmlContext::xcAttribute : TXmlContext::xcText;
  switch (token & TokenMask) {
    case TokValue: {
      ACursor.Skip(2, "value text token");
      const auto [chars, count] = CountedText(ACursor, "value text");
      FTmp.Clear();
      AppendUtf16(FTmp, chars, count, context);
      EmitText(AProgram, FTmp.View());
      return true;
    }
    case TokCharRef: {
      ACursor.Skip(1, "character reference token");
      const uint16_t code = ACursor.U16("character reference");
      char buf[16] = "&#";
      char* end = std::to_chars(buf + 2, buf + 14, code).ptr;
      *end++ = ';';
      EmitText(AProgram, std::string_view(buf, static_cast<size_t>(end - buf)));
      return true;
    }
    case TokEntityRef: {
      ACursor.Skip(1, "entity reference token");
      const std::string& name = Name(ACursor);
      EmitText(AProgram, "&");
      EmitText(AProgram, name);
      EmitText(AProgram, ";");
      return true;
    }
    case TokSubstitution:
    case TokOptional: {
      if (token & MoreBit) return false;
      ACursor.Skip(1, "substitution token");
      const uint16_t index = ACursor.U16("substitution index");
      ACursor.U8("substitution value type");
      uint8_t flags = token == TokOptional ? OpOptional : 0;
      if (AAttribute) flags |= OpAttribute;
      Push(AProgram, TOp{okSubstitution, flags, index, 0, 0});
      if (AOwner >= 0 && AProgram.Ops[static_cast<size_t>(AOwner)].B == NoIndex) AProgram.Ops[static_cast<size_t>(AOwner)].B = index;
      return true;
    }
    default:
      (void)at;
      return false;
  }
}

void TBinXmlRenderer::CompileContent(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate, int ADepth,
                                     int AOwner) {
  const bool top = AOwner < 0;
  while (!ACursor.AtEnd()) {
    const size_t at = ACursor.Pos();
    const uint8_t token = ACursor.Peek("token");
    if (CompileCommon(AProgram, ACursor, false, AOwner)) continue;
    switch (token & TokenMask) {
      case TokEnd:
        if (!top) Fail(at, "element content", "end element token", "end of stream");
        ACursor.Skip(1, "end of stream");
        return;
      case TokEndElement:
        if (top) Fail(at, "binary XML stream", "element or end of stream", "end element token");
        ACursor.Skip(1, "end element token");
        return;
      case TokOpenElement:
        CompileElement(AProgram, ACursor, AInTemplate, ADepth + 1);
        break;
      case TokCData: {
        ACursor.Skip(1, "CDATA token");
        const auto [chars, count] = CountedText(ACursor, "CDATA text");
        FTmp.Clear();
        FTmp.Append("<![CDATA[");
        AppendUtf16Raw(FTmp, chars, count);
        FTmp.Append("]]>");
        EmitText(AProgram, FTmp.View());
        break;
      }
      case TokPITarget: {
        ACursor.Skip(1, "processing instruction token");
        const std::string& name = Name(ACursor);
        EmitText(AProgram, "<?");
        EmitText(AProgram, name);
        if (!ACursor.AtEnd() && (ACursor.Peek("token") & TokenMask) == TokPIData) {
          ACursor.Skip(1, "processing instruction data token");
          const auto [chars, count] = CountedText(ACursor, "processing instruction data");
          FTmp.Clear();
          FTmp.Push(' ');
          AppendUtf16Raw(FTmp, chars, count);
          EmitText(AProgram, FTmp.View());
        }
        EmitText(AProgram, "?>");
        break;
      }
      case TokInstance: {
        SkipInstance(ACursor);
        Push(AProgram, TOp{okInstance, 0, NoIndex, static_cast<uint32_t>(at), static_cast<uint32_t>(ACursor.Pos())});
        break;
      }
      case TokFragment:
        ACursor.Skip(4, "fragment header");
        break;
      default:
        Fail(at, "binary XML token", "a content token", Hex(token));
    }
  }
  if (!top) Fail(ACursor.Pos(), "element content", "end element token", "end of data");
}

void TBinXmlRenderer::CompileElement(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate, int ADepth) {
  if (ADepth > MaxElementDepth) Fail(ACursor.Pos(), "element nesting", "at most " + std::to_string(MaxElementDepth) + " levels", "deeper");
  const uint8_t token = ACursor.U8("open element token");
  // Only elements of template definitions carry a dependency identifier.
  uint16_t dependency = AInTemplate ? ACursor.U16("dependency identifier") : NoIndex;
  ACursor.U32("element data size");
  const std::string& name = Name(ACursor);
  // The root element is always written, whatever it depends on.
  if (ADepth == 1) dependency = NoIndex;
  const size_t start = Push(AProgram, TOp{okElementStart, 0, dependency, 0, NoIndex});
  EmitText(AProgram, "<");
  EmitText(AProgram, name);
  if (token & MoreBit) {
    const uint32_t size = ACursor.U32("attribute list size");
    if (size > ACursor.Remaining()) Fail(ACursor.Pos(), "attribute list size", "at most " + std::to_string(ACursor.Remaining()), std::to_string(size));
    const size_t end = ACursor.Pos() + size;
    while (ACursor.Pos() < end) {
      const uint8_t t = ACursor.Peek("attribute token");
      if ((t & TokenMask) != TokAttribute) Fail(ACursor.Pos(), "attribute list", "attribute token", Hex(t));
      CompileAttribute(AProgram, ACursor, end);
    }
  }
  const size_t at = ACursor.Pos();
  const uint8_t close = ACursor.U8("close start element token");
  if (close == TokCloseStart) {
    EmitText(AProgram, ">");
    CompileContent(AProgram, ACursor, AInTemplate, ADepth, static_cast<int>(start));
    EmitText(AProgram, "</");
    EmitText(AProgram, name);
    EmitText(AProgram, ">");
  } else if (close == TokCloseEmpty) {
    EmitText(AProgram, "/>");
  } else {
    Fail(at, "element start", "close start or close empty element token", Hex(close));
  }
  const size_t end = Push(AProgram, TOp{okElementEnd, 0, NoIndex, 0, 0});
  AProgram.Ops[start].A = static_cast<uint32_t>(end);
}

void TBinXmlRenderer::CompileAttribute(TProgram& AProgram, TByteCursor& ACursor, size_t AAttributesEnd) {
  ACursor.Skip(1, "attribute token");
  const std::string& name = Name(ACursor);
  const size_t start = Push(AProgram, TOp{okAttributeStart, 0, NoIndex, 0, 0});
  EmitText(AProgram, " ");
  EmitText(AProgram, name);
  EmitText(AProgram, "='");
  while (ACursor.Pos() < AAttributesEnd && CompileCommon(AProgram, ACursor, true, -1)) {
  }
  EmitText(AProgram, "'");
  const size_t end = Push(AProgram, TOp{okAttributeEnd, 0, NoIndex, 0, 0});
  AProgram.Ops[start].A = static_cast<uint32_t>(end);
}

const TBinXmlRenderer::TProgram& TBinXmlRenderer::Template(uint32_t ADefinitionOffset, uint64_t AReferenceOffset) {
  auto found = FTemplates.find(ADefinitionOffset);
  if (found != FTemplates.end()) return *found->second;
  // Definition: next offset (4), GUID (16), data size (4), binary XML.
  if (ADefinitionOffset > FChunkSize || FChunkSize - ADefinitionOffset < 24)
    Fail(AReferenceOffset, "template definition offset", "an offset inside the chunk", Hex(ADefinitionOffset));
  const uint32_t size = LoadU32(FChunk + ADefinitionOffset + 20);
  const size_t begin = size_t{ADefinitionOffset} + 24;
  if (size > FChunkSize - begin) Fail(ADefinitionOffset + 20, "template definition size", "at most " + std::to_string(FChunkSize - begin), std::to_string(size));
  auto program = std::make_unique<TProgram>();
  TByteCursor cursor(FChunk, begin, begin + size, FFileOffset);
  FCompiling = ADefinitionOffset;
  Compile(*program, cursor, true);
  return *FTemplates.emplace(ADefinitionOffset, std::move(program)).first->second;
}

// ---------------------------------------------------------------- rendering

void TBinXmlRenderer::RenderStream(size_t ABegin, size_t AEnd, int ADepth) {
  if (ADepth > MaxNesting) Fail(ABegin, "binary XML nesting", "at most " + std::to_string(MaxNesting) + " levels", "deeper");
  TByteCursor cursor(FChunk, ABegin, AEnd, FFileOffset);
  while (!cursor.AtEnd()) {
    const uint8_t token = cursor.Peek("token");
    if (token == TokFragment) {
      cursor.Skip(4, "fragment header");
    } else if (token == TokInstance) {
      cursor.SetPos(RenderInstance(cursor.Pos(), AEnd, ADepth), "template instance");
    } else if (token == TokEnd) {
      return;
    } else {
      // A stream without a template (a plain element): compile it on the fly.
      if (FScratch.size() <= static_cast<size_t>(ADepth)) FScratch.resize(static_cast<size_t>(ADepth) + 1);
      if (!FScratch[static_cast<size_t>(ADepth)]) FScratch[static_cast<size_t>(ADepth)] = std::make_unique<TProgram>();
      TProgram& program = *FScratch[static_cast<size_t>(ADepth)];
      FCompiling = cursor.Pos();
      Compile(program, cursor, false);
      Execute(program, 0, program.Ops.size(), FValues.size(), 0, ADepth);
      return;
    }
  }
}

size_t TBinXmlRenderer::RenderInstance(size_t ABegin, size_t AEnd, int ADepth) {
  if (ADepth > MaxNesting) Fail(ABegin, "template nesting", "at most " + std::to_string(MaxNesting) + " levels", "deeper");
  TByteCursor cursor(FChunk, ABegin, AEnd, FFileOffset);
  const TInstanceHeader header = ReadInstanceHeader(cursor);
  const uint8_t* descriptors = header.Descriptors;
  const uint32_t count = header.Count;
  const TProgram& program = Template(header.Definition, ABegin);
  const size_t base = FValues.size();
  FValues.resize(base + count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t size = LoadU16(descriptors + 4 * i);
    FValues[base + i] = TValue{cursor.Take(size, "substitution value"), size, descriptors[4 * i + 2]};
  }
  Execute(program, 0, program.Ops.size(), base, count, ADepth);
  FValues.resize(base);
  return cursor.Pos();
}

bool TBinXmlRenderer::IsNull(size_t ABase, size_t ACount, uint16_t AIndex) const {
  return AIndex >= ACount || FValues[ABase + AIndex].Type == evt::Null;
}

namespace {

// Calls AItem(data, size) for each item of an array value of base type ABase.
template <typename TItem>
void ForEachItem(const uint8_t* AData, size_t ASize, uint8_t ABase, TItem&& AItem) {
  switch (ABase) {
    case evt::String: {
      size_t start = 0;
      const size_t units = ASize / 2;
      for (size_t i = 0; i < units; ++i) {
        if (LoadU16(AData + 2 * i) == 0) {
          AItem(AData + 2 * start, 2 * (i - start));
          start = i + 1;
        }
      }
      if (start < units) AItem(AData + 2 * start, 2 * (units - start));
      return;
    }
    case evt::AnsiString: {
      size_t start = 0;
      for (size_t i = 0; i < ASize; ++i) {
        if (AData[i] == 0) {
          AItem(AData + start, i - start);
          start = i + 1;
        }
      }
      if (start < ASize) AItem(AData + start, ASize - start);
      return;
    }
    case evt::Sid: {
      size_t at = 0;
      while (ASize - at >= 8) {
        const size_t size = 8 + 4 * size_t{AData[at + 1]};
        if (size > ASize - at) break;
        AItem(AData + at, size);
        at += size;
      }
      return;
    }
    default: {
      size_t item = FixedValueSize(ABase);
      if (ABase == evt::SizeT) item = ASize % 8 == 0 ? 8 : 4;
      if (item == 0) {
        if (ASize) AItem(AData, ASize);
        return;
      }
      for (size_t at = 0; at + item <= ASize; at += item) AItem(AData + at, item);
      return;
    }
  }
}

}  // namespace

void TBinXmlRenderer::RenderValue(const TValue& AValue, bool AAttribute, int ADepth) {
  const TXmlContext context = AAttribute ? TXmlContext::xcAttribute : TXmlContext::xcText;
  if (AValue.Type == evt::Null) return;
  if (AValue.Type == evt::BinXml) {
    const auto begin = static_cast<size_t>(AValue.Data - FChunk);
    RenderStream(begin, begin + AValue.Size, ADepth + 1);
    return;
  }
  if (AValue.Type & evt::ArrayFlag) {
    // An array outside a repeatable element: its items, comma-separated.
    const uint8_t base = AValue.Type & ~evt::ArrayFlag;
    bool first = true;
    ForEachItem(AValue.Data, AValue.Size, base, [&](const uint8_t* AData, size_t ASize) {
      if (!first) FOut->Append(", ");
      first = false;
      AppendScalar(*FOut, base, AData, ASize, context, FProfile);
    });
    return;
  }
  AppendScalar(*FOut, AValue.Type, AValue.Data, AValue.Size, context, FProfile);
}

void TBinXmlRenderer::Execute(const TProgram& AProgram, size_t AFrom, size_t ATo, size_t ABase, size_t ACount,
                              int ADepth) {
  const TOp* ops = AProgram.Ops.data();
  const char* text = AProgram.Text.data();
  for (size_t i = AFrom; i < ATo; ++i) {
    const TOp& op = ops[i];
    if (--FBudget == 0 || FOut->Size() > FOutLimit)
      Fail(0, "record rendering", "at most " + std::to_string(MaxOps) + " operations and " + std::to_string(MaxText) + " bytes", "more");
    switch (op.Kind) {
      case okText:
        FOut->Append(text + op.A, op.B);
        break;
      case okElementStart: {
        if (op.Index != NoIndex && IsNull(ABase, ACount, op.Index)) {
          i = op.A;
          break;
        }
        if (op.B != NoIndex && op.B < ACount && (FValues[ABase + op.B].Type & evt::ArrayFlag) &&
            FArrayIndex != ABase + op.B) {
          // An element holding an array value is written once per item.
          const TValue array = FValues[ABase + op.B];
          const uint8_t base = array.Type & ~evt::ArrayFlag;
          const size_t savedIndex = FArrayIndex;
          const TValue savedItem = FArrayItem;
          FArrayIndex = ABase + op.B;
          bool any = false;
          ForEachItem(array.Data, array.Size, base, [&](const uint8_t* AData, size_t ASize) {
            any = true;
            FArrayItem = TValue{AData, static_cast<uint32_t>(ASize), base};
            Execute(AProgram, i + 1, op.A, ABase, ACount, ADepth);
          });
          if (!any) {
            FArrayItem = TValue{array.Data, 0, base};
            Execute(AProgram, i + 1, op.A, ABase, ACount, ADepth);
          }
          FArrayIndex = savedIndex;
          FArrayItem = savedItem;
          i = op.A;
        }
        break;
      }
      case okAttributeStart: {
        // An attribute whose optional value is NULL is left out entirely.
        for (size_t k = i + 1; k < op.A; ++k) {
          if (ops[k].Kind == okSubstitution && (ops[k].Flags & OpOptional) && IsNull(ABase, ACount, ops[k].Index)) {
            i = op.A;
            break;
          }
        }
        break;
      }
      case okSubstitution: {
        if (op.Index >= ACount) break;
        const bool attribute = (op.Flags & OpAttribute) != 0;
        if (ABase + op.Index == FArrayIndex) {
          if (FArrayItem.Size)
            AppendScalar(*FOut, FArrayItem.Type, FArrayItem.Data, FArrayItem.Size,
                         attribute ? TXmlContext::xcAttribute : TXmlContext::xcText, FProfile);
        } else {
          RenderValue(FValues[ABase + op.Index], attribute, ADepth);
        }
        break;
      }
      case okInstance:
        RenderInstance(op.A, op.B, ADepth + 1);
        break;
      default:
        break;
    }
  }
}

}  // namespace zor
