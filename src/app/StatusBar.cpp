#include "StatusBar.h"

namespace vrk {

TStatusBar::TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent)
    : QStatusBar(parent) {
  int i = 0;
  for (int width : panelWidths) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("Panel%1").arg(i++));
    label->setFixedWidth(width);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    addWidget(label);
    m_panels.push_back(label);
  }
}

void TStatusBar::setPanelText(int index, const QString& text) {
  panel(index)->setText(text);
  // A long handler keeps the event loop away; show the text at once.
  panel(index)->repaint();
}

}  // namespace vrk
