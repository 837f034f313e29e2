#include "MemTableSlot.h"

#include "Messages.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>
#include <cstring>

namespace vrk::memslot {
namespace {

constexpr std::uint8_t kNull = 0;
constexpr std::uint8_t kValue = 1;
constexpr std::uint8_t kUtf8Text = 2;  // a short text held in UTF-8
constexpr qint64 kMsPerDay = 86400000;

template <typename T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void storeRaw(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

[[noreturn]] void convertError(const QString& text) { throw EConvertError(text); }

qint64 toInt64(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float: {
      const double d = v.toDouble();
      if (!std::isfinite(d) || std::fabs(d) > 9.2e18) {
        convertError(msg::text(msg::InvalidInteger).arg(v.toString()));
      }
      return static_cast<qint64>(std::llround(d));
    }
    default: break;
  }
  bool ok = false;
  const qint64 i =
      v.typeId() == QMetaType::QString ? v.toString().trimmed().toLongLong(&ok) : v.toLongLong(&ok);
  if (!ok) convertError(msg::text(msg::InvalidInteger).arg(v.toString()));
  return i;
}

qint64 toRange(const QVariant& v, qint64 lo, qint64 hi, const QString& fieldName) {
  const qint64 i = toInt64(v);
  if (i < lo || i > hi) {
    throw EDatabaseError(msg::text(msg::ValueOutOfRange).arg(i).arg(fieldName).arg(lo).arg(hi));
  }
  return i;
}

bool toBool(const QVariant& v) {
  if (v.typeId() == QMetaType::Bool) return v.toBool();
  if (v.typeId() == QMetaType::QString) {
    const QString s = v.toString().trimmed();
    if (s.compare(trueWord(), Qt::CaseInsensitive) == 0 ||
        s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || s == QLatin1String("1")) {
      return true;
    }
    if (s.compare(falseWord(), Qt::CaseInsensitive) == 0 ||
        s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || s == QLatin1String("0")) {
      return false;
    }
    convertError(msg::text(msg::InvalidBooleanValue).arg(s));
  }
  return toInt64(v) != 0;
}

double toDouble(const QVariant& v) {
  bool ok = false;
  const double d = v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
  if (!ok) convertError(msg::text(msg::InvalidFloat).arg(v.toString()));
  return d;
}

QDate toDate(const QVariant& v) {
  QDate d;
  if (v.typeId() == QMetaType::QDate)
    d = v.toDate();
  else if (v.typeId() == QMetaType::QDateTime)
    d = v.toDateTime().date();
  else
    d = QDate::fromString(v.toString().trimmed().left(10), Qt::ISODate);
  if (!d.isValid() || d.toJulianDay() < INT32_MIN || d.toJulianDay() > INT32_MAX) {
    convertError(msg::text(msg::InvalidDate).arg(v.toString()));
  }
  return d;
}

QTime toTime(const QVariant& v) {
  QTime t;
  if (v.typeId() == QMetaType::QTime)
    t = v.toTime();
  else if (v.typeId() == QMetaType::QDateTime)
    t = v.toDateTime().time();
  else
    t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
  if (!t.isValid()) convertError(msg::text(msg::InvalidTime).arg(v.toString()));
  return t;
}

QDateTime toDateTime(const QVariant& v) {
  QDateTime dt;
  if (v.typeId() == QMetaType::QDateTime)
    dt = v.toDateTime();
  else if (v.typeId() == QMetaType::QDate)
    dt = QDateTime(v.toDate(), QTime(0, 0));
  else
    dt = QDateTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
  if (!dt.isValid()) {
    convertError(msg::text(msg::InvalidDateTimeValue).arg(v.toString()));
  }
  return dt;
}

// Short text into size+1 bytes: Latin-1 when every character fits, else
// UTF-8 cut at a character boundary.
void writeText(std::uint8_t* p, int size, const QString& s) {
  const int n = std::min<qsizetype>(s.size(), size);
  const QChar* c = s.constData();
  std::uint8_t* out = p + 1;
  bool latin1 = true;
  for (int i = 0; i < n; ++i) {
    const char16_t u = c[i].unicode();
    if (u > 0xff) {
      latin1 = false;
      break;
    }
    out[i] = static_cast<std::uint8_t>(u);
  }
  if (latin1) {
    // A zero character ends the stored text, as in the table layer.
    out[n] = 0;
    p[0] = kValue;
    return;
  }
  const QByteArray u8 = QStringView(s).left(n).toUtf8();
  int len = std::min<int>(static_cast<int>(u8.size()), size);
  // Do not end inside a multi-byte sequence.
  while (len > 0 && len < u8.size() && (static_cast<std::uint8_t>(u8[len]) & 0xc0) == 0x80) --len;
  std::memcpy(out, u8.constData(), static_cast<std::size_t>(len));
  out[len] = 0;
  p[0] = kUtf8Text;
}

// Short text from UTF-8 bytes, with the same outcome as writeText on the
// decoded text, when every character of its first `size` is Latin-1 (the
// common case); false, with the slot's presence byte untouched, otherwise:
// such a text goes the decoding way, which also settles what a byte that is
// not UTF-8 becomes.
bool writeUtf8Latin1(std::uint8_t* p, int size, const char* s, qsizetype len) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(s);
  std::uint8_t* out = p + 1;
  int chars = 0;
  qsizetype i = 0;
  while (i < len && chars < size) {
    const std::uint8_t b = in[i];
    if (b < 0x80) {
      out[chars++] = b;
      ++i;
    } else if ((b == 0xc2 || b == 0xc3) && i + 1 < len && (in[i + 1] & 0xc0) == 0x80) {
      out[chars++] = static_cast<std::uint8_t>(((b & 0x1f) << 6) | (in[i + 1] & 0x3f));
      i += 2;
    } else {
      return false;
    }
  }
  out[chars] = 0;
  p[0] = kValue;
  return true;
}

QString readText(const std::uint8_t* p, int size) {
  const char* s = reinterpret_cast<const char*>(p + 1);
  const std::size_t n = strnlen(s, static_cast<std::size_t>(size));
  if (n == 0) return QString();
  return p[0] == kUtf8Text ? QString::fromUtf8(s, static_cast<qsizetype>(n))
                           : QString::fromLatin1(s, static_cast<qsizetype>(n));
}

int wideLength(const std::uint8_t* p, int size) {
  int n = 0;
  while (n < size && load<char16_t>(p + 1 + 2 * n) != 0) ++n;
  return n;
}

// UTF-8 of a text in an allocation of exactly its size: a million memos must
// not keep the worst-case room a general conversion reserves. Unpaired
// surrogates become U+FFFD.
QByteArray utf8Exact(const QString& s) {
  const qsizetype n = s.size();
  const char16_t* c = reinterpret_cast<const char16_t*>(s.constData());
  auto pairAt = [&](qsizetype i) {
    return QChar::isHighSurrogate(c[i]) && i + 1 < n && QChar::isLowSurrogate(c[i + 1]);
  };
  qsizetype len = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t u = c[i];
    if (u < 0x80)
      len += 1;
    else if (u < 0x800)
      len += 2;
    else if (pairAt(i))
      len += 4, ++i;
    else
      len += 3;
  }
  QByteArray b(len, Qt::Uninitialized);
  auto* out = reinterpret_cast<std::uint8_t*>(b.data());
  for (qsizetype i = 0; i < n; ++i) {
    char32_t u = c[i];
    if (u < 0x80) {
      *out++ = static_cast<std::uint8_t>(u);
    } else if (u < 0x800) {
      *out++ = static_cast<std::uint8_t>(0xc0 | (u >> 6));
      *out++ = static_cast<std::uint8_t>(0x80 | (u & 0x3f));
    } else if (pairAt(i)) {
      u = QChar::surrogateToUcs4(c[i], c[i + 1]);
      ++i;
      *out++ = static_cast<std::uint8_t>(0xf0 | (u >> 18));
      *out++ = static_cast<std::uint8_t>(0x80 | ((u >> 12) & 0x3f));
      *out++ = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3f));
      *out++ = static_cast<std::uint8_t>(0x80 | (u & 0x3f));
    } else {
      if (QChar::isSurrogate(u)) u = 0xfffd;
      *out++ = static_cast<std::uint8_t>(0xe0 | (u >> 12));
      *out++ = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3f));
      *out++ = static_cast<std::uint8_t>(0x80 | (u & 0x3f));
    }
  }
  return b;
}

}  // namespace

