// What every window of the program shares: the toolkit's default dialog font,
// the placement "centred on the screen" and the tab chain.
#pragma once

#include <QFont>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <vector>

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

// The Tab key's order through a window's controls: each control follows the
// one before it in the list.
inline void setTabChain(const std::vector<QWidget*>& order) {
  QWidget* previous = nullptr;
  for (QWidget* w : order) {
    if (previous) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

}  // namespace vrk
