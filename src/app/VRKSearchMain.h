// TForm1, the main window ("Form1"): the search criteria across the top, the
// result grid with the detail panel of read-only check boxes on its right,
// the description memo below, the status bar and the activity animation that
// floats over the grid. The grid, the detail boxes and the memo show the
// result table of the data module through its data source.
//
// The window reads its controls and hands the work to the core: the search
// (Button1Click) calls vrk::search over the data module, "Get Database"
// (miGetDatabaseClick) the catalogue refresh. While a transfer
// runs, the four transfer indicators (ShowConnected, ShowDisconnected,
// ShowProgress, ShowStatusText), bound into the data module's relay slots,
// show the connection state, the bytes and the rate, the animation and the
// Zip status lines. A body of announced length also shows a progress bar
// with its percentage and the time left in status panel 2. Esc, or File →
// "Cancel Transfer", ends the transfer that runs: panel 1 then reads
// msg::Cancelled, and nothing is unpacked or installed.
//
// UI thread only.
#pragma once

#include "Animate.h"
#include "DBControls.h"
#include "StatusBar.h"
#include "TransferProgress.h"
#include "VRKSearchData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>

#include <cstdint>

namespace vrk {

struct SearchCriteria;
class TfrmOptions;

class TForm1 : public QMainWindow, public TUnzipDisplay {
  Q_OBJECT

 public:
  // Builds the window and runs FormCreate; an error in FormCreate goes to
  // the error display and the window is built all the same.
  explicit TForm1(TVRKData& data, QWidget* parent = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  TVRKData& data() const { return m_data; }

  // miConnect's caption from the mirror read at start, the category list
  // from qrFileCat ("all" first), item 0 selected.
  void FormCreate();
  // Opens the files table; nothing happens when it is open.
  void FormActivate();
  // The search: reads the criteria, runs it over the files and result
  // tables, and shows msg::TotalFiles and the count in status panel 1.
  void Button1Click();

  // The criteria as the controls hold them now.
  SearchCriteria criteria() const;
  // Item index of the category box: the selected item, or the item whose
  // text the edit field holds (compared without case), or -1.
  int categoryIndex() const;

  // Shows the options dialog modally; its result is not used.
  void Options1Click();
  // The options dialog that Options1Click shows (made at start-up).
  void setOptionsDialog(TfrmOptions* dialog) { m_frmOptions = dialog; }

  // The entry download: binds the three transfer relays to this window,
  // fetches VRKDir + "/" + FileName of the result table's current row (the
  // fields looked up by name now) into Download, disconnects Http1, stops
  // and hides the animation and shows msg::Ready in panel 1, or the line
  // naming the downloaded file that was kept because it was not unpacked
  // whole, or the one that says its length is not the catalogue's. A
  // cancelled download ends with the animation hidden and msg::Cancelled.
  void DBGrid2DblClick();
  // Esc and File → "Cancel Transfer" (enabled only while a transfer runs):
  // the data module's CancelTransfer.
  void miCancelTransferClick();

  // The unzip step of a fetch (the data module calls these).
  void UnzipStarted() override;
  void UnzipEnded() override;

  // "Get Database": the catalogue fetched from the mirror and installed
  // (GetDatabase, CatalogueInstall.h) with this window's four transfer
  // indicators bound; the copy animation plays during the copy and status
  // panel 1 shows msg::Ready at the end; cancelled, as for DBGrid2DblClick.
  void miGetDatabaseClick();

  // --- Transfer indicators (relay handlers; Sender is the data module)
  // AVI_1 playing (TAnimate::play); panel 0 msg::Connected;
  // ConnectTick := now.
  void ShowConnected(QObject* Sender);
  // Panel 0 msg::Disconnected; Animate1 hidden, then stopped.
  void ShowDisconnected(QObject* Sender);
  // Panel 1: the progress text (TransferProgress.h), n being Http1's
  // received-bytes counter and rate n * 1000 / elapsed ms since
  // ConnectTick; nothing changes while elapsed is 0. With an announced
  // length, the progress bar in panel 2 (at most ten times a second).
  void ShowProgress(QObject* Sender);
  // Panel 1 := the data module's StatusText.
  void ShowStatusText(QObject* Sender);
  // Binds OnConnect, OnPacketRecvd and OnDisconnect to this window's
  // handlers, and with withStatus OnStatus too (the catalogue download binds
  // all four, the entry download three).
  void bindRelays(bool withStatus);
  // Tick count of the last connect (unsigned 32-bit, wraps).
  std::uint32_t ConnectTick = 0;

  // Components, named as the window's designer names them.
  QMenuBar* MainMenu1;
  QMenu* File1;
  QAction* miGetDatabase;
  QAction* miConnect;
  QAction* miCancelTransfer;
  QAction* Options1;

  QFrame* Panel1;
  QCheckBox* cbDelphi1;
  QCheckBox* cbDelphi2;
  QCheckBox* cbDelphi3;
  QCheckBox* cbDelphi4;
  QCheckBox* cbDelphi5;
  QCheckBox* cbDelphi6;
  QCheckBox* cbC1;
  QCheckBox* cbC3;
  QCheckBox* cbC4;
  QCheckBox* cbC5;
  QCheckBox* cbJ1;
  QCheckBox* cbJ2;
  QCheckBox* cbKylix;
  QCheckBox* cbFreeWare;
  QCheckBox* cbSource;
  QLabel* Label1;
  QComboBox* cbFileCat;
  QLabel* Label2;
  QLineEdit* Edit1;
  QPushButton* Button1;

  QSplitter* Splitter2;  // grid band above, memo below
  QSplitter* Splitter1;  // grid left, detail panel right
  TDBGrid* DBGrid2;
  QFrame* Panel2;
  TDBCheckBox* CheckBox1;
  TDBCheckBox* CheckBox2;
  TDBCheckBox* CheckBox3;
  TDBCheckBox* CheckBox4;
  TDBCheckBox* CheckBox5;
  TDBCheckBox* DBCheckBox1;
  TDBCheckBox* DBCheckBox2;
  TDBCheckBox* CheckBox6;
  TDBCheckBox* CheckBox8;
  TDBCheckBox* CheckBox9;
  TDBCheckBox* CheckBox10;
  TDBCheckBox* CheckBox11;
  TDBCheckBox* CheckBox12;
  TDBCheckBox* CheckBox13;
  TDBCheckBox* CheckBox14;
  TDBMemo* DBMemo1;
  TStatusBar* StatusBar1;
  TAnimate* Animate1;

  // The detail boxes with the yes/no field each shows, top to bottom.
  struct DetailBox {
    TDBCheckBox* box;
    const char* field;
  };
  std::vector<DetailBox> detailBoxes() const;
  // The thirteen tool boxes in the order the search visits them.
  std::vector<QCheckBox*> toolBoxes() const;

 protected:
  bool event(QEvent* event) override;
  // Closing the window ends the program. A transfer that still runs is
  // cancelled, so the handler that waits for it returns and the program ends
  // with its settings written; its cancellation is not shown.
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenu();
  void buildCriteria();
  void buildResults();
  // A box of the detail panel, as the window's design (FormDesign.h) has it.
  TDBCheckBox* detailBox(const char* name);
  // Runs a fetch of the window with "Cancel Transfer" enabled; a cancelled
  // one ends with the animation hidden and msg::Cancelled in panel 1.
  // Returns false when it was cancelled.
  bool runTransfer(const std::function<void()>& fetch);

  TVRKData& m_data;
  TfrmOptions* m_frmOptions = nullptr;
  bool m_closing = false;
  TProgressMeter m_meter;
};

}  // namespace vrk
