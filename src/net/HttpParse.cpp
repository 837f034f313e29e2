#include "HttpParse.h"

#include "Messages.h"
#include "SockError.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vrk {
namespace {

QString stripLineEnd(QString s) {
  while (s.endsWith(QLatin1Char('\n')) || s.endsWith(QLatin1Char('\r'))) s.chop(1);
  return s;
}

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The schemes the client takes, with the port each one implies.
struct TScheme {
  const char* name;
  int port;
};
constexpr TScheme kSchemes[] = {{"http", 80}, {"https", 443}, {"ftp", 21}, {"gopher", 70}};

// True when text begins with a scheme and "://".
bool hasScheme(const QByteArray& text) {
  qsizetype i = 0;
  if (text.isEmpty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.'))
    ++i;
  return text.mid(i, 3) == "://";
}

// The port text of a URL's authority (after "//"), or null when it names
// none: what follows the host's last ":", the user information and an
// IPv6 literal passed over.
QByteArray portText(const QByteArray& url) {
  const qsizetype slashes = url.indexOf("//");
  if (slashes < 0) return {};
  qsizetype end = slashes + 2;
  while (end < url.size() && url[end] != '/' && url[end] != '?' && url[end] != '#') ++end;
  QByteArray authority = url.mid(slashes + 2, end - slashes - 2);
  authority = authority.mid(authority.lastIndexOf('@') + 1);
  const qsizetype close = authority.startsWith('[') ? authority.indexOf(']') : -1;
  const qsizetype colon = authority.indexOf(':', close + 1);
  if (colon < 0) return {};
  return authority.mid(colon + 1);
}

// The port a port text names, or EConvertError naming the text.
int checkedPort(const QByteArray& text) {
  bool ok = !text.isEmpty() && text.size() <= 5;
  for (const char c : text) ok = ok && c >= '0' && c <= '9';
  const int value = ok ? text.toInt() : 0;
  if (value < 1 || value > 65535)
    throw EConvertError(msg::text(msg::InvalidInteger).arg(QString::fromLatin1(text)));
  return value;
}

QUrl strictUrl(const QByteArray& encoded) { return QUrl::fromEncoded(encoded, QUrl::StrictMode); }

// True when a header line's field name, the text before its first ":", is
// name (compared without regard to case).
bool isField(const QString& line, QLatin1StringView name) {
  const qsizetype colon = line.indexOf(QLatin1Char(':'));
  return colon > 0 && QStringView(line).left(colon).compare(name, Qt::CaseInsensitive) == 0;
}

}  // namespace

QByteArray EncodeUrlBytes(const QByteArray& bytes) {
  static constexpr char kKept[] = "-._~:/?#[]@!$&'()*+,;=";
  QByteArray out;
  out.reserve(bytes.size());
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    const auto u = static_cast<unsigned char>(c);
    const bool kept =
        (u < 0x80 && std::isalnum(u)) || (c != '\0' && std::strchr(kKept, c)) ||
        (c == '%' && i + 2 < bytes.size() && isHexDigit(bytes[i + 1]) && isHexDigit(bytes[i + 2]));
    if (kept) {
      out += c;
    } else {
      out += '%';
      out += "0123456789ABCDEF"[u >> 4];
      out += "0123456789ABCDEF"[u & 15];
    }
  }
  return out;
}

TUrlParts SplitUrl(const QString& url, const QString& host, int port, bool secure) {
  if (url.isEmpty()) throw ESockError(msg::text(msg::EmptyUrl));
  QByteArray text = EncodeUrlBytes(url.toUtf8());
  const int defaultPort = secure ? 443 : 80;
  const int callerPort = port == 0 ? defaultPort : port;
  bool keepsCallerPort = false;
  QUrl parsed;
  if (text.startsWith('/')) {
    if (host.isEmpty() && !text.startsWith("//")) {
      // No host to name: the path alone, for the caller's Host and Port.
      parsed = strictUrl(text);
      keepsCallerPort = true;
    } else {
      QUrl base;
      base.setScheme(secure ? QStringLiteral("https") : QStringLiteral("http"));
      base.setHost(host);
      base.setPort(callerPort == defaultPort ? -1 : callerPort);
      base.setPath(QStringLiteral("/"));
      const QUrl reference = strictUrl(text);
      if (!reference.isValid()) throw ESockError(msg::text(msg::InvalidUrl).arg(url));
      parsed = base.resolved(reference);
      keepsCallerPort = !text.startsWith("//");
    }
  } else {
    if (!hasScheme(text)) {
      text.prepend(secure ? "https://" : "http://");
      keepsCallerPort = true;
    }
    if (const QByteArray number = portText(text); !number.isNull()) {
      checkedPort(number);
      keepsCallerPort = false;
    }
    parsed = strictUrl(text);
  }
  if (!parsed.isValid()) throw ESockError(msg::text(msg::InvalidUrl).arg(url));
  // The URL names the port it goes to, also through a proxy.
  if (keepsCallerPort && !parsed.host().isEmpty() && callerPort != defaultPort) parsed.setPort(callerPort);

  TUrlParts parts;
  parts.Scheme = parsed.scheme();
  parts.Port = callerPort;
  if (!parts.Scheme.isEmpty()) {
    const auto known = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                    [&](const TScheme& s) { return parts.Scheme == QLatin1String(s.name); });
    if (known == std::end(kSchemes)) throw ESockError(msg::text(msg::UnsupportedScheme).arg(parts.Scheme));
    if (!keepsCallerPort) parts.Port = known->port;
  }
  if (parsed.port() > 0) parts.Port = parsed.port();
  // A path alone goes the way the caller's connection does.
  parts.Secure = parts.Scheme.isEmpty() ? secure : parts.Scheme == QLatin1String("https");
  parts.Host = parsed.host(QUrl::FullyEncoded);
  if (parts.Host.isEmpty()) parts.Host = host;
  parts.UserId = parsed.userName(QUrl::FullyDecoded);
  parts.Password = parsed.password(QUrl::FullyDecoded);
  if (parsed.path().isEmpty()) parsed.setPath(QStringLiteral("/"));
  parts.Path = parsed.path(QUrl::FullyEncoded);
  if (parsed.hasQuery()) parts.Path += QLatin1Char('?') + parsed.query(QUrl::FullyEncoded);
  parts.Url = QString::fromLatin1(parsed.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment).toEncoded());
  return parts;
}

