// What every window of the program shares: the toolkit's default dialog font
// and the placement "centred on the screen".
#pragma once

#include <QFont>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace vrk {

// The toolkit's default dialog font ("MS Sans Serif", 11 pixels), for which
// the windows' pixel geometry is laid out. Where it is missing, a condensed
// sans serif keeps the captions within their columns.
inline QFont dialogFont() {
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("DejaVu Sans Condensed"),
                              QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow")});
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

// Centres a window on the primary screen.
inline void centreOnScreen(QWidget& window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), window.frameGeometry().size());
    r.moveCenter(screen->availableGeometry().center());
    window.move(r.topLeft());
  }
}

}  // namespace vrk