int valueWidth(TFieldType type, int size) {
  using T = TFieldType;
  switch (type) {
    case T::ftString:
    case T::ftFixedChar: return size + 1;
    case T::ftWideString: return 2 * size + 2;
    case T::ftSmallint:
    case T::ftWord:
    case T::ftBoolean: return 2;
    case T::ftInteger:
    case T::ftDate:
    case T::ftTime:
    case T::ftAutoInc: return 4;
    case T::ftFloat:
    case T::ftCurrency:
    case T::ftDateTime:
    case T::ftLargeint: return 8;
    case T::ftBCD: return 34;
    case T::ftBytes: return size;
    case T::ftVarBytes: return size + 2;
    case T::ftADT: return 0;
    default: return -1;  // blob kinds and kinds that cannot be stored
  }
}

bool isNull(const std::uint8_t* p, TFieldType type, int size) {
  if (type == TFieldType::ftString || type == TFieldType::ftFixedChar) {
    return size <= 0 || p[1] == 0;
  }
  if (type == TFieldType::ftWideString) return wideLength(p, size) == 0;
  return p[0] == kNull;
}

QVariant read(const std::uint8_t* p, TFieldType type, int size) {
  using T = TFieldType;
  if (type == T::ftString || type == T::ftFixedChar) {
    QString s = readText(p, size);
    return s.isEmpty() ? QVariant() : QVariant(s);
  }
  if (type == T::ftWideString) {
    const int n = wideLength(p, size);
    if (n == 0) return QVariant();
    QString s(n, Qt::Uninitialized);
    std::memcpy(s.data(), p + 1, static_cast<std::size_t>(n) * 2);
    return s;
  }
  if (p[0] == kNull) return QVariant();
  const std::uint8_t* v = p + 1;
  switch (type) {
    case T::ftSmallint: return int(load<std::int16_t>(v));
    case T::ftWord: return int(load<std::uint16_t>(v));
    case T::ftBoolean: return load<std::uint16_t>(v) != 0;
    case T::ftInteger:
    case T::ftAutoInc: return int(load<std::int32_t>(v));
    case T::ftDate: return QDate::fromJulianDay(load<std::int32_t>(v));
    case T::ftTime: return QTime::fromMSecsSinceStartOfDay(load<std::int32_t>(v));
    case T::ftFloat:
    case T::ftCurrency: return load<double>(v);
    case T::ftDateTime: {
      const qint64 ms = load<qint64>(v);
      const qint64 day = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
      return QDateTime(QDate::fromJulianDay(day),
                       QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms - day * kMsPerDay)));
    }
    case T::ftLargeint: return qlonglong(load<qint64>(v));
    case T::ftBCD: {
      const char* s = reinterpret_cast<const char*>(v);
      return QString::fromLatin1(s, static_cast<qsizetype>(strnlen(s, 34))).toDouble();
    }
    case T::ftBytes: return QByteArray(reinterpret_cast<const char*>(v), size);
    case T::ftVarBytes: {
      const int n = std::min<int>(load<std::uint16_t>(v), size);
      return QByteArray(reinterpret_cast<const char*>(v + 2), n);
    }
    default: return QVariant();
  }
}

