// TTransferRelay: the data module's relay of transfer events and of the Zip
// extraction's status lines to whichever window bound itself last.
//
// Windows never attach to the HTTP component directly: before a transfer a
// window binds its own handlers into the four slots, and the data module's
// handlers of the component's events call whatever is bound, passing the
// data module as the sender. A slot is empty at creation; binding replaces
// the previous pair; nothing empties it again.
//
// A slot remembers the object its handler belongs to. When that object is
// destroyed the slot stays bound but calls nothing, so a transfer that still
// pumps messages while the program ends never calls into a window that is
// gone.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace vrk {

// A handler bound to a window object, called with the data module as sender.
class TRelaySlot final {
 public:
  using Handler = std::function<void(QObject* Sender)>;

  void bind(QObject* owner, Handler handler) {
    m_owner = owner;
    m_handler = std::move(handler);
    m_bound = true;
  }
  bool bound() const { return m_bound; }
  // The object whose handler is bound; null when it is gone (or none).
  QObject* owner() const { return m_owner.data(); }
  // Calls the handler, if one is bound and its object still lives.
  void operator()(QObject* sender) const {
    if (m_bound && m_owner && m_handler) m_handler(sender);
  }

 private:
  QPointer<QObject> m_owner;
  Handler m_handler;
  bool m_bound = false;
};

class TTransferRelay : public QObject {
 public:
  TTransferRelay() = default;
  TTransferRelay(const TTransferRelay&) = delete;
  TTransferRelay& operator=(const TTransferRelay&) = delete;

  // The four slots; each setter stores the pair, no other part reads them.
  void SetOnConnect(QObject* owner, TRelaySlot::Handler h) { m_onConnect.bind(owner, std::move(h)); }
  void SetOnPacketRecvd(QObject* owner, TRelaySlot::Handler h) { m_onPacketRecvd.bind(owner, std::move(h)); }
  void SetOnDisconnect(QObject* owner, TRelaySlot::Handler h) { m_onDisconnect.bind(owner, std::move(h)); }
  void SetOnStatus(QObject* owner, TRelaySlot::Handler h) { m_onStatus.bind(owner, std::move(h)); }

  const TRelaySlot& OnConnect() const { return m_onConnect; }
  const TRelaySlot& OnPacketRecvd() const { return m_onPacketRecvd; }
  const TRelaySlot& OnDisconnect() const { return m_onDisconnect; }
  const TRelaySlot& OnStatus() const { return m_onStatus; }

  // The last status line of the Zip extraction. The setter stores the text,
  // then calls OnStatus if it is bound.
  const QString& StatusText() const { return m_statusText; }
  void SetStatusText(const QString& text) {
    m_statusText = text;
    m_onStatus(this);
  }

 protected:
  // The relays of the HTTP component's events.
  void RelayConnect() { m_onConnect(this); }
  void RelayPacketRecvd() { m_onPacketRecvd(this); }
  void RelayDisconnect() { m_onDisconnect(this); }

 private:
  TRelaySlot m_onConnect;
  TRelaySlot m_onPacketRecvd;
  TRelaySlot m_onDisconnect;
  QString m_statusText;
  TRelaySlot m_onStatus;
};

}  // namespace vrk
