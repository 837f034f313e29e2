// Test support: records what reaches the application error display while the
// object lives, instead of printing it.
#pragma once

#include "ErrorDisplay.h"

#include <QStringList>

namespace vrk::test {

class ErrorCapture final {
 public:
  ErrorCapture() {
    m_previous = ErrorDisplay::setSink([this](const QString& m) { m_messages << m; });
  }
  ~ErrorCapture() { ErrorDisplay::setSink(std::move(m_previous)); }
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;

  const QStringList& messages() const { return m_messages; }
  void clear() { m_messages.clear(); }

 private:
  ErrorDisplay::Sink m_previous;
  QStringList m_messages;
};

}  // namespace vrk::test
