// Test support: the one QCoreApplication of a test process, made on first
// use, for code that runs an event loop (socket sessions, timers).
#pragma once

#include <QCoreApplication>

namespace vrk::test {

inline QCoreApplication& coreApp() {
  if (auto* app = QCoreApplication::instance()) return *app;
  static int argc = 1;
  static char name[] = "vrktest";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

}  // namespace vrk::test
