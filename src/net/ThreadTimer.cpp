#include "ThreadTimer.h"

#include "ErrorDisplay.h"
#include "Exception.h"
#include "Messages.h"

#include <QTimer>

namespace vrk {

TThreadTimer::TThreadTimer(QObject* owner) : QObject(owner), m_timer(new QTimer(this)) {
  m_timer->setTimerType(Qt::PreciseTimer);
  connect(m_timer, &QTimer::timeout, this, [this] {
    ErrorDisplay::guard([this] {
      if (m_onTimer) m_onTimer(this);
    });
  });
}

void TThreadTimer::SetEnabled(bool enabled) {
  m_enabled = enabled;
  UpdateTimer();
}

void TThreadTimer::SetInterval(int ms) {
  m_interval = ms;
  UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotify handler) {
  m_onTimer = std::move(handler);
  UpdateTimer();
}

bool TThreadTimer::IsRunning() const { return m_timer->isActive(); }

void TThreadTimer::UpdateTimer() {
  m_timer->stop();
  if (m_interval != 0 && m_enabled && m_onTimer) {
    if (m_interval < 0) throw Exception(msg::text(msg::NoTimer));
    m_timer->start(m_interval);
  }
}

}  // namespace vrk
