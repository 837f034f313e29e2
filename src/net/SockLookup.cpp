// The session's name look-up: the process-wide resolver (the system's or
// one a test installs), dotted addresses taken as they are, and the wait for
// the resolver's answer within the session's time-out.
#include "SockSession.h"

#include "Messages.h"
#include "ScopeExit.h"

#include <QHostInfo>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace vrk {
namespace {

void systemLookup(const QString& name, QObject* context,
                  std::function<void(int error, quint32 address)> done) {
  QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo& info) {
    if (info.error() != QHostInfo::NoError) {
      done(11001, 0);
      return;
    }
    for (const QHostAddress& a : info.addresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        done(0, a.toIPv4Address());
        return;
      }
    }
    done(11004, 0);
  });
}

THostLookup& hostLookup() {
  static THostLookup lookup = systemLookup;
  return lookup;
}

// Parses a dotted IPv4 address the way the classic socket layer does
// (inet_aton also takes the short forms); false for anything else.
bool parseDotted(const QString& name, quint32& address) {
  in_addr a{};
  const QByteArray latin = name.toLatin1();
  if (name.isEmpty() || latin.contains('\0') || ::inet_aton(latin.constData(), &a) == 0) return false;
  address = ntohl(a.s_addr);
  return true;
}

}  // namespace

THostLookup TSocketSession::SetHostLookup(THostLookup lookup) {
  THostLookup old = std::move(hostLookup());
  hostLookup() = lookup ? std::move(lookup) : THostLookup(systemLookup);
  return old;
}

// --- Name resolution ---------------------------------------------------------

TSocketSession::LookupResult TSocketSession::ResolveHost() {
  StatusMessage(8, msg::StatusResolveHost);
  const QString name = m_proxy.isEmpty() ? m_host : m_proxy;
  if (parseDotted(name, m_remoteAddress)) return LookupResult::Resolved;

  m_remoteAddress = 0;
  StartTimer();
  m_lookupDone = false;
  const unsigned sequence = ++m_lookupSequence;
  hostLookup()(name, this, [this, sequence](int error, quint32 address) {
    if (sequence != m_lookupSequence) return;  // an abandoned look-up
    Dispatch([&] {
      m_eventOk = error == 0;
      m_lookupAddress = address;
      m_lookupDone = true;
    });
  });
  {
    auto abandon = onScopeExit([this] {
      ++m_lookupSequence;
      StopTimer();
    });
    WaitUntil([this] { return m_lookupDone || m_timedOut || m_cancelRequested; });
    abandon.dismiss();
  }
  if (!m_lookupDone) ++m_lookupSequence;
  StopTimer();

  if (m_timedOut) return LookupResult::TimedOut;
  if (m_cancelRequested) return LookupResult::Cancelled;
  if (!m_eventOk) return LookupResult::Failed;
  m_remoteAddress = m_lookupAddress;
  if (OnHostResolved) OnHostResolved(this);
  return LookupResult::Resolved;
}

}  // namespace vrk
