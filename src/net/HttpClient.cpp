#include "HttpClient.h"

#include "ChunkDecoder.h"
#include "Messages.h"
#include "ScopeExit.h"

#include <QFile>

namespace vrk {
namespace {

// A reply with this status that carries a Location leads to another pass.
// 304 (not modified), 305 (use proxy) and 306 (unused) redirect nowhere.
bool isRedirect(int status) {
  return status >= 300 && status <= 399 && status != 304 && status != 305 && status != 306;
}

QString origin(const TUrlParts& parts) {
  return parts.Scheme + QStringLiteral("://") + parts.Host.toLower() + QLatin1Char(':') +
         QString::number(parts.Port);
}

}  // namespace

THttpClient::THttpClient(QObject* owner) : TSocketSession(owner) {}

THttpClient::~THttpClient() = default;

void THttpClient::Abort() { Cancel(); }

void THttpClient::SetResume(qint64 offset, const QString& validator, qint64 total) {
  m_resumeOffset = qMax<qint64>(offset, 0);
  m_resumeValidator = validator;
  m_resumeTotal = total;
}

void THttpClient::Get(const QString& url) {
  m_cmd = cmdGET;
  m_url = url;
  m_bodyFileWritten = false;
  m_wasSecure = false;
  m_credentialsOrigin.clear();
  m_bodyOffset = 0;
  m_bodyTotal = -1;
  m_bodyValidator.clear();
  // Credentials a URL carries hold for this GET only.
  const QString callerUserId = m_headerInfo.UserId;
  const QString callerPassword = m_headerInfo.Password;
  m_urlCredentials = false;
  auto restoreCredentials = [&] {
    m_resumeOffset = 0;  // a resume is asked for one GET
    if (!m_urlCredentials) return;
    m_headerInfo.UserId = callerUserId;
    m_headerInfo.Password = callerPassword;
  };
  const auto restoreOnExit = onScopeExit(restoreCredentials);
  try {
    for (int pass = 1; RunPass(); ++pass) {
      if (pass >= kMaxPasses) throw ESockError(msg::text(msg::TooManyRedirects).arg(kMaxPasses));
    }
  } catch (const EAbortError&) {
    throw;  // a cancelled download keeps its partial for a resume
  } catch (const ECutTransfer&) {
    if (m_inputFileMode && m_bodyFileWritten && !m_keepCutBody) QFile::remove(m_body);
    throw;
  } catch (const Exception&) {
    // What an earlier pass wrote (the body of a redirection) is no download.
    if (m_inputFileMode && m_bodyFileWritten) QFile::remove(m_body);
    throw;
  }
}

bool THttpClient::RunPass() {
  const TUrlParts parts = SplitUrl(m_url, Host(), Port(), Secure());
  // A redirection never moves an https transfer to plain text (Get removes
  // what an earlier pass left in the body file).
  if (m_wasSecure && !parts.Secure) throw ESockError(msg::text(msg::HttpsDowngrade).arg(parts.Url));
  m_wasSecure = parts.Secure;
  m_url = parts.Url;
  SetHost(parts.Host);
  SetPort(parts.Port);
  SetSecure(parts.Secure);
  m_path = parts.Path;
  // Credentials go only where they were given for: the URL that carried
  // them, or the first URL of the GET for those set by the caller.
  if (!parts.UserId.isEmpty() || !parts.Password.isEmpty()) {
    m_headerInfo.UserId = parts.UserId;
    m_headerInfo.Password = parts.Password;
    m_credentialsOrigin = origin(parts);
    m_urlCredentials = true;
  } else if (m_credentialsOrigin.isEmpty()) {
    m_credentialsOrigin = origin(parts);
  }
  THeaderInfo info = m_headerInfo;
  if (origin(parts) != m_credentialsOrigin) {
    info.UserId.clear();
    info.Password.clear();
  }
  // Through a proxy's tunnel the request is the one the server itself gets.
  m_requestLines = BuildGetRequest(parts, parts.Secure ? QString() : Proxy(), info);
  const bool resuming = m_inputFileMode && m_resumeOffset > 0;
  if (resuming) AddRangeLines(m_requestLines, m_resumeOffset, m_resumeValidator);
  const QString request = JoinRequestLines(m_requestLines);
  if (request.size() > kSendTextArea) throw ESockError(msg::text(msg::RequestTooLong).arg(kSendTextArea));
  if (OnAboutToSend) OnAboutToSend(this);

  Connect();
  QString location;
  {
    // On an error the connection is dropped; a failure of that is dropped
    // too, since the first error is the one the caller needs to see.
    auto disconnectOnError = onScopeExit([this] { Disconnect(); });
    Write(request);
    QStringList headerLines;
    ReadReplyHeader(headerLines, location);
    const int status = ReplyCode();
    const TBodyRule rule = ReplyBodyRule(status, headerLines);
    const bool followed = isRedirect(status) && !location.isEmpty();
    if (resuming && !followed && (status == 416 || (status == 206 && !RangeFits(headerLines, rule)))) {
      // No range that continues the file: dropped unread, asked again whole.
      m_resumeOffset = 0;
      disconnectOnError.dismiss();
      Disconnect();
      return true;
    }
    // While resuming, only the reply that carries the body touches the file.
    if (!(resuming && followed)) {
      const bool append = resuming && status == 206;
      m_bodyOffset = append ? m_resumeOffset : 0;
      m_bodyTotal = append ? ParseContentRange(headerLines)->Total
                    : status >= 200 && status <= 299 && rule.Framing == TBodyFraming::Length ? rule.Length
                                                                                             : -1;
      m_bodyValidator = ReplyValidator(headerLines);
      if (!followed && OnBodyStart) OnBodyStart(this);
      ReadBody(rule, followed, append);
    }
    if (status >= 200 && status <= 299) {
      if (OnSuccess) OnSuccess(this, m_cmd);
      StatusMessage(2, msg::StatusTransactionDone);
    }
    if (status >= 400 && OnFailure) OnFailure(this, m_cmd);
    disconnectOnError.dismiss();
  }
  Disconnect();

  const int status = ReplyCode();
  if (status == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(this);
  // A redirection without a target is the final reply.
  if (!isRedirect(status) || location.isEmpty()) return false;
  if (!m_receivedCookie.isEmpty()) m_headerInfo.Cookie = m_receivedCookie;
  m_url = ResolveLocation(m_url, location);
  if (!RedirectAllowed(m_url)) throw ESockError(msg::text(msg::RedirectNotHttp).arg(m_url));
  if (OnRedirect) {
    bool handled = false;
    OnRedirect(this, handled);
    if (handled) return false;
  }
  return true;
}

bool THttpClient::RangeFits(const QStringList& headerLines, const TBodyRule& rule) const {
  const std::optional<TContentRange> range = ParseContentRange(headerLines);
  if (!range || range->First != m_resumeOffset || range->Total < 0 || range->Last != range->Total - 1)
    return false;
  // The file changed its length since the partial was begun.
  if (m_resumeTotal >= 0 && range->Total != m_resumeTotal) return false;
  if (rule.Framing == TBodyFraming::None) return false;
  return rule.Framing != TBodyFraming::Length || rule.Length == range->Last - range->First + 1;
}

void THttpClient::ReadReplyHeader(QStringList& headerLines, QString& location) {
  m_receivedCookie.clear();
  QFile file(m_header);
  if (m_outputFileMode) {
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw EFCreateError(msg::text(msg::FileCreateError).arg(m_header));
  } else {
    m_header.clear();
  }

  // The reply's header as received; an interim reply before it is dropped.
  QString block;
  TReplyHeaderReader reader(kMaxHeaderLines);
  do {
    if (reader.LinesTaken() > 0 || !reader.AwaitingStatus()) reader.CheckLineCount();
    const QString line = ReadLn(kMaxReplyLine);
    reader.Take(line);
    block += line;
    if (reader.AwaitingStatus()) block.clear();
  } while (!reader.Complete());
  SetReplyCode(static_cast<std::int16_t>(reader.Status()));
  m_receivedCookie = reader.Cookie();
  location = reader.Location();
  headerLines = reader.Lines();
  if (m_outputFileMode) {
    file.write(block.toLatin1());
    file.close();
  } else {
    m_header = block;
  }
}

// The body ends as the reply's framing says. With an announced length (or
// none at all) it ends once that much is in, so a proxy that keeps the
// connection open cannot hold the transfer; a close before then is a cut
// transfer. A chunked body is decoded and ends at its last chunk.
void THttpClient::ReadBody(const TBodyRule& rule, bool leadsOn, bool append) {
  const qint64 length = rule.Framing == TBodyFraming::None     ? 0
                        : rule.Framing == TBodyFraming::Length ? rule.Length
                                                               : -1;
  TChunkDecoder chunks;
  TBodyDecoder* decoder = rule.Framing == TBodyFraming::Chunked ? &chunks : nullptr;
  // The chunked body's own faults, once the capture has ended.
  auto checkChunks = [&] {
    if (chunks.Failed()) throw ESockError(msg::text(msg::InvalidChunk).arg(chunks.Offset()));
    if (!chunks.Complete()) throw ECutTransfer(msg::text(msg::ChunkedBodyCut));
  };
  if (m_bodyStream && !leadsOn) {
    // The page of a redirection that is followed is not written: what the
    // stream receives is the body of the final reply only.
    const qint64 captured = CaptureInto(*m_bodyStream, m_bodyStreamName, length, decoder);
    if (decoder) checkChunks();
    if (length >= 0 && captured < length)
      throw ESockError(msg::text(msg::ClosedBeforeDataEnd).arg(captured).arg(length));
  } else if (m_inputFileMode && !m_bodyStream) {
    qint64 captured = 0;
    try {
      m_bodyFileWritten = true;
      captured = CaptureFile(m_body, length, decoder, append);
      if (decoder) checkChunks();
      if (length >= 0 && captured < length)
        throw ECutTransfer(
            msg::text(msg::ClosedBeforeDataEnd).arg(m_bodyOffset + captured).arg(m_bodyOffset + length));
    } catch (const EAbortError&) {
      throw;
    } catch (const ECutTransfer&) {
      if (!m_keepCutBody) QFile::remove(m_body);  // a stalled or cut body is no download
      throw;
    } catch (const ESockError&) {
      QFile::remove(m_body);  // nor is a damaged or unwritable one
      throw;
    }
  } else {
    // With a stream, the page of a redirection is read and dropped.
    QString text;
    QString& body = m_bodyStream ? text : m_body;
    {
      // What came before an error is the body too.
      auto keepOnError = onScopeExit([&] { body = text; });
      CaptureString(text, length, decoder);
      keepOnError.dismiss();
    }
    if (length >= 0) text.truncate(length);
    body = text;
    if (decoder) checkChunks();
  }
  if (rule.Framing != TBodyFraming::UntilClose) WaitForPeerClose(kCloseGraceMs);
}

}  // namespace vrk
