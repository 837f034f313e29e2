// Value conversion of the store: a stored column read into the value of a
// field type, a value brought to its field's type when it is assigned, and a
// value written into a statement's parameter.
#include "StoreInternal.h"

#include <QDate>

#include <sqlite3.h>

namespace vrk {

namespace {

// A stored date text as the ISO parser reads it. The store writes dates as
// YYYY-MM-DD; those are read here digit by digit (a walk reads two a row),
// anything else goes to the parser.
QDate readIsoDate(const char* t) {
  if (!t) return QDate();
  // Each test fails on the terminating zero, so nothing past it is read.
  bool plain = true;
  for (int i = 0; plain && i < 10; ++i) plain = i == 4 || i == 7 ? t[i] == '-' : t[i] >= '0' && t[i] <= '9';
  if (!plain || t[10] != '\0') return QDate::fromString(QString::fromLatin1(t), Qt::ISODate);
  const auto number = [t](int from, int n) {
    int x = 0;
    for (int i = from; i < from + n; ++i) x = x * 10 + (t[i] - '0');
    return x;
  };
  const int year = number(0, 4);
  // The parser knows no year 0.
  return year > 0 ? QDate(year, number(5, 2), number(8, 2)) : QDate();
}

}  // namespace

QVariant readColumn(sqlite3_stmt* stmt, int column, TFieldType type) {
  // The column's value object, read through the value functions: one call
  // into the statement per column instead of one per question. The value is
  // unprotected, which only matters to connections shared between threads;
  // ours are not (they are opened without a mutex).
  sqlite3_value* value = sqlite3_column_value(stmt, column);
  if (sqlite3_value_type(value) == SQLITE_NULL) return QVariant();
  switch (type) {
    case TFieldType::ftBoolean:
      return QVariant(sqlite3_value_int(value) != 0);
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      return QVariant(sqlite3_value_int(value));
    case TFieldType::ftLargeint:
      return QVariant(static_cast<qlonglong>(sqlite3_value_int64(value)));
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
      return QVariant(sqlite3_value_double(value));
    case TFieldType::ftDate: {
      const QDate d = readIsoDate(reinterpret_cast<const char*>(sqlite3_value_text(value)));
      return d.isValid() ? QVariant(d) : QVariant();
    }
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(value));
      return QVariant(QByteArray(p, sqlite3_value_bytes(value)));
    }
    default: {
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return QVariant(QString::fromUtf8(t, sqlite3_value_bytes(value)));
    }
  }
}

QVariant TTable::normalised(const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) return QVariant();
  switch (field.dataType()) {
    case TFieldType::ftBoolean:
      return QVariant(value.toBool());
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: {
      bool ok = false;
      const int v = value.toInt(&ok);
      if (!ok) throw EConvertError(QString::fromUtf8(msg::InvalidInteger).arg(value.toString()));
      return QVariant(v);
    }
    case TFieldType::ftDate:
      return QVariant(value.toDate());
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
      // Texts are cut to the field's size.
      return QVariant(value.toString().left(field.size()));
    default:
      if (field.isBlob()) return QVariant(value.toString());
      return value;
  }
}

void TTable::bindValue(sqlite3_stmt* stmt, int index, const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) {
    sqlite3_bind_null(stmt, index);
    return;
  }
  switch (field.dataType()) {
    case TFieldType::ftBoolean:
      sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      sqlite3_bind_int(stmt, index, value.toInt());
      return;
    case TFieldType::ftLargeint:
      sqlite3_bind_int64(stmt, index, value.toLongLong());
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
      sqlite3_bind_double(stmt, index, value.toDouble());
      return;
    case TFieldType::ftDate: {
      const QByteArray t = value.toDate().toString(Qt::ISODate).toLatin1();
      sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      return;
    }
    default: {
      const QByteArray t = value.toString().toUtf8();
      sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
      return;
    }
  }
}

}  // namespace vrk
