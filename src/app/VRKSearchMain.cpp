#include "VRKSearchMain.h"

#include "Clock.h"
#include "FilterText.h"
#include "FormDesign.h"
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

#include <stdexcept>

namespace vrk {
namespace {

// The grid's columns: field and width in pixels.
constexpr TGridColumn kGridColumns[] = {
    {"FileName", 203}, {"FileVersion", 56}, {"Created", 68}, {"Changed", 69}, {"FileSize", 53}};

constexpr int kFormWidth = 664;
constexpr int kFormHeight = 601;
constexpr int kAnimateTop = 192;
constexpr int kBoxHeight = 17;

// The design's entry for a control.
template <class Control, std::size_t N>
const Control& designOf(const Control (&table)[N], const char* name) {
  for (const Control& c : table) {
    if (qstrcmp(c.name, name) == 0) return c;
  }
  throw std::logic_error("no control of that name in the window's design");
}

// A control of the criteria panel, named, captioned and placed as the
// design says.
template <class W>
W* criteriaControl(QWidget* panel, const char* name) {
  const TCriteriaControl& d = designOf(kCriteriaPanel, name);
  auto* w = new W(panel);
  w->setObjectName(QLatin1String(d.name));
  if constexpr (requires { w->setText(QString()); }) {
    if (d.caption) w->setText(QString::fromUtf8(d.caption));
  }
  w->move(d.left, d.top);
  const QSize natural = w->sizeHint();
  w->resize(d.width ? d.width : natural.width(), d.height ? d.height : natural.height());
  return w;
}

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

void TForm1::buildCriteria() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setFixedHeight(129);

  cbDelphi1 = criteriaControl<QCheckBox>(Panel1, "cbDelphi1");
  cbDelphi2 = criteriaControl<QCheckBox>(Panel1, "cbDelphi2");
  cbDelphi3 = criteriaControl<QCheckBox>(Panel1, "cbDelphi3");
  cbDelphi4 = criteriaControl<QCheckBox>(Panel1, "cbDelphi4");
  cbDelphi5 = criteriaControl<QCheckBox>(Panel1, "cbDelphi5");
  cbDelphi6 = criteriaControl<QCheckBox>(Panel1, "cbDelphi6");
  cbC1 = criteriaControl<QCheckBox>(Panel1, "cbC1");
  cbC3 = criteriaControl<QCheckBox>(Panel1, "cbC3");
  cbC4 = criteriaControl<QCheckBox>(Panel1, "cbC4");
  cbC5 = criteriaControl<QCheckBox>(Panel1, "cbC5");
  cbJ1 = criteriaControl<QCheckBox>(Panel1, "cbJ1");
  cbJ2 = criteriaControl<QCheckBox>(Panel1, "cbJ2");
  cbKylix = criteriaControl<QCheckBox>(Panel1, "cbKylix");
  cbFreeWare = criteriaControl<QCheckBox>(Panel1, "cbFreeWare");
  cbSource = criteriaControl<QCheckBox>(Panel1, "cbSource");
  Label1 = criteriaControl<QLabel>(Panel1, "Label1");
  cbFileCat = criteriaControl<QComboBox>(Panel1, "cbFileCat");
  cbFileCat->setEditable(true);
  // Typed text never becomes an item.
  cbFileCat->setInsertPolicy(QComboBox::NoInsert);
  Label2 = criteriaControl<QLabel>(Panel1, "Label2");
  Edit1 = criteriaControl<QLineEdit>(Panel1, "Edit1");
  Button1 = criteriaControl<QPushButton>(Panel1, "Button1");
  // Not the default button: Enter in Edit1 starts no search.
  Button1->setAutoDefault(false);
  Button1->setDefault(false);
  connectHandler(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  std::vector<QWidget*> tabOrder;
  for (const TCriteriaControl& c : kCriteriaPanel) {
    if (c.tab < 0) continue;
    if (tabOrder.size() <= static_cast<std::size_t>(c.tab)) tabOrder.resize(c.tab + 1);
    tabOrder[c.tab] = Panel1->findChild<QWidget*>(QLatin1String(c.name), Qt::FindDirectChildrenOnly);
  }
  setTabChain(tabOrder);
}

TDBCheckBox* TForm1::detailBox(const char* name) {
  const TDetailControl& d = designOf(kDetailPanel, name);
  auto* box = new TDBCheckBox(QString::fromUtf8(d.caption), Panel2);
  box->setObjectName(QLatin1String(d.name));
  box->setGeometry(kDetailLeft, d.top, kDetailWidth, kBoxHeight);
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
  CheckBox1 = detailBox("CheckBox1");
  CheckBox2 = detailBox("CheckBox2");
  CheckBox3 = detailBox("CheckBox3");
  CheckBox4 = detailBox("CheckBox4");
  CheckBox5 = detailBox("CheckBox5");
  DBCheckBox1 = detailBox("DBCheckBox1");
  DBCheckBox2 = detailBox("DBCheckBox2");
  CheckBox6 = detailBox("CheckBox6");
  CheckBox8 = detailBox("CheckBox8");
  CheckBox9 = detailBox("CheckBox9");
  CheckBox10 = detailBox("CheckBox10");
  CheckBox11 = detailBox("CheckBox11");
  CheckBox12 = detailBox("CheckBox12");
  CheckBox13 = detailBox("CheckBox13");
  CheckBox14 = detailBox("CheckBox14");

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
  std::vector<DetailBox> boxes;
  for (const TDetailControl& d : kDetailPanel)
    boxes.push_back({Panel2->findChild<TDBCheckBox*>(QLatin1String(d.name)), d.field});
  return boxes;
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
