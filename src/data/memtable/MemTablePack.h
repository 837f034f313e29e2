// The packed form in which the in-memory table stores a row: what a row's
// data block and blob texts (the working copy, see MemTableSlot.h) become
// when the row is posted, and how one value is read back from it without
// unpacking the rest.
//
// A packed row is, in this order:
//   flags   two bits per yes/no slot, presence and value (fifteen flags
//           cost four bytes instead of forty-five)
//   fixed   every other fixed-width slot (numbers, dates, wide texts, bytes)
//           as it is in the data block, presence byte and value, in
//           definition order, so that each sits at an offset fixed by the
//           layout and reads as the slot does
//   texts   one entry per short text and per blob, in definition order: a
//           length (7 bits a byte, low group first) and the bytes; a short
//           text's length carries its encoding in the low bit (0: the table
//           layer's single-byte text, 1: UTF-8), a blob's is its length
// A short text keeps the bytes it had in its slot (up to its end), so a
// text of ten characters costs ten bytes and not the field's size; an
// empty text and a null one are the same, as in the slot.
//
// UI thread only (like every table).
#pragma once

#include "DataSet.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace vrk::mempack {

class Layout final {
 public:
  // Adds the next definition of the data block, in definition order: an
  // inline slot at its offset, or a blob (blobIndex: its place in the text
  // list). Returns the entry's number for reading.
  int addInline(TFieldType type, int size, int offset);
  int addBlob(int blobIndex);
  // Call once after the last definition.
  void finish();
  void clear();

  // Room enough for the packed form of a working copy with these blob
  // texts, whatever its short texts hold.
  std::size_t packBound(const QByteArray* blobs) const;
  // Writes the packed form of a working copy (its data block and its blob
  // texts) to out, which has packBound bytes; returns the bytes written.
  std::size_t pack(const std::uint8_t* block, const QByteArray* blobs, std::uint8_t* out) const;
  // The working copy of a packed row: block (zero-filled by the caller,
  // recordSize bytes) and blobs (one per blob definition).
  void unpack(const std::uint8_t* packed, std::uint8_t* block, QByteArray* blobs) const;

  // One value of a packed row, as memslot::read gives it from the slot.
  QVariant read(const std::uint8_t* packed, int entry) const;
  bool isNull(const std::uint8_t* packed, int entry) const;
  // The bytes of a blob entry (valid while the row lives).
  QByteArrayView blob(const std::uint8_t* packed, int entry) const;

 private:
  enum class Kind : std::uint8_t { Flag, Fixed, Text, Blob };
  struct Entry {
    Kind kind;
    TFieldType type;
    int size;    // the field's size
    int offset;  // inline: the slot's offset in the data block
    int at;      // Flag: the presence bit (the value bit follows); Fixed:
                 // the slot's offset in the packed row; Text, Blob: the
                 // place among the variable entries
    int width;   // Fixed: the slot's bytes; Blob: the index in the text list
  };
  // The bytes of a variable entry in a packed row; length and, for a short
  // text, whether they are UTF-8.
  const std::uint8_t* variable(const std::uint8_t* packed, const Entry& e, std::size_t& length,
                               bool& utf8) const;

  // What pack does, made once by finish(): the flags, the fixed slots in
  // runs that lie together both in the data block and in the packed row
  // (one copy each), and the variable entries in their order.
  struct FlagStep {
    int offset;  // the slot in the data block
    int bit;     // the presence bit
  };
  struct FixedRun {
    int offset;  // in the data block
    int at;      // in the packed row
    int width;
  };
  struct VariableStep {
    bool text;
    int offset;  // text: the slot in the data block; blob: the index in the text list
    int size;    // text: the field's size
  };

  std::vector<Entry> m_entries;
  std::vector<bool> m_textVariable;  // by place among the variable entries
  std::vector<FlagStep> m_flagSteps;
  std::vector<FixedRun> m_fixedRuns;
  std::vector<VariableStep> m_variableSteps;
  std::size_t m_textBound = 0;  // the most the short texts can take
  int m_flags = 0;
  int m_fixedBytes = 0;
  int m_variables = 0;
  int m_variablesAt = 0;  // where the variable entries start
};

}  // namespace vrk::mempack