bool RedirectAllowed(const QString& url) {
  const QString scheme = strictUrl(EncodeUrlBytes(url.toUtf8())).scheme();
  return scheme.isEmpty() || scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
         scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

QString ResolveLocation(const QString& current, const QString& location) {
  const QUrl reference = strictUrl(EncodeUrlBytes(location.toLatin1()));
  if (!reference.isValid()) throw ESockError(msg::text(msg::InvalidLocation).arg(location));
  const QUrl base = strictUrl(EncodeUrlBytes(current.toUtf8()));
  return QString::fromLatin1(base.resolved(reference).adjusted(QUrl::RemoveFragment).toEncoded());
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

int ParseStatusLine(const QString& statusLine) {
  const QString line = stripLineEnd(statusLine);
  if (!line.startsWith(QLatin1String("HTTP/"))) throw EStatusLineError(msg::text(msg::NoHttpStatusLine));
  const bool valid = line.size() >= 12 && isDigit(line[5]) && line[6] == QLatin1Char('.') &&
                     isDigit(line[7]) && line[8] == QLatin1Char(' ') && isDigit(line[9]) &&
                     isDigit(line[10]) && isDigit(line[11]) &&
                     (line.size() == 12 || line[12] == QLatin1Char(' '));
  const int status = valid ? line.mid(9, 3).toInt() : 0;
  if (status < 100 || status > 599) {
    constexpr int kShown = 200;
    const QString shown = line.size() > kShown ? line.left(kShown) + QStringLiteral("...") : line;
    throw EStatusLineError(msg::text(msg::InvalidStatusLine).arg(shown));
  }
  return status;
}

THeaderKind ClassifyHeaderLine(const QString& line) {
  if (isField(line, QLatin1StringView("Set-Cookie"))) return THeaderKind::SetCookie;
  if (isField(line, QLatin1StringView("Location"))) return THeaderKind::Location;
  return THeaderKind::Other;
}

QString HeaderFieldValue(const QString& line) {
  QStringView value = QStringView(line).mid(line.indexOf(QLatin1Char(':')) + 1);
  while (value.endsWith(QLatin1Char('\n')) || value.endsWith(QLatin1Char('\r'))) value.chop(1);
  auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
  while (!value.isEmpty() && blank(value.front())) value = value.mid(1);
  while (!value.isEmpty() && blank(value.back())) value.chop(1);
  return value.toString();
}

bool IsHeaderEnd(const QString& line) { return line == QLatin1String("\n") || line == QLatin1String("\r\n"); }

void TReplyHeaderReader::CheckLineCount() const {
  // Before the header is complete every line taken after the first status
  // line counts.
  if (m_taken > m_maxLines) throw ESockError(msg::text(msg::TooManyHeaderLines).arg(m_maxLines));
}

THeaderKind TReplyHeaderReader::Take(const QString& line) {
  m_bytes += line.size();
  if (m_bytes > kMaxReplyHeaderBytes)
    throw ESockError(msg::text(msg::HeaderTooLong).arg(kMaxReplyHeaderBytes));
  if (m_firstTaken) ++m_taken;
  m_firstTaken = true;
  if (m_awaitingStatus) {
    m_status = ParseStatusLine(line);
    m_awaitingStatus = false;
    return THeaderKind::Other;
  }
  const THeaderKind kind = ClassifyHeaderLine(line);
  switch (kind) {
    case THeaderKind::SetCookie: m_cookie = HeaderFieldValue(line).left(kMaxHeaderValueLength); break;
    case THeaderKind::Location: m_location = HeaderFieldValue(line); break;
    case THeaderKind::Other: break;
  }
  if (!IsHeaderEnd(line)) {
    m_lines << line;
  } else if (m_status < 200) {
    // An interim reply: nothing of it belongs to the reply that follows.
    m_awaitingStatus = true;
    m_cookie.clear();
    m_location = QString();
    m_lines.clear();
  } else {
    m_complete = true;
  }
  return kind;
}

qint64 ParseContentLength(const QStringList& headerLines) {
  qint64 length = -1;
  for (const QString& line : headerLines) {
    if (!isField(line, QLatin1StringView("Content-Length"))) continue;
    const QString value = HeaderFieldValue(line);
    for (const QString& item : value.split(QLatin1Char(','))) {
      const QString number = item.trimmed();
      bool plain = !number.isEmpty() && number.size() <= 18;
      for (const QChar c : number) plain = plain && isDigit(c);
      const qint64 n = plain ? number.toLongLong() : -1;
      if (n < 0 || (length >= 0 && n != length))
        throw ESockError(msg::text(msg::InvalidContentLength).arg(value.left(kMaxHeaderValueLength)));
      length = n;
    }
  }
  return length;
}

TBodyRule ReplyBodyRule(int status, const QStringList& headerLines) {
  if (status == 204 || status == 304) return {TBodyFraming::None, 0};
  QStringList codings;
  for (const QString& line : headerLines) {
    if (!isField(line, QLatin1StringView("Transfer-Encoding"))) continue;
    for (const QString& item : HeaderFieldValue(line).split(QLatin1Char(','))) {
      if (!item.trimmed().isEmpty()) codings << item.trimmed();
    }
  }
  if (!codings.isEmpty()) {
    if (codings.size() == 1 && codings[0].compare(QLatin1String("chunked"), Qt::CaseInsensitive) == 0)
      return {TBodyFraming::Chunked, -1};
    throw ESockError(msg::text(msg::UnsupportedTransferCoding)
                         .arg(codings.join(QStringLiteral(", ")).left(kMaxHeaderValueLength)));
  }
  const qint64 length = ParseContentLength(headerLines);
  if (length >= 0) return {TBodyFraming::Length, length};
  return {};
}

namespace {

// The value of the one line of that name; nullopt for none or several.
std::optional<QString> singleField(const QStringList& headerLines, QLatin1StringView name) {
  std::optional<QString> value;
  for (const QString& line : headerLines) {
    if (!isField(line, name)) continue;
    if (value) return std::nullopt;
    value = HeaderFieldValue(line);
  }
  return value;
}

// A decimal number of at most 18 digits, or -1.
qint64 plainNumber(QStringView text) {
  if (text.isEmpty() || text.size() > 18) return -1;
  for (const QChar c : text)
    if (!isDigit(c)) return -1;
  return text.toLongLong();
}

bool hasControl(const QString& text) {
  for (const QChar c : text)
    if (c < QLatin1Char(' ') || c == QChar(0x7f)) return true;
  return false;
}

}  // namespace

std::optional<TContentRange> ParseContentRange(const QStringList& headerLines) {
  const std::optional<QString> value = singleField(headerLines, QLatin1StringView("Content-Range"));
  if (!value || !value->startsWith(QLatin1String("bytes "))) return std::nullopt;
  const QStringView bounds = QStringView(*value).mid(6);
  const qsizetype dash = bounds.indexOf(QLatin1Char('-'));
  const qsizetype slash = bounds.indexOf(QLatin1Char('/'));
  if (dash < 0 || slash < dash) return std::nullopt;
  TContentRange range;
  range.First = plainNumber(bounds.left(dash));
  range.Last = plainNumber(bounds.mid(dash + 1, slash - dash - 1));
  const QStringView total = bounds.mid(slash + 1);
  range.Total = total == QLatin1String("*") ? -1 : plainNumber(total);
  if (range.First < 0 || range.Last < range.First) return std::nullopt;
  if (total != QLatin1String("*") && (range.Total < 0 || range.Last >= range.Total)) return std::nullopt;
  return range;
}

QString ReplyValidator(const QStringList& headerLines) {
  const std::optional<QString> etag = singleField(headerLines, QLatin1StringView("ETag"));
  // A weak tag (W/"…") may not name a range.
  if (etag && etag->size() >= 2 && etag->startsWith(QLatin1Char('"')) && etag->endsWith(QLatin1Char('"')) &&
      !hasControl(*etag))
    return *etag;
  const std::optional<QString> modified = singleField(headerLines, QLatin1StringView("Last-Modified"));
  if (modified && !modified->isEmpty() && !hasControl(*modified)) return *modified;
  return QString();
}

void AddRangeLines(QStringList& requestLines, qint64 offset, const QString& validator) {
  const qsizetype end = requestLines.isEmpty() ? 0 : requestLines.size() - 1;
  QStringList lines{QStringLiteral("Range: bytes=%1-").arg(offset)};
  if (!validator.isEmpty()) lines << QStringLiteral("If-Range: ") + validator;
  for (qsizetype i = 0; i < lines.size(); ++i) requestLines.insert(end + i, lines[i]);
}

}  // namespace vrk
