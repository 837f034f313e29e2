// libFuzzer target for the reply reader of the GET. The input is what a
// server sends: it arrives in pieces (their sizes drawn from the first byte),
// lines are taken with the session's line rule and handed to the client's
// header reader, with the client's bounds or, picked by the second byte,
// small ones so that the bound paths are reached within a short input. Then
// the redirection the client would follow is split and its request built.
//
// Checked: lines are whole and within the bound, exactly the lines of a
// plain split of the input; the count bound holds; the cookie and location
// cuts hold; a split URL is sound; the request sent carries exactly its own
// lines (nothing from the reply can add a line or cut the request short).
#include "HttpClient.h"
#include "HttpParse.h"
#include "LineScan.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QString& detail = {}) {
  std::fprintf(stderr, "%s: %s\n", what, detail.toLatin1().toHex(' ').constData());
  std::abort();
}

void check(bool ok, const char* what, const QString& detail = {}) {
  if (!ok) fail(what, detail);
}

// The bytes Write puts on the wire for a text: Latin-1, at most the send
// text area, up to the first zero byte.
QByteArray asSent(const QString& text) {
  QByteArray bytes = text.toLatin1().left(16384);
  const qsizetype zero = bytes.indexOf('\0');
  if (zero >= 0) bytes.truncate(zero);
  return bytes;
}

// A value is its line without the line end, cut to its bound: no LF in it,
// and a CR at its end only where the cut fell just after a CR inside the line.
void checkValue(const QString& value, const char* what) {
  check(value.size() <= vrk::kMaxHeaderValueLength, what, value);
  check(!value.contains(QLatin1Char('\n')), what, value);
  check(!value.endsWith(QLatin1Char('\r')) || value.size() == vrk::kMaxHeaderValueLength, what, value);
}

void checkRequest(const vrk::TReplyHeaderReader& reader, bool proxy) {
  QString url = reader.Location();
  if (url.isNull()) return;
  if (!url.contains(QLatin1Char('/'))) url = QStringLiteral("http://h/") + url;
  vrk::TUrlParts parts;
  try {
    parts = vrk::SplitUrl(url, QStringLiteral("h"), 0);
  } catch (const vrk::ESockError&) {
    return;
  } catch (const vrk::EConvertError&) {
    return;
  }
  check(parts.Port >= 1 && parts.Port <= 65535, "port out of range", url);
  check(parts.Path.startsWith(QLatin1Char('/')) && parts.Path.size() <= vrk::kMaxPathLength, "bad path", url);
  vrk::THeaderInfo info;
  info.Cookie = reader.Cookie();
  const QStringList lines = vrk::BuildGetRequest(parts, proxy ? QStringLiteral("proxy") : QString(), info);
  const QByteArray sent = asSent(vrk::JoinRequestLines(lines));
  check(sent.endsWith("\r\n\r\n"), "request cut short", QString::fromLatin1(sent));
  check(sent.count("\r\n") == lines.size() && sent.count('\r') == lines.size() &&
            sent.count('\n') == lines.size(),
        "request lines not as built", QString::fromLatin1(sent));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t pieces = data[0];
  const bool small = data[1] & 1;
  const int maxLine = small ? 1 + (data[1] >> 1) : vrk::THttpClient::kMaxReplyLine;
  const int maxLines = small ? (data[1] >> 1) % 16 : vrk::THttpClient::kMaxHeaderLines;
  const QByteArray input(reinterpret_cast<const char*>(data) + 2, static_cast<qsizetype>(size - 2));

  // The lines of the input by a plain split, for comparison.
  QList<QByteArray> plain;
  for (qsizetype at = 0, lf; (lf = input.indexOf('\n', at)) >= 0; at = lf + 1)
    plain << input.mid(at, lf + 1 - at);

  vrk::TReplyHeaderReader reader(maxLines);
  QByteArray buffer;
  qsizetype scanFrom = 0;
  qsizetype arrived = 0;
  quint32 lcg = pieces;
  int taken = 0;
  for (;;) {
    if (taken > 0) {
      try {
        reader.CheckLineCount();
      } catch (const vrk::ESockError&) {
        check(reader.LinesTaken() == maxLines + 1, "count bound at the wrong line");
        break;
      }
    }
    const vrk::TLineScan scan = vrk::ScanLine(buffer, scanFrom, maxLine);
    if (scan.State == vrk::TLineState::NeedMore) {
      check(!buffer.contains('\n'), "a line was missed");
      if (arrived == input.size()) break;  // the peer closed before the line end
      lcg = lcg * 1103515245u + 12345u;
      const qsizetype piece = pieces == 0 ? input.size() : 1 + (lcg >> 16) % (4u * pieces);
      buffer += input.mid(arrived, piece);
      arrived = qMin(input.size(), arrived + piece);
      continue;
    }
    if (scan.State == vrk::TLineState::TooLong) {
      const qsizetype lf = buffer.indexOf('\n');
      check(lf >= maxLine || (lf < 0 && buffer.size() > maxLine), "a line within the bound was refused");
      break;
    }
    const QByteArray bytes = buffer.left(scan.Length);
    check(taken < plain.size() && bytes == plain[taken], "line differs from the plain split",
          QString::fromLatin1(bytes));
    check(bytes.size() <= maxLine, "line beyond the bound");
    buffer.remove(0, scan.Length);
    scanFrom = 0;
    ++taken;
    reader.Take(QString::fromLatin1(bytes));
    check(reader.Status() >= -32768 && reader.Status() <= 32767, "status out of range");
    if (reader.Complete()) break;
  }
  check(reader.LinesTaken() <= maxLines + 1, "more lines than the bound and the closing line");
  check(reader.Lines().size() <= maxLines + 1, "more header lines kept than the bound and the refused one");
  check(reader.Lines().size() <= reader.LinesTaken(), "lines kept that were not taken");
  checkValue(reader.Cookie(), "bad cookie value");
  if (!reader.Location().isNull()) checkValue(reader.Location(), "bad location value");
  check(vrk::ParseContentLength(reader.Lines()) >= -1, "bad content length");
  checkRequest(reader, pieces & 1);
  return 0;
}
