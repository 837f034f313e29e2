// The application's error display: the one place where an exception that
// leaves an event handler ends. The program installs a sink that shows the
// text in a message box; tests install a sink that records the texts.
//
// UI thread only.
#pragma once

#include <QString>
#include <functional>

namespace vrk {

class ErrorDisplay final {
 public:
  using Sink = std::function<void(const QString& message)>;

  // Replaces the sink and returns the previous one. An empty sink writes the
  // message to standard error.
  static Sink setSink(Sink sink);

  // Shows the text of the exception currently being handled. Must be called
  // from inside a catch block. EAbort shows nothing.
  static void showCurrentException();

  // Shows one message through the sink.
  static void show(const QString& message);

  // Runs a handler; an exception leaving it goes to the display and is not
  // rethrown. Returns true when the handler finished without one.
  static bool guard(const std::function<void()>& handler);
};

// Message of the exception currently being handled (inside a catch block).
QString currentExceptionMessage();

}  // namespace vrk
