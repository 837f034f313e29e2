#include "StatusBar.h"

#include <utility>

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
    m_widths.push_back(width);
  }
  m_live.resize(m_panels.size());
  m_liveTimer.setSingleShot(true);
  m_liveTimer.setInterval(kLiveIntervalMs);
  connect(&m_liveTimer, &QTimer::timeout, this, &TStatusBar::showLiveTexts);
}

QString TStatusBar::panelText(int index) const {
  const auto& live = m_live.at(static_cast<std::size_t>(index));
  return live ? *live : panel(index)->text();
}

void TStatusBar::setPanelText(int index, const QString& text, bool paintNow) {
  auto& live = m_live.at(static_cast<std::size_t>(index));
  if (!paintNow) {
    live = text;
    if (!m_liveTimer.isActive()) m_liveTimer.start();
    return;
  }
  // A text shown at once replaces one still waiting.
  live.reset();
  showText(index, text);
  panel(index)->repaint();
}

void TStatusBar::showLiveTexts() {
  for (std::size_t i = 0; i < m_live.size(); ++i) {
    if (!m_live[i]) continue;
    const QString text = *std::exchange(m_live[i], std::nullopt);
    showText(static_cast<int>(i), text);
  }
}

void TStatusBar::showText(int index, const QString& text) {
  QLabel* p = panel(index);
  if (p->text() != text) {
    p->setText(text);
    // A text wider than its panel (a kept download's reason) shows whole
    // when the mouse rests on it.
    const int room = p->contentsRect().width() - 2 * p->margin();
    p->setToolTip(p->fontMetrics().horizontalAdvance(text) > room ? text : QString());
  }
}

void TStatusBar::showProgress(int index, int percent, const QString& text) {
  QLabel* p = panel(index);
  if (m_progressPanel != index) {
    hideProgress();
    m_progressPanel = index;
    p->setFixedWidth(qMax(kProgressWidth, m_widths.at(static_cast<std::size_t>(index))));
  }
  if (!m_progress) {
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(true);
  }
  if (m_progress->parentWidget() != p) {
    m_progress->setParent(p);
    m_progress->setGeometry(p->contentsRect());
  }
  m_progress->setValue(percent);
  if (m_progress->format() != text) {
    m_progress->setFormat(text);
    m_progress->setToolTip(text);
  }
  m_progress->show();
}

void TStatusBar::hideProgress() {
  if (m_progress) m_progress->hide();
  if (m_progressPanel < 0) return;
  panel(m_progressPanel)->setFixedWidth(m_widths.at(static_cast<std::size_t>(m_progressPanel)));
  m_progressPanel = -1;
}

}  // namespace vrk
