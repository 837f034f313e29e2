#include "Schema.h"

#include <QRegularExpression>

namespace vrk::schema {

using T = TFieldType;

const std::vector<Column>& filesColumns() {
  static const std::vector<Column> cols = {
      {"FileName", T::ftString, 120, false},   {"VRKDir", T::ftString, 17, false},
      {"Free", T::ftBoolean, 0, false},        {"FileGrpID", T::ftSmallint, 0, false},
      {"FileCatID", T::ftInteger, 0, true},    {"D10", T::ftBoolean, 0, false},
      {"D20", T::ftBoolean, 0, false},         {"D30", T::ftBoolean, 0, false},
      {"D40", T::ftBoolean, 0, false},         {"D50", T::ftBoolean, 0, false},
      {"C10", T::ftBoolean, 0, false},         {"C30", T::ftBoolean, 0, false},
      {"C40", T::ftBoolean, 0, false},         {"C50", T::ftBoolean, 0, false},
      {"J10", T::ftBoolean, 0, false},         {"J20", T::ftBoolean, 0, false},
      {"Description", T::ftMemo, 1, true},     {"FileVersion", T::ftString, 20, false},
      {"Created", T::ftDate, 0, false},        {"Changed", T::ftDate, 0, false},
      {"FileSize", T::ftInteger, 0, true},     {"ExtDescFile", T::ftString, 1, false},
      {"WithSource", T::ftBoolean, 0, false},  {"Condition", T::ftString, 255, false},
      {"PlatformID", T::ftSmallint, 0, false}, {"Count_TOT", T::ftInteger, 0, false},
      {"Count_UPD", T::ftInteger, 0, false},   {"Count_LW", T::ftInteger, 0, false},
      {"SourceAvail", T::ftString, 5, false},  {"ShareProt", T::ftString, 5, false},
      {"FileTitle", T::ftString, 25, false},   {"SeqNo", T::ftInteger, 0, false},
      {"D60", T::ftBoolean, 0, false},         {"K10", T::ftBoolean, 0, false},
  };
  return cols;
}

const std::vector<Column>& mirrorsColumns() {
  static const std::vector<Column> cols = {
      {"Continent", T::ftString, 30, false},
      {"Country", T::ftString, 20, false},
      {"URL", T::ftString, 100, false},
      {"ProviderName", T::ftString, 100, false},
  };
  return cols;
}

const std::vector<Column>& fileCatColumns() {
  static const std::vector<Column> cols = {
      {"FileCatID", T::ftInteger, 0, true},
      {"FileCatName", T::ftString, 40, false},
      {"Info", T::ftMemo, 1, false},
  };
  return cols;
}

const std::vector<const char*>& flagColumns() {
  static const std::vector<const char*> cols = {"D10", "D20", "D30", "D40", "D50", "D60",  "C10",       "C30",
                                                "C40", "C50", "J10", "J20", "K10", "Free", "WithSource"};
  return cols;
}

QByteArray declaredType(const Column& c) {
  switch (c.type) {
    case T::ftString: return "VARCHAR(" + QByteArray::number(c.size) + ")";
    case T::ftFixedChar: return "CHAR(" + QByteArray::number(c.size) + ")";
    case T::ftBoolean: return "BOOLEAN";
    case T::ftSmallint: return "SMALLINT";
    case T::ftWord: return "WORD";
    case T::ftInteger: return "INTEGER";
    case T::ftAutoInc: return "AUTOINC";
    case T::ftLargeint: return "BIGINT";
    case T::ftFloat: return "FLOAT";
    case T::ftCurrency: return "MONEY";
    case T::ftDate: return "DATE";
    case T::ftTime: return "TIME";
    case T::ftDateTime: return "TIMESTAMP";
    case T::ftMemo: return "MEMO";
    case T::ftFmtMemo: return "FMTMEMO";
    case T::ftGraphic: return "GRAPHIC";
    case T::ftBlob: return "BLOB";
    case T::ftBytes: return "BYTES(" + QByteArray::number(c.size) + ")";
    default: return "UNKNOWN";
  }
}

TFieldDef fieldDefFromDeclaredType(const QString& name, const QString& declType, bool notNull) {
  static const QRegularExpression re(QStringLiteral("^\\s*([A-Za-z ]+?)\\s*(?:\\(\\s*(\\d+)\\s*\\))?\\s*$"));
  TFieldDef def;
  def.name = name;
  def.required = notNull;
  const auto m = re.match(declType);
  const QString base = m.hasMatch() ? m.captured(1).toUpper() : declType.toUpper();
  const int size = m.hasMatch() && !m.captured(2).isEmpty() ? m.captured(2).toInt() : 0;
  struct Map {
    const char* decl;
    TFieldType type;
    int defaultSize;
  };
  static const Map maps[] = {
      {"VARCHAR", T::ftString, 20},    {"CHAR", T::ftFixedChar, 20},   {"TEXT", T::ftMemo, 1},
      {"BOOLEAN", T::ftBoolean, 0},    {"SMALLINT", T::ftSmallint, 0}, {"WORD", T::ftWord, 0},
      {"INTEGER", T::ftInteger, 0},    {"INT", T::ftInteger, 0},       {"AUTOINC", T::ftAutoInc, 0},
      {"BIGINT", T::ftLargeint, 0},    {"FLOAT", T::ftFloat, 0},       {"REAL", T::ftFloat, 0},
      {"MONEY", T::ftCurrency, 0},     {"DATE", T::ftDate, 0},         {"TIME", T::ftTime, 0},
      {"TIMESTAMP", T::ftDateTime, 0}, {"MEMO", T::ftMemo, 1},         {"FMTMEMO", T::ftFmtMemo, 1},
      {"GRAPHIC", T::ftGraphic, 1},    {"BLOB", T::ftBlob, 1},         {"BYTES", T::ftBytes, 1},
  };
  def.dataType = T::ftUnknown;
  for (const Map& mp : maps) {
    if (base == QLatin1String(mp.decl)) {
      def.dataType = mp.type;
      def.size = size ? size : mp.defaultSize;
      if (isBlobType(mp.type)) def.size = 1;
      break;
    }
  }
  return def;
}

QByteArray createTableSql(const char* table, const std::vector<Column>& columns) {
  QByteArray sql = "CREATE TABLE " + QByteArray(table) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    sql += QByteArray(columns[i].name) + ' ' + declaredType(columns[i]);
    if (columns[i].required) sql += " NOT NULL";
  }
  sql += ")";
  return sql;
}

}  // namespace vrk::schema
