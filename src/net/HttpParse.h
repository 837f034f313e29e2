// The text side of an HTTP/1.0 GET: URL splitting, the request lines, and
// the reply's status and header lines. Pure functions over text that know
// nothing of sockets, so they can be table-tested and fuzzed.
//
// Reply lines are byte strings read one byte per Latin-1 character.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

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

// A Set-Cookie value is kept to at most this many characters.
constexpr int kMaxHeaderValueLength = 256;
// Longest reply line (its line end included), and most header lines after
// the status line (the empty line that ends the header not counted), that
// the client and the session's tunnel set-up read from a peer; and most
// bytes of all the lines of one header, interim replies included, so that
// a header held in memory stays small whatever the peer sends.
constexpr int kMaxReplyLineLength = 64 * 1024;
constexpr int kMaxReplyHeaderLines = 1000;
constexpr qint64 kMaxReplyHeaderBytes = 1024 * 1024;

// A URL split for one request, against the component's Host and Port.
struct TUrlParts {
  // The URL as requested: absolute, percent-encoded, without user
  // information and fragment, with "/" for an empty path. A path given
  // without a host and without the component's Host stays a path.
  QString Url;
  QString Scheme;  // lower case: "http", "https", "ftp", "gopher"
  QString Host;    // the URL's host, or the caller's Host when it has none
  int Port = 0;
  // The request target of a direct request: the encoded path and query.
  QString Path;
  // The URL's user information, decoded; empty when it has none.
  QString UserId;
  QString Password;
  bool Secure = false;  // https: TLS to Host:Port
};

// Splits url: parsed strictly as a URL, after bytes that a URL may not carry
// (blanks, controls, non-ASCII as UTF-8) are percent-encoded. A URL that
// begins with "/" is taken relative to http://Host:Port/ (https:// when
// secure; Port 0 meaning 80 or 443); one without a scheme as http:// + url
// (https:// when secure), keeping the caller's Port unless it names its
// own. The scheme https is secure, on port 443 unless the URL names
// another. Raises ESockError msg::EmptyUrl, msg::InvalidUrl
// or msg::UnsupportedScheme, and EConvertError msg::InvalidInteger for a
// port that is not a decimal number from 1 to 65535.
TUrlParts SplitUrl(const QString& url, const QString& host, int port, bool secure = false);

// The URL a Location value (one byte per Latin-1 character) leads to from
// the current URL, by the reference resolution of RFC 3986, without its
// fragment. Raises ESockError msg::InvalidLocation when it does not parse.
QString ResolveLocation(const QString& current, const QString& location);

// The bytes of a URL with every byte that a URL may not carry as %XX (a "%"
// that begins no %XX included); the others are kept as they are.
QByteArray EncodeUrlBytes(const QByteArray& bytes);

// Whether a GET follows a redirection to url (as ResolveLocation gives it):
// one with the scheme http or https (without regard to case), or with none
// (a path for the current host). Any other scheme would have the client speak HTTP
// to the port that scheme implies (ftp 21, gopher 70) or names no web
// server at all.
bool RedirectAllowed(const QString& url);

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

// The status of a reply's status line: "HTTP/" digit "." digit, a blank,
// three digits from 100 to 599, then a blank and the reason or the line end.
// Raises EStatusLineError msg::NoHttpStatusLine for a line that does not
// begin with "HTTP/", msg::InvalidStatusLine naming the line for any other
// fault.
int ParseStatusLine(const QString& statusLine);

enum class THeaderKind { Other, SetCookie, Location };

// Classifies a reply header line by its field name, the text before its
// first ":", compared without regard to case ("Set-Cookie", "Location").
THeaderKind ClassifyHeaderLine(const QString& line);

// The value of a header line: its text after the first ":", without the
// line end and without blanks and tabs around it.
QString HeaderFieldValue(const QString& line);

// True for the empty line that ends a reply header ("\n" or "\r\n").
bool IsHeaderEnd(const QString& line);

