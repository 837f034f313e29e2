#include "VRKSearchMain.h"

#include "Clock.h"
#include "FilterText.h"
#include "FormLook.h"
#include "Handlers.h"
#include "Messages.h"
#include "OptionsPage.h"
#include "ScopeExit.h"
#include "Search.h"
#include "TransferProgress.h"
#include "VRKSearchData.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace vrk {
namespace {

// The grid's columns: field and width in pixels.
constexpr TGridColumn kGridColumns[] = {
    {"FileName", 203}, {"FileVersion", 56}, {"Created", 68}, {"Changed", 69}, {"FileSize", 53}};

constexpr int kFormWidth = 664;
constexpr int kFormHeight = 601;
constexpr int kAnimateTop = 192;
constexpr int kBoxHeight = 17;

}  // namespace

TForm1::TForm1(TVRKData& data, QWidget* parent) : QMainWindow(parent), m_data(data) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setFont(dialogFont());

  buildMenu();
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(central);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  buildCriteria();
  buildResults();
  layout->addWidget(Panel1);
  layout->addWidget(Splitter2, 1);

  StatusBar1 = new TStatusBar({150, 250, 50}, this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(19);
  setStatusBar(StatusBar1);

  // The animation floats over the grid, outside every layout.
  Animate1 = new TAnimate(central);
  Animate1->setObjectName(QStringLiteral("Animate1"));
  Animate1->setGeometry(0, kAnimateTop, 272, 60);
  Animate1->hide();
  Animate1->raise();

  resize(kFormWidth, kFormHeight);

  connectHandler(DBGrid2, &TDBGrid::dblClick, this, [this] { DBGrid2DblClick(); });
  m_data.SetUnzipDisplay(this);

  runHandler(*this, [this] { FormCreate(); });
}

TForm1::~TForm1() {
  if (m_data.UnzipDisplay() == this) m_data.SetUnzipDisplay(nullptr);
}

void TForm1::FormCreate() {
  miConnect->setText(msg::text(msg::ConnectTo) + m_data.Mirror);
  cbFileCat->addItem(QStringLiteral("all"));
  // The first item of an empty combo box selects itself; nothing is
  // selected until the list is complete.
  cbFileCat->setCurrentIndex(-1);
  TQuery& q = m_data.qrFileCat;
  q.open();
  q.first();
  TField* name = q.fieldByName(QStringLiteral("FILECATNAME"));
  while (!q.eof()) {
    cbFileCat->addItem(name->asString());
    q.next();
  }
  q.close();
  cbFileCat->setCurrentIndex(0);
}

void TForm1::FormActivate() { m_data.tbFiles.open(); }

void TForm1::Button1Click() {
  const SearchResult result = search(m_data.tbFiles, m_data.mtFiles, criteria());
  StatusBar1->setPanelText(1, totalFilesText(result.total));
}

bool TForm1::event(QEvent* e) {
  const bool result = QMainWindow::event(e);
  if (e->type() == QEvent::WindowActivate) runHandler(*this, [this] { FormActivate(); });
  return result;
}

void TForm1::closeEvent(QCloseEvent* e) {
  m_closing = true;
  m_data.CancelTransfer();
  QMainWindow::closeEvent(e);
}

void TForm1::buildMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  File1 = MainMenu1->addMenu(QStringLiteral("File"));
  File1->setObjectName(QStringLiteral("File1"));
  miGetDatabase = File1->addAction(QStringLiteral("Get Database"));
  miGetDatabase->setObjectName(QStringLiteral("miGetDatabase"));
  connectHandler(miGetDatabase, &QAction::triggered, this, [this] { miGetDatabaseClick(); });
  // Its caption is set when the window is created; it has no action.
  miConnect = File1->addAction(QString());
  miConnect->setObjectName(QStringLiteral("miConnect"));
  miCancelTransfer = File1->addAction(msg::text(msg::CancelTransfer));
  miCancelTransfer->setObjectName(QStringLiteral("miCancelTransfer"));
  miCancelTransfer->setShortcut(QKeySequence(Qt::Key_Escape));
  miCancelTransfer->setEnabled(false);
  connectHandler(miCancelTransfer, &QAction::triggered, this, [this] { miCancelTransferClick(); });
  Options1 = MainMenu1->addAction(QStringLiteral("Options"));
  Options1->setObjectName(QStringLiteral("Options1"));
  connectHandler(Options1, &QAction::triggered, this, [this] { Options1Click(); });
}

