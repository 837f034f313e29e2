// The program's start-up sequence, apart from main so that tests can run it
// on a program directory of their own.
#pragma once

#include "Places.h"

#include <QString>

#include <functional>

namespace vrk {

class TForm1;

// Creates the data module (settings, alias and download directory from
// places), then the main window, shows it and runs the message loop until
// the main window closes; the data module is destroyed last and writes the
// settings back. The application object must exist. afterShow, when given,
// runs once the window is shown (tests and the screenshot script drive the
// window there).
int runProgram(const TPlaces& places, const std::function<void(TForm1&)>& afterShow = {});
// The same on the portable places of programDir.
inline int runProgram(const QString& programDir, const std::function<void(TForm1&)>& afterShow = {}) {
  return runProgram(portablePlaces(programDir), afterShow);
}

}  // namespace vrk
