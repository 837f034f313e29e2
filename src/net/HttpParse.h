// The text side of an HTTP/1.0 GET: URL splitting, the request lines, and
// the reply's status and header lines. Pure functions over text that know
// nothing of sockets, so they can be table-tested and fuzzed.
//
// Reply lines are byte strings read one byte per Latin-1 character.
#pragma once

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
  QString Path;         // at most 256 characters
  bool Secure = false;  // https: TLS to Host:Port
};

constexpr int kMaxPathLength = 256;
constexpr int kMaxHeaderValueLength = 256;
// Longest reply line (its line end included), and most header lines after
// the status line (the empty line that ends the header not counted), that
// the client and the session's tunnel set-up read from a peer.
constexpr int kMaxReplyLineLength = 64 * 1024;
constexpr int kMaxReplyHeaderLines = 1000;

// Splits url. A scheme sets the port and whether the connection is secure
// ("https": 443, secure; any other: plain); a URL without one keeps the
// caller's port and secure, a port 0 becoming 443 or 80. Raises ESockError
// msg::EmptyUrl for an empty URL and EConvertError msg::InvalidInteger for
// a port that is not a decimal number from 1 to 65535.
TUrlParts SplitUrl(const QString& url, const QString& host, int port, bool secure = false);

// Replaces the line whose name (the text before its first ":", compared
// without regard to case) is name, or appends it.
void SetLineByName(QStringList& lines, const QString& name, const QString& line);

// The request header lines of a GET, ending with the empty line.
QStringList BuildGetRequest(const TUrlParts& parts, const QString& proxy, const THeaderInfo& info);

// The request lines as sent: each followed by CR LF. A control character
// inside a line (a URL or cookie taken from a reply may carry one) is sent
// as %XX, so that nothing ends a line early, adds a line, or cuts the request
// at a zero byte.
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

// The reply header as the client reads it: the status line first, then the
// header lines up to the empty line that ends them. The client hands over
// every line it reads (its line end included); the reader keeps what the GET
// needs: the status, the cookie and location values, the header lines.
class TReplyHeaderReader final {
 public:
  // maxLines: the most header lines that may follow the status line; the
  // empty line that ends the header is not one of them.
  explicit TReplyHeaderReader(int maxLines) : m_maxLines(maxLines) {}

  // Raises ESockError msg::TooManyHeaderLines when more than maxLines
  // header lines have followed the status line. Called before each
  // further line is read: after maxLines header lines one more line is read,
  // which may only be the closing empty line, and the line beyond that is
  // never waited for.
  void CheckLineCount() const;
  // Takes the next line and returns its kind (the status line is always
  // Other). Requires: !Complete().
  THeaderKind Take(const QString& line);

  // The empty line that ends the header has been taken.
  bool Complete() const { return m_complete; }
  // The status of the status line (see ParseReplyStatus); 0 before it.
  int Status() const { return m_status; }
  // The value of the last Set-Cookie line, from its 13th character, cut to
  // 256 characters; empty when none came.
  const QString& Cookie() const { return m_cookie; }
  // The value of the last Location line, from its 11th character, cut to 256
  // characters; null when none came.
  const QString& Location() const { return m_location; }
  // The lines after the status line, without the closing empty line.
  const QStringList& Lines() const { return m_lines; }
  // How many lines followed the status line so far (the closing empty line
  // included once it came).
  int LinesTaken() const { return m_taken; }

 private:
  int m_maxLines;
  bool m_statusTaken = false;
  bool m_complete = false;
  int m_status = 0;
  int m_taken = 0;
  QString m_cookie;
  QString m_location;
  QStringList m_lines;
};

// The body length a reply header announces: the value of its Content-Length
// lines when it is one plain non-negative decimal number (several lines must
// agree); -1 when there is none or it is not valid.
qint64 ParseContentLength(const QStringList& headerLines);

}  // namespace vrk