void write(std::uint8_t* p, TFieldType type, int size, const QVariant& value, const QString& fieldName) {
  using T = TFieldType;
  const int width = valueWidth(type, size);
  if (width < 0) return;
  if (value.isNull() || !value.isValid()) {
    std::memset(p, 0, static_cast<std::size_t>(width) + 1);
    return;
  }
  std::uint8_t* v = p + 1;
  switch (type) {
    case T::ftString:
    case T::ftFixedChar:
      if (value.typeId() == QMetaType::QString) {
        writeText(p, size, *static_cast<const QString*>(value.constData()));
      } else {
        writeText(
            p, size,
            value.typeId() == QMetaType::QDate ? value.toDate().toString(Qt::ISODate) : value.toString());
      }
      return;
    case T::ftWideString: {
      const QString s = value.toString();
      const int n = std::min<qsizetype>(s.size(), size);
      std::memcpy(v, s.constData(), static_cast<std::size_t>(n) * 2);
      storeRaw<char16_t>(v + 2 * n, 0);
      break;
    }
    case T::ftSmallint:
      storeRaw(v, static_cast<std::int16_t>(toRange(value, INT16_MIN, INT16_MAX, fieldName)));
      break;
    case T::ftWord: storeRaw(v, static_cast<std::uint16_t>(toRange(value, 0, UINT16_MAX, fieldName))); break;
    case T::ftBoolean:
      if (value.typeId() == QMetaType::Bool) {
        storeRaw<std::uint16_t>(v, *static_cast<const bool*>(value.constData()) ? 1 : 0);
      } else {
        storeRaw<std::uint16_t>(v, toBool(value) ? 1 : 0);
      }
      break;
    case T::ftInteger:
    case T::ftAutoInc:
      if (value.typeId() == QMetaType::Int) {
        storeRaw<std::int32_t>(v, *static_cast<const int*>(value.constData()));
      } else {
        storeRaw(v, static_cast<std::int32_t>(toRange(value, INT32_MIN, INT32_MAX, fieldName)));
      }
      break;
    case T::ftDate: {
      const QDate d =
          value.typeId() == QMetaType::QDate ? *static_cast<const QDate*>(value.constData()) : toDate(value);
      if (!d.isValid() || d.toJulianDay() < INT32_MIN || d.toJulianDay() > INT32_MAX) {
        std::memset(p, 0, static_cast<std::size_t>(width) + 1);  // an invalid date is no date
        return;
      }
      storeRaw(v, static_cast<std::int32_t>(d.toJulianDay()));
      break;
    }
    case T::ftTime: storeRaw<std::int32_t>(v, toTime(value).msecsSinceStartOfDay()); break;
    case T::ftFloat:
    case T::ftCurrency: storeRaw(v, toDouble(value)); break;
    case T::ftDateTime: {
      const QDateTime dt = toDateTime(value);
      storeRaw<qint64>(v, dt.date().toJulianDay() * kMsPerDay + dt.time().msecsSinceStartOfDay());
      break;
    }
    case T::ftLargeint: storeRaw<qint64>(v, toInt64(value)); break;
    case T::ftBCD: {
      const QByteArray s = QByteArray::number(toDouble(value), 'g', 17).left(33);
      std::memset(v, 0, 34);
      std::memcpy(v, s.constData(), static_cast<std::size_t>(s.size()));
      break;
    }
    case T::ftBytes: {
      const QByteArray b = value.toByteArray();
      std::memset(v, 0, static_cast<std::size_t>(size));
      std::memcpy(v, b.constData(), static_cast<std::size_t>(std::min<qsizetype>(b.size(), size)));
      break;
    }
    case T::ftVarBytes: {
      const QByteArray b = value.toByteArray();
      const int n = std::min<qsizetype>(b.size(), size);
      storeRaw<std::uint16_t>(v, static_cast<std::uint16_t>(n));
      std::memcpy(v + 2, b.constData(), static_cast<std::size_t>(n));
      break;
    }
    default: break;
  }
  p[0] = kValue;
}

