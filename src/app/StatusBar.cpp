#include "StatusBar.h"

namespace vrk {
namespace {

// The panels' height inside the 19-pixel bar.
constexpr int kPanelHeight = 17;

}  // namespace

TStatusBar::TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent) : QStatusBar(parent) {
  int i = 0;
  for (int width : panelWidths) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("Panel%1").arg(i++));
    // Fixed in both directions: a new text then never asks the bar for a new
    // layout, which the progress of a transfer would do many times a second.
    label->setFixedSize(width, kPanelHeight);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    addWidget(label);
    m_panels.push_back(label);
  }
}

void TStatusBar::setPanelText(int index, const QString& text, bool paintNow) {
  QLabel* p = panel(index);
  if (p->text() != text) {
    p->setText(text);
    // A text wider than its panel (a kept download's reason) shows whole
    // when the mouse rests on it.
    const int room = p->contentsRect().width() - 2 * p->margin();
    p->setToolTip(p->fontMetrics().horizontalAdvance(text) > room ? text : QString());
  }
  // A long handler keeps the event loop away; show the text at once.
  if (paintNow) p->repaint();
}

}  // namespace vrk
