// TfrmMirror, the mirror selection dialog ("Select a Mirror"): the mirror
// table in a grid through the dialog's own data source. OK closes it with the
// result OK (the options dialog then takes the current row's URL); a double
// click on a row makes that row's URL the Mirror setting at once and tries
// the mirror with an in-memory fetch of its URL, the dialog's own status bar
// showing the connection state and the progress. No animation.
//
// Created hidden at start-up; each opening is modal. UI thread only.
#pragma once

#include "DBControls.h"
#include "StatusBar.h"
#include "VRKSearchData.h"

#include <QDialog>
#include <QPushButton>

#include <cstdint>

namespace vrk {

class TfrmMirror final : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmMirror(TVRKData& data, QWidget* parent = nullptr);
  TfrmMirror(const TfrmMirror&) = delete;
  TfrmMirror& operator=(const TfrmMirror&) = delete;

  // Opens the mirror table (nothing happens when it is open).
  void FormActivate();
  // OK: closes the dialog with the result OK, unless the current row's URL
  // holds a line break (msg::ValueLineBreak; the dialog stays open).
  void BitBtn1Click();
  // msg::Connecting in panel 0, panel 1 cleared; the three transfer relays
  // bound to this dialog; Mirror := URL of the current mirror row; the
  // in-memory fetch of Mirror (with its question); Http1 disconnected. A
  // failed try shows its error, and panel 0 then reads msg::Disconnected. A
  // URL with a line break is refused before it becomes the Mirror setting.
  // A cancelled try reads msg::Cancelled in panel 1.
  void DBGrid1DblClick();

  // The dialog's transfer handlers, on its own status bar.
  void ShowConnected(QObject* Sender);
  void ShowProgress(QObject* Sender);
  void ShowDisconnected(QObject* Sender);
  std::uint32_t ConnectTick = 0;

  TDataSource DataSource1;
  TDBGrid* DBGrid1;
  QPushButton* BitBtn1;
  TStatusBar* StatusBar1;

 protected:
  bool event(QEvent* event) override;
  // Esc during a try cancels it (msg::Cancelled in panel 1) and leaves the
  // dialog open; closing the dialog cancels a try that runs.
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The URL of the current mirror row; raises msg::ValueLineBreak when it
  // holds a line break.
  QString currentUrl() const;

  TVRKData& m_data;
};

}  // namespace vrk
