// Test support: the one application object of a widget test program.
#pragma once

#include "Application.h"
#include "QtPrinters.h"

#include <QElapsedTimer>

#include <functional>

namespace vrk::test {

inline TApplication& testApp() {
  static int argc = 1;
  static char arg0[] = "vrk_app_test";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: tearing Qt's GUI down from exit handlers crashes.
  static TApplication* app = new TApplication(argc, argv);
  return *app;
}

// Runs the event loop until the condition holds or the time is up; returns
// the condition's last value.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace vrk::test