// The reply header as the client reads it: the status line first, then the
// header lines up to the empty line that ends them. An interim reply (status
// 1xx) is passed over whole, status line and header lines, and the status
// line after it is read as the reply's. The client hands over every line it
// reads (its line end included); the reader keeps what the GET needs: the
// status, the cookie and location values, the header lines of the reply.
class TReplyHeaderReader final {
 public:
  // maxLines: the most lines that may follow the first status line (those
  // of interim replies included); the empty line that ends the header is not
  // one of them.
  explicit TReplyHeaderReader(int maxLines) : m_maxLines(maxLines) {}

  // Raises ESockError msg::TooManyHeaderLines when more than maxLines lines
  // have followed the first status line. Called before each further line is
  // read: after maxLines lines one more line is read, which may only be the
  // closing empty line, and the line beyond that is never waited for.
  void CheckLineCount() const;
  // Takes the next line and returns its kind (a status line is always
  // Other). A status line that is not valid raises as ParseStatusLine does,
  // and a line that brings all those taken past kMaxReplyHeaderBytes raises
  // ESockError msg::HeaderTooLong. Requires: !Complete().
  THeaderKind Take(const QString& line);

  // The empty line that ends the reply's header has been taken.
  bool Complete() const { return m_complete; }
  // The next line taken is a status line: the first, or the one after an
  // interim reply.
  bool AwaitingStatus() const { return m_awaitingStatus; }
  // The status of the last status line; 0 before the first.
  int Status() const { return m_status; }
  // The value of the reply's last Set-Cookie line, cut to 256 characters;
  // empty when none came.
  const QString& Cookie() const { return m_cookie; }
  // The value of the reply's last Location line; null when none came.
  const QString& Location() const { return m_location; }
  // The reply's lines after its status line, without the closing empty line.
  const QStringList& Lines() const { return m_lines; }
  // How many lines followed the first status line so far (the closing empty
  // line included once it came).
  int LinesTaken() const { return m_taken; }

 private:
  int m_maxLines;
  qint64 m_bytes = 0;  // of all lines taken
  bool m_awaitingStatus = true;
  bool m_firstTaken = false;
  bool m_complete = false;
  int m_status = 0;
  int m_taken = 0;
  QString m_cookie;
  QString m_location;
  QStringList m_lines;
};

// How the body of a reply ends.
enum class TBodyFraming {
  None,        // there is none (204, 304)
  Length,      // after the announced Content-Length
  Chunked,     // after the last chunk of the chunked coding
  UntilClose,  // when the peer closes the connection
};

struct TBodyRule {
  TBodyFraming Framing = TBodyFraming::UntilClose;
  qint64 Length = -1;  // for Length
};

// The body length a reply header announces: the value of its Content-Length
// lines, each one decimal number or a list of equal ones; -1 when there is
// none. Raises ESockError msg::InvalidContentLength for a value that is no
// such number or lines that disagree.
qint64 ParseContentLength(const QStringList& headerLines);

// How the body of the final reply with this status and these header lines
// ends. A Transfer-Encoding is taken when it is exactly "chunked" (the
// Content-Length is then no part of the framing); any other coding raises
// ESockError msg::UnsupportedTransferCoding. Content-Length as in
// ParseContentLength.
TBodyRule ReplyBodyRule(int status, const QStringList& headerLines);

// The byte range of a partial reply (206): "bytes first-last/total", with
// total -1 for "*".
struct TContentRange {
  qint64 First = -1;
  qint64 Last = -1;
  qint64 Total = -1;
};

// The reply's one Content-Range line, when it is "bytes first-last/total"
// (or "/*") with first <= last and, with a total, last < total; nullopt
// when there is none, more than one, or it says anything else.
std::optional<TContentRange> ParseContentRange(const QStringList& headerLines);

// What a later request may name in If-Range to ask for the rest of this
// reply's body: its ETag when that is a strong one, else its Last-Modified;
// empty when it has neither. A value with a control character is none.
QString ReplyValidator(const QStringList& headerLines);

// The lines that ask for a body from offset on: "Range: bytes=offset-", and
// "If-Range: validator" when there is a validator; inserted before the
// request's closing empty line.
void AddRangeLines(QStringList& requestLines, qint64 offset, const QString& validator);

}  // namespace vrk
