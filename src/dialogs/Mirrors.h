// TfrmMirror, the mirror selection dialog ("Select a Mirror"): the mirror
// table in a grid through the dialog's own data source. OK closes it with the
// result OK (the options dialog then takes the current row's URL); a double
// click on a row makes that row's URL the Mirror setting at once and tries
// the mirror with an in-memory fetch of its URL, the dialog's own status bar
// showing the connection state and the progress. No animation.
//
// "Test all" tries every mirror of the table at once (TMirrorProbe) without
// asking first, whatever AskConnect says: the button is the user's word to
// connect. The grid stays usable meanwhile; a second test is refused while
// one runs. The outcome and time of each mirror appear in a column of their
// own, added to the grid by the first test (the provider column narrows to
// make room); "Select fastest" makes the fastest mirror that answered with
// success the current row. Neither changes the Mirror setting.
//
// Created hidden at start-up; each opening is modal. UI thread only: the
// test's probes run on threads of their own and their results come back to
// the UI thread.
#pragma once

#include "DBControls.h"
#include "MirrorProbe.h"
#include "StatusBar.h"
#include "VRKSearchData.h"

#include <QDialog>
#include <QHash>
#include <QPushButton>
#include <QSet>

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

  // Tries every mirror of the table at once: the test column shows
  // msg::ProbePending for each, then its outcome as it comes in; panel 0
  // msg::ProbeTesting and then msg::ProbeDone, panel 1 msg::ProbeTested.
  // Raises msg::ProbeRunning while a test runs, and for a proxy port that is
  // no number (with UseProxy on) as a download does.
  void btnTestAllClick();
  // Makes the fastest mirror that answered with success the current row;
  // raises msg::ProbeNoneWorks when no tested mirror did.
  void btnSelectFastestClick();
  bool testRunning() const { return m_probe.running(); }
  // The whole bound of each mirror's probe (ms).
  int ProbeBound = kDefaultProbeBound;

  // The dialog's transfer handlers, on its own status bar.
  void ShowConnected(QObject* Sender);
  void ShowProgress(QObject* Sender);
  void ShowDisconnected(QObject* Sender);
  std::uint32_t ConnectTick = 0;

  TDataSource DataSource1;
  TDBGrid* DBGrid1;
  QPushButton* BitBtn1;
  QPushButton* btnTestAll;
  QPushButton* btnSelectFastest;
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
  // The URL of each mirror row, each once, in the table's order.
  QStringList mirrorUrls() const;
  // The test column's cell of a row.
  QVariant testCell(int row, int role) const;
  void testResult(const TProbeResult& result);
  void testFinished();
  // The grid's width of a column: the designed one, the provider column
  // narrowed by the test column's while the grid shows it.
  int columnWidth(int column, int designed) const;

  TVRKData& m_data;
  TMirrorProbe m_probe;
  QSet<QString> m_testing;                // URLs whose probe runs
  QHash<QString, TProbeResult> m_tested;  // the last test's results by URL
};

}  // namespace vrk