bool writeRaw(std::uint8_t* p, TFieldType type, int size, const TRawValue& raw) {
  using T = TFieldType;
  if (raw.kind == TRawValue::rvNull) {
    const int width = valueWidth(type, size);
    if (width < 0) return false;
    std::memset(p, 0, static_cast<std::size_t>(width) + 1);
    return true;
  }
  // Every kind below is an inline one; the others are refused by the default.
  std::uint8_t* v = p + 1;
  const bool isInt = raw.kind == TRawValue::rvInteger;
  switch (type) {
    case T::ftString:
    case T::ftFixedChar: return raw.kind == TRawValue::rvText && writeUtf8Latin1(p, size, raw.data, raw.size);
    case T::ftBoolean:
      if (!isInt) return false;
      storeRaw<std::uint16_t>(v, raw.integer != 0 ? 1 : 0);
      break;
    case T::ftSmallint:
      if (!isInt || raw.integer < INT16_MIN || raw.integer > INT16_MAX) return false;
      storeRaw(v, static_cast<std::int16_t>(raw.integer));
      break;
    case T::ftWord:
      if (!isInt || raw.integer < 0 || raw.integer > UINT16_MAX) return false;
      storeRaw(v, static_cast<std::uint16_t>(raw.integer));
      break;
    case T::ftInteger:
    case T::ftAutoInc:
      if (!isInt || raw.integer < INT32_MIN || raw.integer > INT32_MAX) return false;
      storeRaw(v, static_cast<std::int32_t>(raw.integer));
      break;
    case T::ftLargeint:
      if (!isInt) return false;
      storeRaw<qint64>(v, raw.integer);
      break;
    case T::ftFloat:
    case T::ftCurrency:
      if (isInt)
        storeRaw(v, static_cast<double>(raw.integer));
      else if (raw.kind == TRawValue::rvReal)
        storeRaw(v, raw.real);
      else
        return false;
      break;
    case T::ftDate: {
      if (raw.kind != TRawValue::rvText || raw.size != 10) return false;
      const char* t = raw.data;
      auto digits = [t](int from, int n) {
        int x = 0;
        for (int k = from; k < from + n; ++k) {
          if (t[k] < '0' || t[k] > '9') return -1;
          x = x * 10 + (t[k] - '0');
        }
        return x;
      };
      if (t[4] != '-' || t[7] != '-') return false;
      // Anything but digits goes the parsing way (a year that is not four
      // digits must not become the year -1).
      const int year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
      if (year < 0 || month < 0 || day < 0) return false;
      const QDate d(year, month, day);
      if (!d.isValid()) return false;
      storeRaw(v, static_cast<std::int32_t>(d.toJulianDay()));
      break;
    }
    default: return false;
  }
  p[0] = kValue;
  return true;
}

