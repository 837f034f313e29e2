#include "UnzipStatus.h"

#include <QStringDecoder>

namespace vrk {
namespace {

QString padded(const QString& text, qsizetype width) { return text.rightJustified(width, QLatin1Char(' ')); }

QString padded(quint32 value, qsizetype width) { return padded(QString::number(value), width); }

}  // namespace

QString UnzipStatusLine(quint32 size, quint32 compressedSize, quint32 factor, quint32 month, quint32 day,
                        quint32 year, quint32 hour, quint32 minute, char flag, const QString& name) {
  // "%s%d%%": the factor as a signed decimal.
  const QString ratio = factor == 100 ? QStringLiteral("100%")
                                      : QLatin1Char(size < compressedSize ? '-' : ' ') +
                                            QString::number(static_cast<qint32>(factor)) + QLatin1Char('%');
  QString line;
  line.reserve(41 + name.size());
  line +=
      padded(size, 7) + QLatin1String("  ") + padded(compressedSize, 7) + QLatin1Char(' ') + padded(ratio, 4);
  line += QLatin1String("  ") + padded(month, 2) + QLatin1Char('-') + padded(day, 2) + QLatin1Char('-') +
          padded(year, 2);
  line += QLatin1String("  ") + padded(hour, 2) + QLatin1Char(':') + padded(minute, 2);
  line += QLatin1String("  ") + QLatin1Char(flag) + name;
  return line;
}

QString MemberNameText(const QByteArray& name) {
  QStringDecoder utf8(QStringDecoder::Utf8,
                      QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  QString text = utf8.decode(name);
  return utf8.hasError() ? QString::fromLatin1(name) : text;
}

}  // namespace vrk
