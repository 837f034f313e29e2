// TApplication: the application object. Every exception that leaves an event
// handler ends in the application's error display instead of crossing the
// event loop, and the program's error display shows it in a message box as
// the class library does: the application's title, a stop icon, the message
// with a full stop added.
//
// UI thread only.
#pragma once

#include <QApplication>

namespace vrk {

class TApplication final : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);

  // Catches what an event handler throws and shows it; the event counts as
  // handled.
  bool notify(QObject* receiver, QEvent* event) override;

  // The title of the error message boxes.
  static QString title();
  // Makes the error display show its messages in a message box.
  static void installMessageBoxSink();
  // Makes the core's Yes/No questions real message boxes (titled by their
  // kind, with msg::ButtonYes and msg::ButtonNo, centred on the screen) and
  // its beep the toolkit's default beep.
  static void installDialogs();
};

// The text the error message box shows for a message: a full stop is added
// unless the message is empty or already ends in a full stop or a character
// sorted before it (blank, '!', ',' …).
QString errorBoxText(const QString& message);

}  // namespace vrk
