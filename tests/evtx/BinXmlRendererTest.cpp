// Rendering rules of binary XML on small hand-built chunks: optional and
// dependent values, arrays, nested binary XML, rare tokens, and hostile
// templates that refer to themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "evtx/BinXmlRenderer.h"
#include "evtx/EvtxChunk.h"
#include "evtx/ValueFormat.h"
#include "support/EvtxBuilder.h"

namespace zor {
namespace {

using TValues = std::vector<std::pair<uint8_t, std::vector<uint8_t>>>;

std::vector<uint8_t> Utf16Z(const std::u16string& AText) {
  std::vector<uint8_t> bytes;
  for (char16_t c : AText) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

class BinXmlRendererTest : public testing::Test {
 protected:
  // Renders the first record of the chunk built so far, after AEarlier bytes
  // of other text in the same output buffer; returns the record's text.
  std::string RenderFirst(size_t AEarlier = 0) {
    const std::vector<uint8_t> bytes = FBuilder.Finish();
    TEvtxChunk chunk;
    std::copy(bytes.begin(), bytes.end(), chunk.Buffer());
    std::vector<TEvtxIssue> issues;
    chunk.Open(4096, bytes.size(), true, issues);
    EXPECT_TRUE(issues.empty());
    TEvtxRecordHeader record;
    EXPECT_TRUE(chunk.NextRecord(record, issues));
    TBinXmlRenderer renderer;
    renderer.ResetChunk(chunk.Data(), TEvtxChunk::Size, 4096);
    TOutBuffer out;
    out.Commit(out.Reserve(AEarlier) + AEarlier);
    renderer.Render(record.BodyBegin(), record.BodyEnd(), out);
    return std::string(out.View().substr(AEarlier));
  }

  // One record whose body is an instance of a template written by ABody.
  template <typename TBody>
  void Record(TBody&& ABody, const TValues& AValues) {
    const size_t record = FBuilder.BeginRecord(1);
    FBuilder.Fragment();
    FBuilder.InstanceWithDefinition(ABody);
    FBuilder.Values(AValues);
    FBuilder.EndRecord(record);
  }

  test::TChunkBuilder FBuilder;
};

TEST_F(BinXmlRendererTest, OptionalAndDependentValuesAreLeftOut) {
  test::TChunkBuilder& b = FBuilder;
  Record(
      [&] {
        b.Fragment();
        b.Open(u"Event", true, true, 5);  // the root is written whatever it depends on
        size_t attrs = b.BeginAttributes();
        b.Attribute(u"xmlns", true);
        b.Text(u"ns");
        b.EndAttributes(attrs);
        b.CloseStart();
        b.Open(u"System", false, true);
        b.CloseStart();
        b.Open(u"Provider", true, true);
        attrs = b.BeginAttributes();
        b.Attribute(u"Name", false);
        b.Substitution(0, evt::String, true);
        b.Attribute(u"Guid", true);
        b.Substitution(4, evt::Guid, true);
        b.EndAttributes(attrs);
        b.CloseEmpty();
        b.Open(u"EventID", true, true, 2);
        attrs = b.BeginAttributes();
        b.Attribute(u"Qualifiers", true);
        b.Substitution(1, evt::UInt16, true);
        b.EndAttributes(attrs);
        b.CloseStart();
        b.Substitution(2, evt::UInt16, true);
        b.End();
        b.Open(u"Version", false, true, 3);
        b.CloseStart();
        b.Substitution(3, evt::UInt8, true);
        b.End();
        b.Open(u"Channel", false, true);
        b.CloseStart();
        b.Substitution(3, evt::String, true);  // NULL content without a dependency: kept, empty
        b.End();
        b.Open(u"Gone", false, true, 9);  // depends on a value past the end
        b.CloseEmpty();
        b.End();
        b.Substitution(5, evt::BinXml, true);
        b.End();
        b.EndOfStream();
      },
      {{evt::String, Utf16Z(u"P&Q")},
       {evt::Null, {0, 0}},
       {evt::UInt16, {0x7C, 0x1B}},
       {evt::Null, {}},
       {evt::Null, std::vector<uint8_t>(16, 0)},
       {evt::Null, {}}});
  EXPECT_EQ(RenderFirst(),
            "<Event xmlns='ns'><System><Provider Name='P&amp;Q'/><EventID>7036</EventID><Channel></Channel>"
            "</System></Event>");
}

TEST_F(BinXmlRendererTest, NestedBinaryXmlWithPlainElementsAndRareTokens) {
  test::TChunkBuilder& b = FBuilder;
  // The payload value is a plain element stream (no dependency identifiers),
  // written in place as the instance's only value.
  const size_t record = b.BeginRecord(1);
  b.Fragment();
  b.InstanceWithDefinition([&] {
    b.Fragment();
    b.Open(u"Event", false, true);
    b.CloseStart();
    b.Substitution(0, evt::BinXml, true);
    b.End();
    b.EndOfStream();
  });
  b.U32(1);
  const size_t valueSizeAt = b.Pos();
  b.U16(0);
  b.U8(evt::BinXml);
  b.U8(0);
  const size_t valueStart = b.Pos();
  b.Fragment();
  b.Open(u"UserData", false, false);
  b.CloseStart();
  b.Open(u"Data", true, false);
  const size_t attrs = b.BeginAttributes();
  b.Attribute(u"Name", true);
  b.Text(u"a'b");
  b.U8(0x48);  // character reference, more data follows
  b.U16(65);
  b.EndAttributes(attrs);
  b.CloseStart();
  b.Text(u"x<y");
  b.U8(0x09);  // entity reference
  b.InlineName(u"amp");
  b.U8(0x07);  // CDATA
  b.U16(3);
  b.Utf16(u"<&>");
  b.U8(0x0A);  // processing instruction
  b.InlineName(u"pi");
  b.U8(0x0B);
  b.U16(4);
  b.Utf16(u"data");
  b.End();
  b.Open(u"Empty", false, false);
  b.CloseEmpty();
  b.End();
  b.EndOfStream();
  test::PutU16(b.At(valueSizeAt), static_cast<uint16_t>(b.Pos() - valueStart));
  b.EndRecord(record);
  EXPECT_EQ(RenderFirst(),
            "<Event><UserData><Data Name='a&apos;b&#65;'>x&lt;y&amp;<![CDATA[<&>]]><?pi data?></Data><Empty/>"
            "</UserData></Event>");
}

TEST_F(BinXmlRendererTest, ArrayValuesRepeatTheirElement) {
  test::TChunkBuilder& b = FBuilder;
  auto data = [&](uint16_t AIndex, uint8_t AType) {
    b.Open(u"Data", true, true);
    const size_t attrs = b.BeginAttributes();
    b.Attribute(u"Name", true);
    b.Text(u"n");
    b.EndAttributes(attrs);
    b.CloseStart();
    b.Substitution(AIndex, AType, false);
    b.End();
  };
  Record(
      [&] {
        b.Fragment();
        b.Open(u"EventData", false, true);
        b.CloseStart();
        data(0, evt::String | evt::ArrayFlag);
        data(1, evt::UInt32 | evt::ArrayFlag);
        data(2, evt::String | evt::ArrayFlag);
        b.End();
        b.EndOfStream();
      },
      {{evt::String | evt::ArrayFlag, {'a', 0, 0, 0, 'b', 0, '&', 0, 0, 0}},
       {evt::UInt32 | evt::ArrayFlag, {1, 0, 0, 0, 2, 0, 0, 0}},
       {evt::String | evt::ArrayFlag, {}}});
  EXPECT_EQ(RenderFirst(),
            "<EventData><Data Name='n'>a</Data><Data Name='n'>b&amp;</Data><Data Name='n'>1</Data>"
            "<Data Name='n'>2</Data><Data Name='n'></Data></EventData>");
}

TEST_F(BinXmlRendererTest, MalformedStreamsFailTheRecord) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Body;  // written after the root element's start
  } cases[] = {
      {"unknown token", {0x02, 0x1F}},
      {"end of stream inside an element", {0x02, 0x00}},
      {"value text past the record", {0x02, 0x05, 0x01, 0xFF, 0x7F}},
      {"close token missing", {0x07}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FBuilder = test::TChunkBuilder();
    test::TChunkBuilder& b = FBuilder;
    Record(
        [&] {
          b.Fragment();
          b.Open(u"Event", false, true);
          b.Raw(c.Body);
        },
        {});
    EXPECT_THROW(RenderFirst(), EEvtxError);
  }
}

// The limit on a record's text counts that record alone: a buffer that holds
// many records before it (as a chunk decoded ahead does) changes nothing.
TEST_F(BinXmlRendererTest, TextLimitCountsTheRecordAlone) {
  test::TChunkBuilder& b = FBuilder;
  Record(
      [&] {
        b.Fragment();
        b.Open(u"Event", false, true);
        b.CloseStart();
        b.Substitution(0, evt::String, false);
        b.End();
        b.EndOfStream();
      },
      {{evt::String, Utf16Z(u"a<b")}});
  EXPECT_EQ(RenderFirst(), "<Event>a&lt;b</Event>");
  EXPECT_EQ(RenderFirst(20u << 20), "<Event>a&lt;b</Event>");
}

// A template whose elements all refer to one long name would compile to a
// text far larger than its chunk (here 24 MB out of 30 KB), even where none of
// those elements is written: the record fails instead.
TEST_F(BinXmlRendererTest, TemplateTextIsBounded) {
  test::TChunkBuilder& b = FBuilder;
  Record(
      [&] {
        b.Fragment();
        b.Open(u"Event", false, true);
        b.CloseStart();
        // Each element below depends on value 0, which is NULL.
        const size_t name = b.Pos() + 11;
        b.Open(std::u16string(8000, u'\u4e00'), false, true, 0);
        b.CloseEmpty();
        for (int i = 0; i < 1000; ++i) {
          b.U8(0x01);
          b.U16(0);
          b.U32(0);
          b.U32(static_cast<uint32_t>(name));
          b.CloseEmpty();
        }
        b.End();
        b.EndOfStream();
      },
      {{evt::Null, {}}});
  EXPECT_THROW(RenderFirst(), EEvtxError);
}

TEST_F(BinXmlRendererTest, SelfReferringTemplatesEndWithAnError) {
  // A template whose body instantiates itself, eight times over: without
  // bounds this would recurse forever or grow exponentially.
  for (int copies : {1, 8}) {
    SCOPED_TRACE(copies);
    FBuilder = test::TChunkBuilder();
    test::TChunkBuilder& b = FBuilder;
    const size_t record = b.BeginRecord(1);
    b.Fragment();
    const size_t definition = b.Pos() + 10;
    b.InstanceWithDefinition([&] {
      b.Fragment();
      b.Open(u"Loop", false, true);
      b.CloseStart();
      for (int i = 0; i < copies; ++i) {
        b.InstanceOf(definition);
        b.U32(0);
      }
      b.End();
      b.EndOfStream();
    });
    b.U32(0);
    b.EndRecord(record);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(RenderFirst(), EEvtxError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

}  // namespace
}  // namespace zor
