#include "Handlers.h"

#include "ErrorDisplay.h"

namespace vrk {

bool runHandler(const QWidget& window, const std::function<void()>& handler) {
  const bool shown = window.isVisible();
  try {
    handler();
    return true;
  } catch (...) {
    if (!shown || window.isVisible()) ErrorDisplay::showCurrentException();
    return false;
  }
}

}  // namespace vrk