bool rawBlob(TFieldType type, const TRawValue& raw, QByteArray& text) {
  switch (raw.kind) {
    case TRawValue::rvNull: text = QByteArray(); return true;
    case TRawValue::rvText:
    case TRawValue::rvBlob:
      // A memo's bytes are its UTF-8 text already; the copy is exact-sized.
      if (raw.kind == TRawValue::rvBlob && (type == TFieldType::ftMemo || type == TFieldType::ftFmtMemo)) {
        return false;
      }
      text = QByteArray(raw.data, raw.size);
      return true;
    default: return false;
  }
}

QByteArray blobBytes(TFieldType type, const QVariant& value) {
  if (value.isNull() || !value.isValid()) return QByteArray();
  QByteArray b;
  if (value.typeId() == QMetaType::QByteArray) {
    b = value.toByteArray();
  } else if (type == TFieldType::ftMemo || type == TFieldType::ftFmtMemo) {
    const QString& s = value.typeId() == QMetaType::QString ? *static_cast<const QString*>(value.constData())
                                                            : value.toString();
    return utf8Exact(s);
  } else {
    b = value.toByteArray();
  }
  // A shared or grown byte array may carry spare room; a million rows must
  // not keep it.
  if (b.capacity() > b.size() + 16) b.squeeze();
  return b;
}

QVariant blobValue(TFieldType type, const QByteArray& bytes) {
  if (type == TFieldType::ftMemo || type == TFieldType::ftFmtMemo) {
    return QString::fromUtf8(bytes);  // never null: an empty memo reads as ""
  }
  return bytes;
}

}  // namespace vrk::memslot
