// The filter block: the compact form of a filter expression that the parser
// writes (TFilterExpr::getFilterData) and the catalogue store reads back
// (FilterEval). Both sides take its codes and its layout from here only;
// change them only together and never reuse a code.
//
// Filter block layout (all values little-endian):
//   header   five 16-bit words: format version (2), total size in bytes,
//            node count (0xFFFF, not counted), offset of the node area (10),
//            offset of the literal area
//   nodes    each a 32-bit node class, a 32-bit operator and one 16-bit slot
//            per operand; the root is the first node (offset 0 of the node
//            area), so a link of 0 to a later node means "none"
//   literals field names and constant values
// Operand slots by node class (see TNodeClass):
//   ncUnary   [child]
//   ncBinary  [left child, right child]
//   ncCompare [case-insensitive 0/1, compare length (0 = whole), field, constant]
//   ncField   [field number (1-based), offset of the name (UTF-8, zero byte)]
//   ncConst   [logical type, size in bytes, offset of the value]
//   ncList    [item child, next list element or 0]
// Child slots hold offsets within the node area, value slots offsets within
// the literal area.
//
// UI thread only (like every table).
#pragma once

#include <cstdint>

namespace vrk {

// Class of a node in the filter block.
enum class TNodeClass : std::uint32_t {
  ncUnary = 1,    // NOT, IS NULL, IS NOT NULL
  ncBinary = 2,   // AND, OR, relations, LIKE, IN
  ncCompare = 3,  // string compare with case flag and partial length
  ncField = 4,    // field reference
  ncConst = 5,    // constant
  ncList = 6,     // one element of an IN list
};

// Operator of a tree node and of a block node.
enum class TCanOp : std::uint32_t {
  coNone = 0,
  coIsNull = 1,
  coNotNull = 2,
  coEQ = 3,
  coNE = 4,
  coGT = 5,
  coLT = 6,
  coGE = 7,
  coLE = 8,
  coNOT = 9,
  coAND = 10,
  coOR = 11,
  coADD = 12,
  coSUB = 13,
  coMUL = 14,
  coDIV = 15,
  coLIKE = 16,
  coIN = 17,
  coField = 18,  // operator of a field node in the block
  coConst = 19,  // operator of a constant node in the block
  coList = 20,   // operator of a list element in the block
};

// The store's logical data types, as codes.
enum class TLogicalType : std::uint16_t {
  ltUnknown = 0,
  ltString = 1,
  ltDate = 2,
  ltBlob = 3,
  ltBoolean = 4,
  ltInt16 = 5,
  ltInt32 = 6,
  ltFloat = 7,
  ltBCD = 8,
  ltBytes = 9,
  ltTime = 10,
  ltDateTime = 11,
  ltUInt16 = 12,
  ltVarBytes = 15,
  ltCursor = 17,
  ltInt64 = 18,
  ltObject = 20,
  ltArray = 21,
  ltReference = 22,
  ltNestedTable = 23,
};

namespace filterblock {

// Header: five 16-bit words at these offsets.
constexpr int VersionAt = 0;      // format version
constexpr int SizeAt = 2;         // total size in bytes
constexpr int NodeCountAt = 4;    // node count
constexpr int NodeAreaAt = 6;     // offset of the node area
constexpr int LiteralAreaAt = 8;  // offset of the literal area
constexpr int BlockHeaderSize = 10;
constexpr int FormatVersion = 2;
constexpr int NodesNotCounted = 0xFFFF;
// Sizes and offsets are 16-bit, so no block is larger than this.
constexpr int MaxBlockSize = 0xFFFF;

// Node: class and operator (32 bits each), then the 16-bit operand slots.
constexpr int NodeOperatorAt = 4;
constexpr int NodeOperandsAt = 8;
constexpr int OperandSize = 2;
// The smallest node: one with a single operand.
constexpr int MinNodeSize = NodeOperandsAt + OperandSize;

// Constants: a date is a 32-bit day number counted from DayNumberBase, the
// Julian day of 31 December of year 0 (proleptic Gregorian), so that day
// number 1 is 1 January of year 1; a time is 32-bit milliseconds since
// midnight; a date-time is a double, milliseconds since the start of day
// number 0.
constexpr std::int64_t DayNumberBase = 1721425;
constexpr int MsPerDay = 86400000;
// A BCD constant is the store's packed decimal: precision, sign and places,
// then BcdPrecision digits as nibbles.
constexpr int BcdPrecision = 32;
constexpr int BcdSize = 2 + BcdPrecision / 2;

}  // namespace filterblock

}  // namespace vrk
