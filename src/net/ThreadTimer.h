// TThreadTimer: the socket session's time-out timer. A plain timer on its
// session's thread (not a thread of its own, whatever the name says).
//
// Every change of Enabled, Interval or OnTimer stops the timer and starts it
// again when Interval is not 0, Enabled is on and OnTimer is set. Each tick
// calls OnTimer; an exception from it goes to the application error display.
//
// Its session's thread only (see TSocketSession).
#pragma once

#include <QObject>

#include <functional>

class QTimer;

namespace vrk {

class TThreadTimer final : public QObject {
 public:
  using TNotify = std::function<void(QObject* Sender)>;

  explicit TThreadTimer(QObject* owner = nullptr);
  TThreadTimer(const TThreadTimer&) = delete;
  TThreadTimer& operator=(const TThreadTimer&) = delete;

  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  int Interval() const { return m_interval; }
  void SetInterval(int ms);
  const TNotify& OnTimer() const { return m_onTimer; }
  void SetOnTimer(TNotify handler);

  // True while the underlying timer is armed.
  bool IsRunning() const;

 private:
  void UpdateTimer();

  QTimer* m_timer;
  bool m_enabled = true;
  int m_interval = 1000;
  TNotify m_onTimer;
};

}  // namespace vrk
