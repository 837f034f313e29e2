// TStatusBar: the main window's status bar with fixed-width text panels.
//
// UI thread only.
#pragma once

#include <QLabel>
#include <QStatusBar>

#include <initializer_list>
#include <vector>

namespace vrk {

class TStatusBar final : public QStatusBar {
  Q_OBJECT

 public:
  // One panel per width, left to right.
  TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent = nullptr);

  int panelCount() const { return static_cast<int>(m_panels.size()); }
  QLabel* panel(int index) const { return m_panels.at(static_cast<std::size_t>(index)); }
  QString panelText(int index) const { return panel(index)->text(); }
  // Sets a panel's text. By default it is painted at once, for handlers that
  // keep the event loop away for long; a display that changes while the event
  // loop runs (the progress of a transfer, many times a second) passes
  // paintNow false and is painted with the next pass of the loop. A text
  // wider than its panel is also the panel's tool tip.
  void setPanelText(int index, const QString& text, bool paintNow = true);

 private:
  std::vector<QLabel*> m_panels;
};

}  // namespace vrk
