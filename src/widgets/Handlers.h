// How a window runs its event handlers: an error that a handler raises ends
// in the error display and the window stays usable, whatever the handler did
// before the error staying done. Where the window was closed while the
// handler ran (a transfer that the close cancelled), the error is not shown:
// nobody is left to read it.
//
// UI thread only.
#pragma once

#include <QObject>
#include <QWidget>

#include <functional>

namespace vrk {

// Runs a handler of `window`. Returns true when it finished without an error.
bool runHandler(const QWidget& window, const std::function<void()>& handler);

// Connects a signal of `sender` to a handler of `window`, run by runHandler.
template <class Sender, class Signal>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, QWidget* window,
                                       std::function<void()> handler) {
  return QObject::connect(sender, signal, window,
                          [window, handler = std::move(handler)] { runHandler(*window, handler); });
}

}  // namespace vrk
