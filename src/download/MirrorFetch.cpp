#include "MirrorFetch.h"

#include "Exception.h"
#include "Messages.h"

#include <QLocale>

namespace vrk {

QString mirrorLocalName(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString name = slash >= 0 ? path.mid(slash + 1) : QString();
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
    throw Exception(msg::text(msg::PathNamesNoFile).arg(path));
  return name;
}

QString mirrorQuestion(const QString& mirror, bool toFile, const QString& localName) {
  if (toFile)
    return msg::text(msg::ConnectTo) + mirror + QStringLiteral("ftp/") + localName +
           msg::text(msg::QuestionEnd);
  return msg::text(msg::ConnectTo) + mirror + msg::text(msg::QuestionEnd);
}

QString mirrorUrl(const QString& mirror, const QString& path) {
  return mirror + QStringLiteral("/ftp/") + path;
}

int proxyPortNumber(const QString& text) {
  bool ok = false;
  const int port = text.toInt(&ok, 10);
  // A number outside the port range would reach another port once cut to
  // 16 bits.
  if (!ok || port < 1 || port > 65535) throw EConvertError(msg::text(msg::InvalidInteger).arg(text));
  return port;
}

QString replyStatusLine(const QString& header) {
  QString line = header.left(header.indexOf(QLatin1Char('\n')));
  while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n'))) line.chop(1);
  return line;
}

QString replyFailure(const QString& header, int status) {
  const QString line = replyStatusLine(header);
  if (!line.startsWith(QLatin1String("HTTP/"))) return msg::text(msg::NoHttpStatusLine);
  return status >= 200 && status <= 299 ? QString() : line;
}

QString sizeMismatchText(const QString& localName, qint64 received, qint64 catalogueSize) {
  const QLocale grouped(QLocale::English, QLocale::UnitedStates);
  return msg::text(msg::SizeMismatch)
      .arg(localName, grouped.toString(received), grouped.toString(catalogueSize));
}

QString downloadFailedText(const QString& statusLine, const QString& url) {
  return msg::text(msg::DownloadFailed) + statusLine + QStringLiteral(" (") + url + QLatin1Char(')');
}

}  // namespace vrk
