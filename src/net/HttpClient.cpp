#include "HttpClient.h"

#include "Messages.h"

#include <QFile>

namespace vrk {

THttpClient::THttpClient(QObject* owner) : TSocketSession(owner) {}

THttpClient::~THttpClient() = default;

void THttpClient::Abort() { Cancel(); }

void THttpClient::Get(const QString& url) {
  m_cmd = cmdGET;
  m_url = url;
  m_wasSecure = false;
  for (int pass = 1;; ++pass) {
    if (!RunPass()) return;
    if (pass >= kMaxPasses) throw ESockError(msg::text(msg::TooManyRedirects).arg(kMaxPasses));
  }
}

bool THttpClient::RunPass() {
  const TUrlParts parts = SplitUrl(m_url, Host(), Port(), Secure());
  // A redirection never moves an https transfer to plain text; what the
  // refused reply left in the body file is no download.
  if (m_wasSecure && !parts.Secure) {
    if (m_inputFileMode) QFile::remove(m_body);
    throw ESockError(msg::text(msg::HttpsDowngrade).arg(parts.Url));
  }
  m_wasSecure = parts.Secure;
  m_url = parts.Url;
  SetHost(parts.Host);
  SetPort(parts.Port);
  SetSecure(parts.Secure);
  m_path = parts.Path;
  // Through a proxy's tunnel the request is the one the server itself gets.
  m_requestLines = BuildGetRequest(parts, parts.Secure ? QString() : Proxy(), m_headerInfo);
  if (OnAboutToSend) OnAboutToSend(this);

  Connect();
  try {
    Write(JoinRequestLines(m_requestLines));
    QStringList headerLines;
    ReadReplyHeader(headerLines);
    ReadBody(ParseContentLength(headerLines));
    const int status = ReplyCode();
    if (status < 299) {
      if (OnSuccess) OnSuccess(this, m_cmd);
      StatusMessage(2, msg::StatusTransactionDone);
    }
    if (status > 399 && OnFailure) OnFailure(this, m_cmd);
  } catch (...) {
    try {
      Disconnect();
    } catch (...) {
      // The first error is the one the caller needs to see.
    }
    throw;
  }
  Disconnect();

  const int status = ReplyCode();
  if (status >= 300 && status <= 398) {
    if (!m_receivedCookie.isEmpty()) m_headerInfo.Cookie = m_receivedCookie;
    if (OnRedirect) {
      bool handled = false;
      OnRedirect(this, handled);
      if (handled) return false;
    }
    if (!m_url.contains(QLatin1Char('/')))
      m_url = (Secure() ? QStringLiteral("https://") : QStringLiteral("http://")) + Host() +
              QLatin1Char('/') + m_url;
  }
  if (status == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(this);
  return status >= 299 && status <= 399;
}

void THttpClient::ReadReplyHeader(QStringList& headerLines) {
  m_receivedCookie.clear();
  QFile file(m_header);
  if (m_outputFileMode) {
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw EFCreateError(msg::text(msg::FileCreateError).arg(m_header));
  } else {
    m_header.clear();
  }
  auto store = [&](const QString& line) {
    if (m_outputFileMode) {
      file.write(line.toLatin1());
    } else {
      m_header += line;
    }
  };

  TReplyHeaderReader reader(kMaxHeaderLines);
  const QString statusLine = ReadLn(kMaxReplyLine);
  reader.Take(statusLine);
  SetReplyCode(static_cast<std::int16_t>(reader.Status()));
  store(statusLine);
  while (!reader.Complete()) {
    reader.CheckLineCount();
    const QString line = ReadLn(kMaxReplyLine);
    switch (reader.Take(line)) {
      case THeaderKind::SetCookie: m_receivedCookie = reader.Cookie(); break;
      case THeaderKind::Location: m_url = reader.Location(); break;
      case THeaderKind::Other: break;
    }
    store(line);
  }
  headerLines = reader.Lines();
  if (m_outputFileMode) file.close();
}

// Without an announced length the body ends when the peer closes. With one,
// it ends once that many bytes are in (so a proxy that keeps the connection
// open cannot hold the transfer), and a close before then is a cut transfer.
void THttpClient::ReadBody(qint64 contentLength) {
  if (m_inputFileMode) {
    qint64 captured = 0;
    try {
      captured = CaptureFile(m_body, contentLength);
    } catch (const EAbortError&) {
      throw;
    } catch (const ESockError&) {
      QFile::remove(m_body);  // a stalled or unwritable body is no download
      throw;
    }
    if (contentLength >= 0 && captured < contentLength) {
      QFile::remove(m_body);
      throw ESockError(msg::text(msg::ClosedBeforeDataEnd).arg(captured).arg(contentLength));
    }
  } else {
    QString text;
    try {
      CaptureString(text, contentLength);
    } catch (...) {
      m_body = text;
      throw;
    }
    if (contentLength >= 0) text.truncate(contentLength);
    m_body = text;
  }
  if (contentLength >= 0) WaitForPeerClose(kCloseGraceMs);
}

}  // namespace vrk
