#include "Application.h"

#include "Beep.h"
#include "ErrorDisplay.h"
#include "MessageDlg.h"
#include "Messages.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace vrk {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) { setApplicationName(title()); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ErrorDisplay::showCurrentException();
    return true;
  }
}

QString TApplication::title() { return QStringLiteral("VRKSearch"); }

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

namespace vrk {

static int askInMessageBox(const QString& text, TMsgDlgType type) {
  QMessageBox box(type == TMsgDlgType::mtWarning ? QMessageBox::Warning : QMessageBox::Question,
                  MessageDlg::title(type), text, QMessageBox::NoButton, QApplication::activeWindow());
  QPushButton* yes = box.addButton(msg::text(msg::ButtonYes), QMessageBox::YesRole);
  QPushButton* no = box.addButton(msg::text(msg::ButtonNo), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  // Centred on the screen, not on the window.
  box.adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), box.sizeHint());
    r.moveCenter(screen->availableGeometry().center());
    box.move(r.topLeft());
  }
  box.exec();
  if (box.clickedButton() == yes) return mrYes;
  if (box.clickedButton() == no) return mrNo;
  return mrNone;
}

void TApplication::installDialogs() {
  MessageDlg::setAsker(askInMessageBox);
  SystemBeep::setSink([] { QApplication::beep(); });
}

}  // namespace vrk
