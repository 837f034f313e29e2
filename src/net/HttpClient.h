// THttpClient: fetches one URL with an HTTP/1.0 GET over a TSocketSession,
// directly or through an HTTP proxy, and follows redirections.
//
// The reply header goes into the text Header or the file it names
// (OutputFileMode), the body into the text Body or the file it names
// (InputFileMode), or a file the caller holds open (SetBodyStream). A body
// in a text holds at most TSocketSession::kMaxTextCapture bytes. An https
// URL is fetched over TLS (through the proxy's tunnel when one is set); a
// redirection from https to plain http is refused. Texts hold each byte as
// one Latin-1 character. An HTTP error status is no error of the GET: it is
// reported only through OnFailure (and the absence of OnSuccess). Socket,
// file and protocol failures raise:
// a reply without a valid status line, a body framing that is not valid
// (Content-Length, a chunked body that is cut or does not parse, another
// transfer coding), a Location that does not parse. Interim replies (1xx)
// are passed over; 204 and 304 replies have no body. A 3xx reply with a
// Location (not 304, 305 or 306) leads to another pass on that Location,
// resolved against the current URL, which must be an http or https URL
// (another scheme raises ESockError msg::RedirectNotHttp); without one it
// is the final reply.
// User information in a URL goes into HeaderInfo's UserId and Password for
// that GET, and is sent only to the host and port it came with. After an
// error, a body file that the GET wrote is removed (a cancel leaves it, and
// with KeepCutBody on a body the peer cut short: what came is a true
// beginning of it).
//
// Resume (file mode): with SetResume, the body file already holds the
// first bytes of the body, and the GET asks for the rest ("Range: bytes=N-",
// "If-Range" with the validator of the reply that began it). Only a 206
// whose Content-Range starts at N, runs to the end and names the same total
// is appended; a 200 (the server sends the whole body, the file changed)
// starts the file over from zero; a 416 or a 206 that does not fit is
// dropped unread and the request is sent again without a range. While a
// resume is asked for, the body of a redirection is not written to the file.
//
// Used only on the thread that made it (see TSocketSession); one GET at a
// time. The GET returns when the transfer is over; the session's events are
// raised on the caller's thread meanwhile.
#pragma once

#include "HttpParse.h"
#include "SockSession.h"

namespace vrk {

// Request kinds; the program sends only GET.
enum CmdType : int { cmdGET = 0 };

using TCmdEvent = std::function<void(QObject* Sender, int Cmd)>;
using TRedirectEvent = std::function<void(QObject* Sender, bool& Handled)>;

class THttpClient : public TSocketSession {
 public:
  // Passes of one GET (the first request and its redirections).
  static constexpr int kMaxPasses = 20;
  // Longest reply line (its line end included), and most lines after the
  // first status line, those of interim replies included (HttpParse.h).
  static constexpr int kMaxReplyLine = kMaxReplyLineLength;
  static constexpr int kMaxHeaderLines = kMaxReplyHeaderLines;
  // After a body whose end the reply framed (a length, the last chunk, no
  // body): how long to let the peer close first.
  static constexpr int kCloseGraceMs = 200;

  explicit THttpClient(QObject* owner = nullptr);
  ~THttpClient() override;

  const QString& Body() const { return m_body; }
  void SetBody(const QString& body) { m_body = body; }
  const QString& Header() const { return m_header; }
  void SetHeader(const QString& header) { m_header = header; }
  THeaderInfo& HeaderInfo() { return m_headerInfo; }
  bool InputFileMode() const { return m_inputFileMode; }
  void SetInputFileMode(bool on) { m_inputFileMode = on; }
  bool OutputFileMode() const { return m_outputFileMode; }
  void SetOutputFileMode(bool on) { m_outputFileMode = on; }
  // A file the caller holds open (standard output): while set, the body is
  // written to it as it arrives, whatever InputFileMode says, and is named
  // so in messages; nothing is removed from it when the GET fails. Null:
  // none.
  void SetBodyStream(QFile* stream, const QString& name) {
    m_bodyStream = stream;
    m_bodyStreamName = name;
  }

  // The URL of the current (or last) pass, the path sent, the request lines.
  const QString& Url() const { return m_url; }
  const QString& Path() const { return m_path; }
  const QStringList& RequestLines() const { return m_requestLines; }
  // The reply status of the last pass.
  int StatusCode() const { return ReplyCode(); }

  // Runs the GET of url, including any redirections.
  void Get(const QString& url);

  // Ends the wait the session is in (the time-out timer calls it).
  void Abort() override;

  // --- Resuming a body file
  // For the next Get only: the body file holds the body's first offset
  // bytes (offset > 0), begun by a reply whose validator (ReplyValidator)
  // and whole length were these (empty, -1: unknown).
  void SetResume(qint64 offset, const QString& validator, qint64 total);
  // A body the peer cut short stays in the body file (file mode).
  void SetKeepCutBody(bool on) { m_keepCutBody = on; }
  // Of the reply whose body the last pass read, from the moment
  // OnBodyStart is raised: where its body begins in the body file (the
  // offset of an appended 206, else 0), the whole body's length (-1: not
  // announced), and its validator.
  qint64 BodyOffset() const { return m_bodyOffset; }
  qint64 BodyTotal() const { return m_bodyTotal; }
  const QString& BodyValidator() const { return m_bodyValidator; }

  TNotifyEvent OnAboutToSend;
  TCmdEvent OnSuccess;
  TCmdEvent OnFailure;
  TRedirectEvent OnRedirect;
  TNotifyEvent OnAuthenticationNeeded;
  // Raised after the header of a reply whose body is read (no redirection
  // that is followed), before its body.
  TNotifyEvent OnBodyStart;

 private:
  // One pass; returns true when another pass is to run.
  bool RunPass();
  // Reads the reply's header (interim replies passed over); returns its
  // header lines and its Location value (null when it has none).
  void ReadReplyHeader(QStringList& headerLines, QString& location);
  // leadsOn: the reply is a redirection that another pass follows; append:
  // the body continues what the body file holds.
  void ReadBody(const TBodyRule& rule, bool leadsOn, bool append);
  // Whether a 206 reply carries the rest of the body the resume asked for.
  bool RangeFits(const QStringList& headerLines, const TBodyRule& rule) const;

  QString m_body = QStringLiteral("Default.htm");
  QString m_header = QStringLiteral("Head.txt");
  THeaderInfo m_headerInfo;
  bool m_inputFileMode = false;
  bool m_outputFileMode = false;
  QFile* m_bodyStream = nullptr;
  QString m_bodyStreamName;

  int m_cmd = cmdGET;
  QString m_url;
  QString m_path;
  QStringList m_requestLines;
  QString m_receivedCookie;
  bool m_bodyFileWritten = false;  // a pass of this GET has written the body file
  QString m_credentialsOrigin;     // where the credentials may be sent
  bool m_urlCredentials = false;   // this GET's credentials came with a URL
  bool m_wasSecure = false;        // the GET's last pass was https
  qint64 m_resumeOffset = 0;       // the range asked for (0: none)
  QString m_resumeValidator;
  qint64 m_resumeTotal = -1;
  bool m_keepCutBody = false;
  qint64 m_bodyOffset = 0;
  qint64 m_bodyTotal = -1;
  QString m_bodyValidator;
};

}  // namespace vrk
