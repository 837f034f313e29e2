// The system's default beep. The program plays it through the widget
// toolkit; a core library only asks for it here, and tests count the beeps
// instead of making a sound.
//
// UI thread only.
#pragma once

#include <functional>

namespace vrk {

class SystemBeep final {
 public:
  using Sink = std::function<void()>;

  // Plays the default beep through the installed sink; without one it does
  // nothing (a program without a window has no sound to make).
  static void play();
  // Replaces the sink and returns the previous one.
  static Sink setSink(Sink sink);
};

}  // namespace vrk
