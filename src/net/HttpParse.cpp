#include "HttpParse.h"

#include "Messages.h"
#include "SockError.h"

namespace vrk {
namespace {

// Index of the n-th (1-based) occurrence of c in s, or -1.
qsizetype nthIndexOf(const QString& s, QChar c, int n) {
  qsizetype at = -1;
  for (int i = 0; i < n; ++i) {
    at = s.indexOf(c, at + 1);
    if (at < 0) return -1;
  }
  return at;
}

QString stripLineEnd(QString s) {
  while (s.endsWith(QLatin1Char('\n')) || s.endsWith(QLatin1Char('\r'))) s.chop(1);
  return s;
}

}  // namespace

TUrlParts SplitUrl(const QString& url, const QString& host, int port, bool secure) {
  if (url.isEmpty()) throw ESockError(msg::text(msg::EmptyUrl));
  TUrlParts parts;
  parts.Url = url;
  parts.Host = host;
  parts.Secure = secure;
  parts.Port = port != 0 ? port : secure ? 443 : 80;

  const bool hasDoubleSlash = url.contains(QStringLiteral("//"));
  if (hasDoubleSlash) {
    const qsizetype third = nthIndexOf(url, QLatin1Char('/'), 3);
    if (third >= 0) parts.Path = url.mid(third);
  } else if (const qsizetype first = url.indexOf(QLatin1Char('/')); first >= 0) {
    parts.Path = url.mid(first);
  }
  parts.Path.truncate(kMaxPathLength);

  if (const qsizetype colon = url.indexOf(QLatin1Char(':')); colon >= 0) {
    const QString scheme = url.left(colon).toLower();
    parts.Secure = scheme == QLatin1String("https");
    if (parts.Secure) {
      parts.Port = 443;
    } else if (scheme == QLatin1String("gopher")) {
      parts.Port = 70;
    } else if (scheme == QLatin1String("ftp")) {
      parts.Port = 21;
    } else {
      parts.Port = 80;
    }
  }

  QString hostPart;
  if (hasDoubleSlash) {
    const qsizetype second = nthIndexOf(url, QLatin1Char('/'), 2);
    const qsizetype third = url.indexOf(QLatin1Char('/'), second + 1);
    hostPart = third >= 0 ? url.mid(second + 1, third - second - 1) : url.mid(second + 1);
  } else if (!url.startsWith(QLatin1Char('/'))) {
    hostPart = url.left(url.indexOf(QLatin1Char('/')));  // whole URL when there is no "/"
  }

  if (const qsizetype colon = hostPart.indexOf(QLatin1Char(':')); colon >= 0) {
    const QString number = hostPart.mid(colon + 1);
    bool ok = false;
    const int value = number.toInt(&ok, 10);
    if (!ok || value < 1 || value > 65535) throw EConvertError(msg::text(msg::InvalidInteger).arg(number));
    parts.Port = value;
    hostPart.truncate(colon);
  }
  if (!hostPart.isEmpty()) parts.Host = hostPart;

  if (parts.Path.isEmpty()) {
    parts.Path = QStringLiteral("/");
    parts.Url += QLatin1Char('/');
  }
  return parts;
}

void SetLineByName(QStringList& lines, const QString& name, const QString& line) {
  for (QString& existing : lines) {
    const qsizetype colon = existing.indexOf(QLatin1Char(':'));
    if (colon >= 0 && existing.left(colon).compare(name, Qt::CaseInsensitive) == 0) {
      existing = line;
      return;
    }
  }
  lines << line;
}

QStringList BuildGetRequest(const TUrlParts& parts, const QString& proxy, const THeaderInfo& info) {
  QStringList lines;
  if (!proxy.isEmpty()) {
    lines << QStringLiteral("GET ") + parts.Url + QStringLiteral(" HTTP/1.0");
    lines << QStringLiteral("Proxy-Connection: Keep-Alive");
  } else {
    lines << QStringLiteral("GET ") + parts.Path + QStringLiteral(" HTTP/1.0");
  }
  if (!parts.Host.isEmpty())
    SetLineByName(lines, QStringLiteral("Host"), QStringLiteral("Host: ") + parts.Host);
  lines << QStringLiteral("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  lines << QStringLiteral("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  auto byName = [&](const char* name, const QString& value) {
    if (!value.isEmpty())
      SetLineByName(lines, QLatin1String(name), QLatin1String(name) + QStringLiteral(": ") + value);
  };
  byName("User-Agent", info.LocalProgram);
  byName("From", info.LocalMailAddress);
  byName("Cookie", info.Cookie);
  byName("Referer", info.Referer);
  if (!info.UserId.isEmpty() && !info.Password.isEmpty()) {
    const QByteArray credentials = (info.UserId + QLatin1Char(':') + info.Password).toLatin1().toBase64();
    byName("Authorization", QStringLiteral("Basic ") + QString::fromLatin1(credentials));
  }
  lines << QStringLiteral("Content-type: application/x-www-form-urlencoded");
  lines << QString();
  return lines;
}

QString JoinRequestLines(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) {
    for (const QChar c : line) {
      const char16_t u = c.unicode();
      if (u < 0x20 || u == 0x7F) {
        text += QString::asprintf("%%%02X", static_cast<unsigned>(u));
      } else {
        text += c;
      }
    }
    text += QStringLiteral("\r\n");
  }
  return text;
}

int ParseReplyStatus(const QString& statusLine) {
  const QString line = stripLineEnd(statusLine);
  const qsizetype first = line.indexOf(QLatin1Char(' '));
  if (first < 0) return 0;
  const qsizetype second = line.indexOf(QLatin1Char(' '), first + 1);
  const QString number = second >= 0 ? line.mid(first + 1, second - first - 1) : line.mid(first + 1);
  bool ok = false;
  const int value = number.toInt(&ok, 10);
  if (!ok || value < -32768 || value > 32767) return 0;
  return value;
}

THeaderKind ClassifyHeaderLine(const QString& line) {
  const qsizetype space = line.indexOf(QLatin1Char(' '));
  const QString word = (space >= 0 ? line.left(space) : line).toUpper();
  if (word == QLatin1String("SET-COOKIE:")) return THeaderKind::SetCookie;
  if (word == QLatin1String("LOCATION:")) return THeaderKind::Location;
  return THeaderKind::Other;
}

QString HeaderLineValue(const QString& line, int from) {
  return stripLineEnd(line.mid(from)).left(kMaxHeaderValueLength);
}

bool IsHeaderEnd(const QString& line) { return line == QLatin1String("\n") || line == QLatin1String("\r\n"); }

void TReplyHeaderReader::CheckLineCount() const {
  // Before the header is complete every line taken after the status line is
  // a header line.
  if (m_taken > m_maxLines) throw ESockError(msg::text(msg::TooManyHeaderLines).arg(m_maxLines));
}

THeaderKind TReplyHeaderReader::Take(const QString& line) {
  if (!m_statusTaken) {
    m_statusTaken = true;
    m_status = ParseReplyStatus(line);
    return THeaderKind::Other;
  }
  ++m_taken;
  const THeaderKind kind = ClassifyHeaderLine(line);
  switch (kind) {
    case THeaderKind::SetCookie: m_cookie = HeaderLineValue(line, 12); break;
    case THeaderKind::Location: m_location = HeaderLineValue(line, 10); break;
    case THeaderKind::Other: break;
  }
  if (IsHeaderEnd(line)) {
    m_complete = true;
  } else {
    m_lines << line;
  }
  return kind;
}

qint64 ParseContentLength(const QStringList& headerLines) {
  qint64 length = -1;
  for (const QString& raw : headerLines) {
    const qsizetype colon = raw.indexOf(QLatin1Char(':'));
    if (colon < 0 || raw.left(colon).compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) != 0)
      continue;
    const QString value = stripLineEnd(raw.mid(colon + 1)).trimmed();
    if (value.isEmpty() || value.size() > 18) return -1;
    for (QChar c : value)
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) return -1;
    const qint64 n = value.toLongLong();
    if (length >= 0 && n != length) return -1;
    length = n;
  }
  return length;
}

}  // namespace vrk
