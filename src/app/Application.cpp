#include "Application.h"

#include "ErrorDisplay.h"

#include <QMessageBox>

namespace vrk {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(title());
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ErrorDisplay::showCurrentException();
    return true;
  }
}

QString TApplication::title() {
  return QStringLiteral("VRKSearch");
}

QString errorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void TApplication::installMessageBoxSink() {
  ErrorDisplay::setSink([](const QString& message) {
    QMessageBox box(QMessageBox::Critical, title(), errorBoxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  });
}

}  // namespace vrk
