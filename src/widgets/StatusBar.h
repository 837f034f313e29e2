// TStatusBar: the main window's status bar with fixed-width text panels.
//
// UI thread only.
#pragma once

#include <QLabel>
#include <QProgressBar>
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

  // A progress bar in a panel: percent and its text (also the tool tip).
  // While it shows, the panel is at least kProgressWidth wide, so that the
  // text fits; hidden, the panel has its own width again.
  static constexpr int kProgressWidth = 200;
  void showProgress(int index, int percent, const QString& text);
  void hideProgress();
  // The bar, made at its first showing; null before.
  QProgressBar* progressBar() const { return m_progress; }

 private:
  std::vector<QLabel*> m_panels;
  std::vector<int> m_widths;
  QProgressBar* m_progress = nullptr;
  int m_progressPanel = -1;
};

}  // namespace vrk