QCheckBox* TForm1::criteriaBox(const char* name, const char* caption, int left, int top) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), Panel1);
  box->setObjectName(QString::fromLatin1(name));
  // As wide as the column allows: columns start at 8, 96, 192 and 288, the
  // category box at 376.
  const int width = (left == 96 || left == 192) ? 96 : 88;
  box->setGeometry(left, top, width, kBoxHeight);
  return box;
}

void TForm1::buildCriteria() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setFixedHeight(129);

  cbDelphi1 = criteriaBox("cbDelphi1", "Delphi 1", 8, 8);
  cbDelphi2 = criteriaBox("cbDelphi2", "Delphi 2", 8, 24);
  cbDelphi3 = criteriaBox("cbDelphi3", "Delphi 3", 8, 40);
  cbDelphi4 = criteriaBox("cbDelphi4", "Delphi 4", 8, 56);
  cbDelphi5 = criteriaBox("cbDelphi5", "Delphi 5", 8, 72);
  cbDelphi6 = criteriaBox("cbDelphi6", "Delphi 6", 8, 88);
  cbC1 = criteriaBox("cbC1", "C++ Builder 1", 96, 8);
  cbC3 = criteriaBox("cbC3", "C++ Builder 3", 96, 40);
  cbC4 = criteriaBox("cbC4", "C++ Builder 4", 96, 56);
  cbC5 = criteriaBox("cbC5", "C++ Builder 5", 96, 72);
  cbJ1 = criteriaBox("cbJ1", "J Builder 1", 192, 8);
  cbJ2 = criteriaBox("cbJ2", "J Builder 2", 192, 24);
  cbKylix = criteriaBox("cbKylix", "Kylix", 192, 48);
  cbFreeWare = criteriaBox("cbFreeWare", "Freeware", 288, 8);
  cbSource = criteriaBox("cbSource", "with Source", 288, 24);

  Label1 = new QLabel(QStringLiteral("File-Categorie"), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(376, 8);
  Label1->adjustSize();

  cbFileCat = new QComboBox(Panel1);
  cbFileCat->setObjectName(QStringLiteral("cbFileCat"));
  cbFileCat->setEditable(true);
  // Typed text never becomes an item.
  cbFileCat->setInsertPolicy(QComboBox::NoInsert);
  cbFileCat->setGeometry(376, 20, 217, 21);

  Label2 = new QLabel(QStringLiteral("Text to search :"), Panel1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->move(272, 64);
  Label2->adjustSize();

  Edit1 = new QLineEdit(Panel1);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(272, 84, 321, 21);

  Button1 = new QPushButton(QStringLiteral("submit"), Panel1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(188, 80, 75, 25);
  // Not the default button: Enter in Edit1 starts no search.
  Button1->setAutoDefault(false);
  Button1->setDefault(false);
  connectHandler(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  // Tab order 0 … 17.
  setTabChain({cbDelphi1, cbDelphi2, cbDelphi3, cbDelphi4, cbDelphi5, cbC1, cbC3, cbC4, cbC5, Button1, cbJ1,
               cbJ2, cbFreeWare, cbSource, cbFileCat, Edit1, cbDelphi6, cbKylix});
}

TDBCheckBox* TForm1::detailBox(const char* name, const char* caption, int top) {
  auto* box = new TDBCheckBox(QString::fromUtf8(caption), Panel2);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(7, top, 90, kBoxHeight);
  // Read-only: shows the field, the user cannot change it.
  box->setReadOnly(true);
  box->setValueChecked(trueWord());
  box->setValueUnchecked(falseWord());
  return box;
}

void TForm1::buildResults() {
  Splitter2 = new QSplitter(Qt::Vertical, this);
  Splitter2->setObjectName(QStringLiteral("Splitter2"));
  Splitter2->setHandleWidth(3);
  Splitter2->setChildrenCollapsible(false);

  Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(3);
  Splitter1->setChildrenCollapsible(false);

  DBGrid2 = new TDBGrid(Splitter1);
  DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
  // The grid's hint; hints are switched off in this window, so it is kept,
  // not shown.
  DBGrid2->setProperty("Hint", QStringLiteral("Double click to download"));

  Panel2 = new QFrame(Splitter1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameShape(QFrame::Panel);
  Panel2->setFrameShadow(QFrame::Raised);
  CheckBox1 = detailBox("CheckBox1", "Delphi 1", 8);
  CheckBox2 = detailBox("CheckBox2", "Delphi 2", 24);
  CheckBox3 = detailBox("CheckBox3", "Delphi 3", 40);
  CheckBox4 = detailBox("CheckBox4", "Delphi 4", 56);
  CheckBox5 = detailBox("CheckBox5", "Delphi 5", 72);
  DBCheckBox1 = detailBox("DBCheckBox1", "Delphi 6", 88);
  DBCheckBox2 = detailBox("DBCheckBox2", "Kylix", 112);
  CheckBox6 = detailBox("CheckBox6", "C++ Builder 1", 136);
  CheckBox8 = detailBox("CheckBox8", "C++ Builder 3", 152);
  CheckBox9 = detailBox("CheckBox9", "C++ Builder 4", 168);
  CheckBox10 = detailBox("CheckBox10", "C++ Builder 5", 184);
  CheckBox11 = detailBox("CheckBox11", "J Builder 1", 208);
  CheckBox12 = detailBox("CheckBox12", "J Builder 2", 224);
  CheckBox13 = detailBox("CheckBox13", "Freeware", 248);
  CheckBox14 = detailBox("CheckBox14", "with Source", 264);

  Splitter1->addWidget(DBGrid2);
  Splitter1->addWidget(Panel2);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);

  DBMemo1 = new TDBMemo(Splitter2);
  DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
  Splitter2->addWidget(Splitter1);
  Splitter2->addWidget(DBMemo1);
  Splitter2->setStretchFactor(0, 1);
  Splitter2->setStretchFactor(1, 0);

  // Start sizes: the detail panel 160 wide, the memo 92 high; the grid takes
  // the rest.
  Splitter1->setSizes({kFormWidth - 160 - 3, 160});
  Splitter2->setSizes({kFormHeight, 92});

  // Everything in the result band follows the result table.
  DBGrid2->setColumns(&m_data.DataSource1, kGridColumns);
  for (const DetailBox& d : detailBoxes()) {
    d.box->setDataSource(&m_data.DataSource1);
    d.box->setDataField(QString::fromLatin1(d.field));
  }
  DBMemo1->setDataSource(&m_data.DataSource1);
  DBMemo1->setDataField(QStringLiteral("Description"));
}

std::vector<TForm1::DetailBox> TForm1::detailBoxes() const {
  return {{CheckBox1, "D10"},  {CheckBox2, "D20"},   {CheckBox3, "D30"},        {CheckBox4, "D40"},
          {CheckBox5, "D50"},  {DBCheckBox1, "D60"}, {DBCheckBox2, "K10"},      {CheckBox6, "C10"},
          {CheckBox8, "C30"},  {CheckBox9, "C40"},   {CheckBox10, "C50"},       {CheckBox11, "J10"},
          {CheckBox12, "J20"}, {CheckBox13, "Free"}, {CheckBox14, "WithSource"}};
}

std::vector<QCheckBox*> TForm1::toolBoxes() const {
  return {cbDelphi1, cbDelphi2, cbDelphi3, cbDelphi4, cbDelphi5, cbDelphi6, cbC1,
          cbC3,      cbC4,      cbC5,      cbJ1,      cbJ2,      cbKylix};
}

int TForm1::categoryIndex() const {
  const int current = cbFileCat->currentIndex();
  const QString text = cbFileCat->currentText();
  if (current >= 0 && cbFileCat->itemText(current) == text) return current;
  return cbFileCat->findText(text, Qt::MatchFixedString);
}

SearchCriteria TForm1::criteria() const {
  SearchCriteria c;
  const auto boxes = toolBoxes();
  for (std::size_t i = 0; i < boxes.size(); ++i) c.tools[i] = boxes[i]->isChecked();
  c.freeware = cbFreeWare->isChecked();
  c.withSource = cbSource->isChecked();
  c.category = categoryIndex();
  c.text = Edit1->text();
  return c;
}

void TForm1::Options1Click() {
  if (m_frmOptions) m_frmOptions->exec();
}

void TForm1::DBGrid2DblClick() {
  // Refused before the relays move, so a running transfer keeps its display.
  m_data.CheckNoTransferRunning();
  bindRelays(false);
  const TDataSet& results = m_data.mtFiles;
  const QString path = results.fieldByName(QStringLiteral("VRKDir"))->asString() + QLatin1Char('/') +
                       results.fieldByName(QStringLiteral("FileName"))->asString();
  const qint64 catalogueSize = results.fieldByName(QStringLiteral("FileSize"))->asInteger();
  TFetchResult fetched;
  if (!runTransfer([&] { fetched = m_data.FetchFromMirror(true, path, catalogueSize); })) return;
  m_data.Http1.Disconnect();
  // A file that was not unpacked whole is kept: the panel says which and why
  // in place of msg::Ready; a length that is not the catalogue's is said
  // there too.
  const QString last = !fetched.keptLine.isEmpty()   ? fetched.keptLine
                       : !fetched.sizeLine.isEmpty() ? fetched.sizeLine
                                                     : msg::text(msg::Ready);
  StatusBar1->setPanelText(1, last);
}

void TForm1::miCancelTransferClick() { m_data.CancelTransfer(); }

bool TForm1::runTransfer(const std::function<void()>& fetch) {
  miCancelTransfer->setEnabled(true);
  // However the transfer ends, nothing is left to cancel and the animation
  // is hidden and stopped.
  const auto ended = onScopeExit([this] {
    miCancelTransfer->setEnabled(false);
    Animate1->stop();
  });
  try {
    fetch();
  } catch (const ETransferCancelled&) {
    StatusBar1->hideProgress();
    if (!m_closing) StatusBar1->setPanelText(1, msg::text(msg::Cancelled));
    return false;
  }
  return true;
}

void TForm1::UnzipStarted() {
  // The transfer is over; the unpacking is no transfer to cancel.
  miCancelTransfer->setEnabled(false);
  Animate1->play(QStringLiteral("AVI_2"));
  StatusBar1->setPanelText(1, msg::text(msg::UnzipingFile));
}

void TForm1::UnzipEnded() { Animate1->stop(); }

void TForm1::ShowConnected(QObject*) {
  Animate1->play(QStringLiteral("AVI_1"));
  StatusBar1->setPanelText(0, msg::text(msg::Connected));
  ConnectTick = TickClock::now();
  StatusBar1->hideProgress();
  m_meter.start(ConnectTick);
}

void TForm1::ShowDisconnected(QObject*) {
  StatusBar1->setPanelText(0, msg::text(msg::Disconnected));
  Animate1->stop();
  StatusBar1->hideProgress();
}

void TForm1::ShowProgress(QObject*) {
  const THttpClient& http = m_data.Http1;
  const std::uint32_t now = TickClock::now();
  if (const auto text = progressText(http.ReceivedBytes(), ConnectTick, now))
    StatusBar1->setPanelText(1, *text, false);
  if (const auto view = m_meter.update(http.BodyOffset() + http.ReceivedBytes(), http.BodyTotal(), now))
    StatusBar1->showProgress(2, view->percent, view->text);
}

void TForm1::ShowStatusText(QObject*) { StatusBar1->setPanelText(1, m_data.StatusText()); }

void TForm1::bindRelays(bool withStatus) {
  if (withStatus) m_data.SetOnStatus(this, [this](QObject* sender) { ShowStatusText(sender); });
  m_data.SetOnConnect(this, [this](QObject* sender) { ShowConnected(sender); });
  m_data.SetOnPacketRecvd(this, [this](QObject* sender) { ShowProgress(sender); });
  m_data.SetOnDisconnect(this, [this](QObject* sender) { ShowDisconnected(sender); });
}

}  // namespace vrk
