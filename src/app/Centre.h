// Centres a window on the primary screen, as a window that the toolkit
// places "centred on the screen" appears.
#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace vrk {

inline void centreOnScreen(QWidget& window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), window.frameGeometry().size());
    r.moveCenter(screen->availableGeometry().center());
    window.move(r.topLeft());
  }
}

}  // namespace vrk
