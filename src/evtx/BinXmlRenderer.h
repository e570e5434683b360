#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "evtx/ByteCursor.h"
#include "evtx/EvtxReader.h"
#include "evtx/OutBuffer.h"

namespace zor {

// Renders the binary XML of records of one chunk as event XML text.
//
// Each template definition is compiled once per chunk into a flat program:
// runs of literal text (tags, names, literal values, already escaped) and
// control operations (substitutions, elements that depend on a value,
// attributes left out when their optional value is NULL, nested template
// instances). Rendering a record then only copies text runs and formats its
// values, straight into the output buffer, with no allocation once the caches
// are warm. Name and template caches are keyed by chunk offset and are
// forgotten by ResetChunk, so nothing carries over to another chunk.
//
// Hostile input is bounded: nesting of instances and binary XML values (16),
// element depth (256), operations executed and text produced per record, and
// the text of one compiled program (16 MB, as a record's text). Any
// fault throws EEvtxError; the caller skips that record.
//
// Borrows the chunk bytes given to ResetChunk; they must stay unchanged until
// the next ResetChunk. Not thread-safe.
class TBinXmlRenderer {
 public:
  explicit TBinXmlRenderer(TEvtxRenderProfile AProfile = TEvtxRenderProfile::erpCurrent);
  ~TBinXmlRenderer();
  TBinXmlRenderer(const TBinXmlRenderer&) = delete;
  TBinXmlRenderer& operator=(const TBinXmlRenderer&) = delete;

  // Starts a new chunk: AChunk points at its ASize bytes (65536 for a whole
  // chunk), whose first byte is at AFileOffset in the file.
  void ResetChunk(const uint8_t* AChunk, size_t ASize, uint64_t AFileOffset);

  // Appends to AOut the XML of the binary XML stream at chunk bytes
  // [ABegin, AEnd) (a record's event body). Throws EEvtxError; AOut may then
  // hold a partial text that the caller discards.
  void Render(size_t ABegin, size_t AEnd, TOutBuffer& AOut);

  void SetProfile(TEvtxRenderProfile AProfile) { FProfile = AProfile; }

 private:
  struct TOp {
    uint8_t Kind;
    uint8_t Flags;
    uint16_t Index;  // substitution index, or dependency index (0xFFFF none)
    uint32_t A;      // text: offset in Text; element/attribute start: index of its end op; instance: begin
    uint32_t B;      // text: length; element start: first substitution in its content; instance: end
  };
  struct TProgram {
    std::vector<TOp> Ops;
    std::string Text;
    void Clear() {
      Ops.clear();
      Text.clear();
    }
  };
  struct TValue {
    const uint8_t* Data;
    uint32_t Size;
    uint8_t Type;
  };

  // Compilation (chunk bytes -> program).
  const TProgram& Template(uint32_t ADefinitionOffset, uint64_t AReferenceOffset);
  void Compile(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate);
  void CompileContent(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate, int ADepth, int AOwner);
  void CompileElement(TProgram& AProgram, TByteCursor& ACursor, bool AInTemplate, int ADepth);
  void CompileAttribute(TProgram& AProgram, TByteCursor& ACursor, size_t AAttributesEnd);
  bool CompileCommon(TProgram& AProgram, TByteCursor& ACursor, bool AAttribute, int AOwner);
  const std::string& Name(TByteCursor& ACursor);
  struct TInstanceHeader {
    uint32_t Definition;         // chunk offset of the template definition
    const uint8_t* Descriptors;  // Count descriptors of 4 bytes: size, type, 0
    uint32_t Count;
  };
  // Reads a template instance up to its values.
  TInstanceHeader ReadInstanceHeader(TByteCursor& ACursor);
  void SkipInstance(TByteCursor& ACursor);
  // Appends AText to the program's text; throws EEvtxError when the text
  // would pass the limit on one record's text.
  void EmitText(TProgram& AProgram, std::string_view AText) const;
  static size_t Push(TProgram& AProgram, TOp AOp);

  // Rendering.
  void RenderStream(size_t ABegin, size_t AEnd, int ADepth);
  size_t RenderInstance(size_t ABegin, size_t AEnd, int ADepth);
  void Execute(const TProgram& AProgram, size_t AFrom, size_t ATo, size_t ABase, size_t ACount, int ADepth);
  void RenderValue(const TValue& AValue, bool AAttribute, int ADepth);
  bool IsNull(size_t ABase, size_t ACount, uint16_t AIndex) const;
  [[noreturn]] void Fail(uint64_t AChunkOffset, const std::string& AWhat, const std::string& AExpected,
                         const std::string& AFound) const;

  TEvtxRenderProfile FProfile;
  const uint8_t* FChunk = nullptr;
  size_t FChunkSize = 0;
  uint64_t FFileOffset = 0;
  std::unordered_map<uint32_t, std::string> FNames;
  std::unordered_map<uint32_t, std::unique_ptr<TProgram>> FTemplates;
  std::vector<std::unique_ptr<TProgram>> FScratch;  // programs of non-template streams, one per depth
  std::vector<TValue> FValues;                      // values of the instances being rendered, innermost last
  TOutBuffer FTmp;
  TOutBuffer* FOut = nullptr;
  size_t FOutLimit = 0;  // FOut may not grow beyond this size in one record
  uint64_t FBudget = 0;
  size_t FCompiling = 0;  // chunk offset of the stream being compiled
  // The array item rendered in place of one value while its element repeats.
  size_t FArrayIndex = SIZE_MAX;
  TValue FArrayItem{};
};

}  // namespace zor
