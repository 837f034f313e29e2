// The value codec of the in-memory table's data block: how one value of each
// field kind sits in its slot (a presence byte, then the value in the kind's
// fixed width) and how it converts to and from the QVariant the fields carry.
//
// Short texts (ftString, ftFixedChar) hold one byte per character in Latin-1,
// the table layer's single-byte text; a text with characters outside Latin-1
// is held in UTF-8 instead (presence byte 2), cut at a character boundary so
// it fits the slot. Wide texts hold UTF-16. Dates are Julian day numbers,
// times milliseconds since midnight, date-times milliseconds since the start
// of Julian day 0. Nothing outside the table sees these forms.
#pragma once

#include "DataSet.h"

#include <QByteArray>
#include <QVariant>

#include <cstdint>

namespace vrk::memslot {

// Width of the value part of a slot; -1 for blob kinds and kinds that cannot
// be stored.
int valueWidth(TFieldType type, int size);

// Reads the slot at p (presence byte first). An empty text reads as null.
QVariant read(const std::uint8_t* p, TFieldType type, int size);

// True when the slot holds no value (null, or an empty text).
bool isNull(const std::uint8_t* p, TFieldType type, int size);

// Writes value into the slot at p; a null value clears the presence byte and
// zero-fills the slot. Texts are cut to size characters. Fails with
// EConvertError or EDatabaseError for a value the kind cannot take;
// fieldName names the field in those messages. The slot is unchanged then.
void write(std::uint8_t* p, TFieldType type, int size, const QVariant& value, const QString& fieldName);

// Writes a value as the source data set stores it (TRawValue). Returns false
// when the raw form is not the plain one for the kind (a text in a number
// column, a number out of range, a date that is not YYYY-MM-DD in digits, a
// short text with a character beyond Latin-1 or bytes that are not UTF-8);
// the caller then converts through the QVariant, which gives the same result
// the slow way or the conversion error. The presence byte is unchanged then;
// a text's bytes after it may not be, and the conversion writes them anew.
bool writeRaw(std::uint8_t* p, TFieldType type, int size, const TRawValue& raw);
// The same for a blob field: fills text and returns true when it could.
bool rawBlob(TFieldType type, const TRawValue& raw, QByteArray& text);

// A blob value as the row's text: memos in UTF-8, other blobs raw bytes.
QByteArray blobBytes(TFieldType type, const QVariant& value);
// The row's text as a field value: memos give their text (never null).
QVariant blobValue(TFieldType type, const QByteArray& bytes);

}  // namespace vrk::memslot
