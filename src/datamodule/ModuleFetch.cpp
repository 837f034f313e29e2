// The data module's fetch from a mirror: the question, the transfer into a
// temporary file of Download, the unpacking and what the fetch leaves.
#include "VRKSearchData.h"

#include "DownloadFile.h"
#include "MessageDlg.h"
#include "Messages.h"
#include "MirrorFetch.h"
#include "ScopeExit.h"
#include "SockError.h"
#include "unzip/Unzip.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vrk {

void TVRKData::CheckNoTransferRunning() const {
  if (m_transferRunning) throw Exception(msg::text(msg::TransferRunning));
}

void TVRKData::CancelTransfer() {
  // Http1 is cancelled in any case (a GET of its own may wait on it); the
  // next connect clears that again.
  if (m_transferRunning) m_cancelled = true;
  Http1.Cancel();
}

TFetchResult TVRKData::FetchFromMirror(bool toFile, const QString& path, qint64 catalogueSize,
                                       const std::function<QString()>& unpackDir) {
  // A second fetch would change Http1 under the one that waits.
  CheckNoTransferRunning();
  const QString localName = toFile ? mirrorLocalName(path) : QString();
  // The running mark clears when the fetch ends, however it ends.
  m_transferRunning = true;
  const auto notRunning = onScopeExit([this] { m_transferRunning = false; });
  m_cancelled = false;

  Http1.SetHost(Host);
  if (UseProxy) {
    Http1.SetProxy(Proxy);
    Http1.SetProxyPort(proxyPortNumber(Proxyport));
  } else {
    Http1.SetProxy(QString());
    Http1.SetProxyPort(0);
  }
  Http1.SetInputFileMode(toFile);
  const QString question = mirrorQuestion(Mirror, toFile, localName);
  if (AskConnect && MessageDlg::ask(question, TMsgDlgType::mtConfirmation) != mrYes) return {};

  Http1.SetKeepCutBody(toFile);
  if (!toFile) {
    try {
      getReply(path);
    } catch (const Exception&) {
      if (m_cancelled) throw ETransferCancelled();
      throw;
    }
    if (m_cancelled) throw ETransferCancelled();
    checkReply();
    return {};
  }

  // The body goes to a temporary file that takes the local name only once
  // it is whole. A fetch that was cut or cancelled, or that failed before a
  // body came, keeps what that file holds for a resume; otherwise the file
  // goes.
  TDownloadFile file(downloadDir(), localName);
  const QString url = mirrorUrl(Mirror, path);
  if (const auto partial = file.begin(url))
    Http1.SetResume(partial->size, partial->validator, partial->total);
  Http1.SetBody(file.partPath());
  bool bodyStarted = false;
  Http1.OnBodyStart = [&](QObject*) {
    bodyStarted = true;
    file.record(url, Http1.BodyValidator(), Http1.BodyTotal());
  };
  struct ClearBodyStart {
    THttpClient& http;
    ~ClearBodyStart() { http.OnBodyStart = nullptr; }
  } clearBodyStart{Http1};
  // What the file holds continues the body only when the reply that wrote
  // it was a download.
  auto keepPartial = [&] {
    if (!bodyStarted || (Http1.StatusCode() >= 200 && Http1.StatusCode() <= 299)) file.keep();
  };
  try {
    getReply(url);
  } catch (const EFCreateError&) {
    // The user knows the file by its own name.
    throw EFCreateError(msg::text(msg::FileCreateError).arg(file.path()));
  } catch (const EAbortError&) {
    keepPartial();
    if (m_cancelled) throw ETransferCancelled();
    throw;
  } catch (const ECutTransfer&) {
    keepPartial();
    if (m_cancelled) throw ETransferCancelled();
    throw;
  } catch (const ESockError&) {
    // Before the body nothing touched the file (no connection, a refused
    // reply); after it began, the body was damaged.
    if (!bodyStarted) file.keep();
    if (m_cancelled) throw ETransferCancelled();
    throw;
  }
  if (m_cancelled) {
    keepPartial();
    throw ETransferCancelled();
  }
  // An error page or a reply that is no HTTP reply is not the file.
  checkReply();
  file.complete();
  TFetchResult result;
  const qint64 received = QFileInfo(file.path()).size();
  if (catalogueSize > 0 && received != catalogueSize)
    result.sizeLine = sizeMismatchText(localName, received, catalogueSize);
  if (!UnzipFile) return result;

  const QString into = unpackDir ? unpackDir() : downloadDir();
  if (m_unzipDisplay) m_unzipDisplay->UnzipStarted();
  // An unpacking that fails (a status handler that throws, among others)
  // ends the display too: the animation does not go on playing.
  auto endOnError = onScopeExit([this] {
    if (m_unzipDisplay) m_unzipDisplay->UnzipEnded();
  });
  // Once, so that the animation and the panel text are painted.
  QCoreApplication::processEvents();
  const TUnzipResult unzipped = UnzipArchive(file.path(), into, *this);
  endOnError.dismiss();
  if (m_unzipDisplay) m_unzipDisplay->UnzipEnded();
  if (!unzipped.whole()) {
    // Deleting it would lose what was not unpacked.
    TFetchResult kept = result;
    // An entry named as a Zip file that holds none was cut or mistaken on
    // its way (a body without a length ends wherever the connection does).
    const bool zipNamed = localName.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive);
    kept.kept = unzipped.outcome == TUnzipOutcome::NotZip && !zipNamed ? TFetchResult::TKept::NotZip
                                                                       : TFetchResult::TKept::NotWhole;
    kept.keptLine = msg::text(msg::ZipKept).arg(file.path(), unzipped.outcomeText);
    return kept;
  }
  if (DeleteUnzip) file.removeUnpacked();
  result.unpacked = true;
  return result;
}

void TVRKData::getReply(const QString& url) {
  try {
    Http1.Get(url);
  } catch (const EStatusLineError& e) {
    // What came back is no HTTP reply: a failed reply, not a failed
    // connection.
    throw Exception(downloadFailedText(e.message(), Http1.Url()));
  }
}

void TVRKData::checkReply() const {
  const QString failure = replyFailure(Http1.Header(), Http1.StatusCode());
  if (!failure.isEmpty()) throw Exception(downloadFailedText(failure, Http1.Url()));
}

}  // namespace vrk
