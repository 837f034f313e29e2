// TStatusBar: the main window's status bar with fixed-width text panels.
//
// UI thread only.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include <initializer_list>
#include <optional>
#include <vector>

namespace vrk {

class TStatusBar final : public QStatusBar {
  Q_OBJECT

 public:
  // One panel per width, left to right.
  TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent = nullptr);

  int panelCount() const { return static_cast<int>(m_panels.size()); }
  QLabel* panel(int index) const { return m_panels.at(static_cast<std::size_t>(index)); }
  // The panel's latest text, also one still waiting to be shown.
  QString panelText(int index) const;
  // Sets a panel's text. By default it is shown and painted at once, for
  // handlers that keep the event loop away for long. A display that changes
  // while the event loop runs (the progress of a transfer, on every packet)
  // passes paintNow false: the panel then takes the latest such text at most
  // every kLiveIntervalMs, so that laying out and painting a text thousands
  // of times a second costs the transfer nothing. A text wider than its panel
  // is also the panel's tool tip.
  static constexpr int kLiveIntervalMs = 50;
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
  void showText(int index, const QString& text);
  void showLiveTexts();

  std::vector<QLabel*> m_panels;
  // Texts set with paintNow false and not shown yet, per panel; null when none.
  std::vector<std::optional<QString>> m_live;
  QTimer m_liveTimer;
  std::vector<int> m_widths;
  QProgressBar* m_progress = nullptr;
  int m_progressPanel = -1;
};

}  // namespace vrk
