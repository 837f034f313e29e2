// Value conversion of the store: a value brought to its field's type when
// it is assigned, and a value written into a statement's parameter. The
// column read by field type is inline in StoreInternal.h.
#include "StoreInternal.h"

#include "Messages.h"

#include <QDate>

namespace vrk {

QVariant TTable::normalised(const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) return QVariant();
  switch (field.dataType()) {
    case TFieldType::ftBoolean: return QVariant(value.toBool());
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: {
      bool ok = false;
      const int v = value.toInt(&ok);
      if (!ok) throw EConvertError(msg::text(msg::InvalidInteger).arg(value.toString()));
      return QVariant(v);
    }
    case TFieldType::ftDate: return QVariant(value.toDate());
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

void TTable::bindValue(sql::Statement& stmt, int index, const TField& field, const QVariant& value) const {
  if (value.isNull() || !value.isValid()) {
    stmt.bindNull(index);
    return;
  }
  switch (field.dataType()) {
    case TFieldType::ftBoolean: stmt.bindInt(index, value.toBool() ? 1 : 0); return;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: stmt.bindInt(index, value.toInt()); return;
    case TFieldType::ftLargeint: stmt.bindInt64(index, value.toLongLong()); return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD: stmt.bindDouble(index, value.toDouble()); return;
    case TFieldType::ftDate: stmt.bindText(index, value.toDate().toString(Qt::ISODate).toLatin1()); return;
    default: stmt.bindText(index, value.toString().toUtf8()); return;
  }
}

}  // namespace vrk
