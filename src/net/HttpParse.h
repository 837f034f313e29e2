// The text side of an HTTP/1.0 GET: URL splitting, the request lines, and
// the reply's status and header lines. Pure functions over text that know
// nothing of sockets, so they can be table-tested and fuzzed.
//
// Reply lines are byte strings read one byte per Latin-1 character.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vrk {

// Optional values of the request header; all empty by default.
struct THeaderInfo {
  QString LocalMailAddress;
  QString LocalProgram;
  QString Cookie;
  QString Referer;
  QString UserId;
  QString Password;
};

// The outcome of splitting a URL against the component's Host and Port.
struct TUrlParts {
  QString Url;   // the URL, with "/" appended when it had no path
  QString Host;  // the host part, or the caller's Host when the URL has none
  int Port = 0;
  QString Path;  // at most 256 characters
};

constexpr int kMaxPathLength = 256;
constexpr int kMaxHeaderValueLength = 256;

// Splits url. Raises ESockError "Leere URL" for an empty URL and
// EConvertError "'%s' ist kein gültiger Integerwert" for a port that is not
// a decimal number from 1 to 65535.
TUrlParts SplitUrl(const QString& url, const QString& host, int port);

// Replaces the line whose name (the text before its first ":", compared
// without regard to case) is name, or appends it.
void SetLineByName(QStringList& lines, const QString& name, const QString& line);

// The request header lines of a GET, ending with the empty line.
QStringList BuildGetRequest(const TUrlParts& parts, const QString& proxy, const THeaderInfo& info);

// The request lines as sent: each followed by CR LF.
QString JoinRequestLines(const QStringList& lines);

// The status of a reply's first line: the text between its first and second
// space (or its end), as a decimal number; 0 when that is not a number in the
// 16-bit range.
int ParseReplyStatus(const QString& statusLine);

enum class THeaderKind { Other, SetCookie, Location };

// Classifies a reply header line by its text before the first space, in
// upper case ("SET-COOKIE:", "LOCATION:").
THeaderKind ClassifyHeaderLine(const QString& line);

// The header value taken from a line: its text from the given 0-based index,
// without the line end, at most 256 characters.
QString HeaderLineValue(const QString& line, int from);

// True for the empty line that ends a reply header ("\n" or "\r\n").
bool IsHeaderEnd(const QString& line);

// The body length a reply header announces: the value of its Content-Length
// lines when it is one plain non-negative decimal number (several lines must
// agree); -1 when there is none or it is not valid.
qint64 ParseContentLength(const QStringList& headerLines);

}  // namespace vrk
