#pragma once

#include <cstddef>
#include <cstdint>

#include "evtx/EvtxReader.h"
#include "evtx/OutBuffer.h"

namespace zor {

// Value types of binary XML substitutions (EVT_VARIANT_TYPE). Bit 0x80 marks
// an array of the base type.
namespace evt {
constexpr uint8_t Null = 0x00;
constexpr uint8_t String = 0x01;
constexpr uint8_t AnsiString = 0x02;
constexpr uint8_t Int8 = 0x03;
constexpr uint8_t UInt8 = 0x04;
constexpr uint8_t Int16 = 0x05;
constexpr uint8_t UInt16 = 0x06;
constexpr uint8_t Int32 = 0x07;
constexpr uint8_t UInt32 = 0x08;
constexpr uint8_t Int64 = 0x09;
constexpr uint8_t UInt64 = 0x0A;
constexpr uint8_t Real32 = 0x0B;
constexpr uint8_t Real64 = 0x0C;
constexpr uint8_t Boolean = 0x0D;
constexpr uint8_t Binary = 0x0E;
constexpr uint8_t Guid = 0x0F;
constexpr uint8_t SizeT = 0x10;
constexpr uint8_t FileTime = 0x11;
constexpr uint8_t SysTime = 0x12;
constexpr uint8_t Sid = 0x13;
constexpr uint8_t HexInt32 = 0x14;
constexpr uint8_t HexInt64 = 0x15;
constexpr uint8_t BinXml = 0x21;
constexpr uint8_t ArrayFlag = 0x80;
}  // namespace evt

// Where a text lands decides what is escaped: element text escapes & < >,
// attribute values (single-quoted) also ' and ".
enum class TXmlContext : uint8_t { xcText = 0, xcAttribute = 1 };

// UTF-16LE text of AUnits code units, cut at the first NUL, as escaped UTF-8.
// Unpaired surrogates become U+FFFD.
void AppendUtf16(TOutBuffer& AOut, const uint8_t* AData, size_t AUnits, TXmlContext AContext);
// Windows-1252 text, cut at the first NUL, as escaped UTF-8.
void AppendAnsi(TOutBuffer& AOut, const uint8_t* AData, size_t ASize, TXmlContext AContext);
// Raw UTF-16LE as UTF-8 without escaping (CDATA, names).
void AppendUtf16Raw(TOutBuffer& AOut, const uint8_t* AData, size_t AUnits);

// The text of one scalar value of type AType (no array flag, not BinXml, not
// Null) stored in ASize bytes. A size that does not fit the type renders the
// bytes as hexadecimal rather than failing the record.
void AppendScalar(TOutBuffer& AOut, uint8_t AType, const uint8_t* AData, size_t ASize, TXmlContext AContext,
                  TEvtxRenderProfile AProfile);

// FILETIME as "YYYY-MM-DDThh:mm:ss.fffffffZ" (current) or with 9 digits (legacy).
void AppendFileTime(TOutBuffer& AOut, uint64_t AFileTime, TEvtxRenderProfile AProfile);

// Size of one item of a fixed-size type, or 0 for variable-size types.
size_t FixedValueSize(uint8_t AType);

}  // namespace zor
