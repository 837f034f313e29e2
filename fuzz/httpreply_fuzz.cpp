// libFuzzer target for the reply reader of the GET. The input is what a
// server sends: it arrives in pieces (their sizes drawn from the first byte),
// lines are taken with the session's line rule and handed to the client's
// header reader, with the client's bounds or, picked by the second byte,
// small ones so that the bound paths are reached within a short input. Then
// the redirection the client would follow is resolved and split and its
// request built, the reply's range and validator read and a request for the
// rest built, and the bytes after the header are decoded as a chunked body,
// in the same pieces and whole.
//
// Checked: lines are whole and within the bound, exactly the lines of a
// plain split of the input; only a status line is refused; the count bound
// holds; the cookie and location values hold; a split URL is sound; the
// request sent carries exactly its own lines (nothing from the reply can add
// a line or cut the request short); the chunk decoder gives the same body
// and end whatever the pieces, and never more than it took.
#include "ChunkDecoder.h"
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

// A value is its line without the line end and without the blanks around
// it; a cookie is cut to its bound, which may fall after a blank.
void checkValue(const QString& value, int bound, const char* what) {
  check(value.size() <= bound && !value.contains(QLatin1Char('\n')), what, value);
  check(!value.startsWith(QLatin1Char(' ')), what, value);
  check(!value.endsWith(QLatin1Char(' ')) || value.size() == vrk::kMaxHeaderValueLength, what, value);
}

void checkRequest(const vrk::TReplyHeaderReader& reader, bool proxy) {
  if (reader.Location().isNull()) return;
  vrk::TUrlParts parts;
  try {
    parts = vrk::SplitUrl(vrk::ResolveLocation(QStringLiteral("http://h/d/f"), reader.Location()),
                          QStringLiteral("h"), 0);
  } catch (const vrk::ESockError&) {
    return;
  } catch (const vrk::EConvertError&) {
    return;
  }
  check(parts.Port >= 1 && parts.Port <= 65535, "port out of range", reader.Location());
  check(parts.Path.startsWith(QLatin1Char('/')), "bad path", parts.Path);
  for (const QChar c : parts.Url + parts.Path)
    check(c > QLatin1Char(' ') && c < QChar(0x7F), "raw byte in the URL", parts.Url);
  vrk::THeaderInfo info;
  info.Cookie = reader.Cookie();
  const QStringList lines = vrk::BuildGetRequest(parts, proxy ? QStringLiteral("proxy") : QString(), info);
  const QByteArray sent = asSent(vrk::JoinRequestLines(lines));
  check(sent.endsWith("\r\n\r\n"), "request cut short", QString::fromLatin1(sent));
  check(sent.count("\r\n") == lines.size() && sent.count('\r') == lines.size() &&
            sent.count('\n') == lines.size(),
        "request lines not as built", QString::fromLatin1(sent));
}

// The range a partial reply names is sound, and the validator taken from
// the reply adds exactly its lines to the request that asks for the rest.
void checkRange(const vrk::TReplyHeaderReader& reader) {
  if (const auto range = vrk::ParseContentRange(reader.Lines()))
    check(
        range->First >= 0 && range->First <= range->Last && (range->Total < 0 || range->Last < range->Total),
        "bad content range");
  const QString validator = vrk::ReplyValidator(reader.Lines());
  for (const QChar c : validator)
    check(c >= QLatin1Char(' ') && c != QChar(0x7F), "control in the validator", validator);
  QStringList lines = vrk::BuildGetRequest(
      vrk::SplitUrl(QStringLiteral("http://h/f"), QStringLiteral("h"), 0), QString(), vrk::THeaderInfo());
  const qsizetype built = lines.size() + (validator.isEmpty() ? 1 : 2);
  vrk::AddRangeLines(lines, 1, validator);
  const QByteArray sent = asSent(vrk::JoinRequestLines(lines));
  check(lines.size() == built && sent.endsWith("\r\n\r\n") && sent.count('\n') == lines.size(),
        "range lines not as built", QString::fromLatin1(sent));
}

// The bytes after the header as a chunked body: fed in pieces, and whole.
void checkChunks(const QByteArray& body, quint32 lcg, uint8_t pieces) {
  vrk::TChunkDecoder inPieces;
  QByteArray out;
  qsizetype taken = 0;
  for (qsizetype at = 0; at < body.size() && !inPieces.Complete() && !inPieces.Failed();) {
    lcg = lcg * 1103515245u + 12345u;
    const qsizetype piece =
        qMin(body.size() - at, pieces == 0 ? body.size() : 1 + (lcg >> 16) % (4u * pieces));
    const qsizetype n = inPieces.Decode(body.constData() + at, piece, out);
    check(n >= 0 && n <= piece && (n == piece || inPieces.Complete() || inPieces.Failed()), "bad take");
    taken += n;
    at += piece;
  }
  check(!(inPieces.Complete() && inPieces.Failed()), "complete and failed");
  check(out.size() <= taken, "more decoded than taken");
  vrk::TChunkDecoder whole;
  QByteArray wholeOut;
  const qsizetype wholeTaken = whole.Decode(body.constData(), body.size(), wholeOut);
  check(wholeOut == out && whole.Complete() == inPieces.Complete() && whole.Failed() == inPieces.Failed(),
        "the pieces decode otherwise than the whole");
  check(!whole.Complete() || wholeTaken == taken, "the end is found at another byte");
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
    const bool status = reader.AwaitingStatus();
    try {
      reader.Take(QString::fromLatin1(bytes));
    } catch (const vrk::ESockError&) {
      check(status, "a header line was refused", QString::fromLatin1(bytes));
      return 0;
    }
    check(reader.Status() >= 100 && reader.Status() <= 599, "status out of range");
    if (reader.Complete()) break;
  }
  check(reader.LinesTaken() <= maxLines + 1, "more lines than the bound and the closing line");
  check(reader.Lines().size() <= maxLines + 1, "more header lines kept than the bound and the refused one");
  check(reader.Lines().size() <= reader.LinesTaken(), "lines kept that were not taken");
  checkValue(reader.Cookie(), vrk::kMaxHeaderValueLength, "bad cookie value");
  if (!reader.Location().isNull()) checkValue(reader.Location(), maxLine, "bad location value");
  try {
    check(vrk::ParseContentLength(reader.Lines()) >= -1, "bad content length");
    vrk::ReplyBodyRule(reader.Status(), reader.Lines());
  } catch (const vrk::ESockError&) {
  }
  checkRequest(reader, pieces & 1);
  checkRange(reader);
  if (reader.Complete()) checkChunks(buffer + input.mid(arrived), lcg, pieces);
  return 0;
}
