#include "Mirrors.h"

#include "Clock.h"
#include "FormLook.h"
#include "Handlers.h"
#include "IniFile.h"
#include "Messages.h"
#include "ScopeExit.h"
#include "TransferProgress.h"

#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

namespace vrk {
namespace {

constexpr TGridColumn kColumns[] = {{"Continent", 122}, {"Country", 94}, {"ProviderName", 377}};

constexpr int kWidth = 644;
constexpr int kHeight = 349;
constexpr int kStatusHeight = 19;
// The test column, and the provider column's place it takes.
constexpr int kTestColumnWidth = 190;
constexpr int kProviderColumn = 2;

}  // namespace

TfrmMirror::TfrmMirror(TVRKData& data, QWidget* parent)
    : QDialog(parent), DataSource1(QStringLiteral("DataSource1"), &data.tbMirrors), m_data(data) {
  setObjectName(QStringLiteral("frmMirror"));
  setWindowTitle(QStringLiteral("Select a Mirror"));
  setFont(dialogFont());
  setFixedSize(kWidth, kHeight);

  DBGrid1 = new TDBGrid(this);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setGeometry(0, 0, 633, 265);
  DBGrid1->setColumns(&DataSource1, kColumns,
                      [this](int column, int designed) { return columnWidth(column, designed); });
  connectHandler(DBGrid1, &TDBGrid::dblClick, this, [this] { DBGrid1DblClick(); });

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(280, 272, 75, 25);
  BitBtn1->setDefault(true);
  connectHandler(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

  btnTestAll = new QPushButton(QStringLiteral("Test all"), this);
  btnTestAll->setObjectName(QStringLiteral("btnTestAll"));
  btnTestAll->setGeometry(8, 272, 75, 25);
  btnTestAll->setAutoDefault(false);
  connectHandler(btnTestAll, &QPushButton::clicked, this, [this] { btnTestAllClick(); });
  btnSelectFastest = new QPushButton(QStringLiteral("Select fastest"), this);
  btnSelectFastest->setObjectName(QStringLiteral("btnSelectFastest"));
  btnSelectFastest->setGeometry(88, 272, 90, 25);
  btnSelectFastest->setAutoDefault(false);
  connectHandler(btnSelectFastest, &QPushButton::clicked, this, [this] { btnSelectFastestClick(); });
  m_probe.onResult = [this](const TProbeResult& r) { testResult(r); };
  m_probe.onFinished = [this] { testFinished(); };

  StatusBar1 = new TStatusBar({150, 250, 50}, this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, kHeight - kStatusHeight, kWidth, kStatusHeight);
}

bool TfrmMirror::event(QEvent* e) {
  if (e->type() == QEvent::Show) centreOnScreen(*this);
  const bool result = QDialog::event(e);
  if (e->type() == QEvent::WindowActivate) runHandler(*this, [this] { FormActivate(); });
  return result;
}

void TfrmMirror::FormActivate() { m_data.tbMirrors.open(); }

QString TfrmMirror::currentUrl() const {
  const QString url = m_data.tbMirrors.fieldByName(QStringLiteral("URL"))->asString();
  // It would become the Mirror setting, which no line break may enter.
  checkNoLineBreak(QStringLiteral("Mirror"), url);
  return url;
}

void TfrmMirror::BitBtn1Click() {
  currentUrl();
  accept();
}

void TfrmMirror::DBGrid1DblClick() {
  // A running download keeps its display and its connection.
  m_data.CheckNoTransferRunning();
  const QString url = currentUrl();
  StatusBar1->setPanelText(0, msg::text(msg::Connecting));
  StatusBar1->setPanelText(1, QString());
  m_data.SetOnConnect(this, [this](QObject* s) { ShowConnected(s); });
  m_data.SetOnPacketRecvd(this, [this](QObject* s) { ShowProgress(s); });
  m_data.SetOnDisconnect(this, [this](QObject* s) { ShowDisconnected(s); });
  m_data.Mirror = url;
  {
    // A try that failed before or after connecting ends disconnected, not
    // stuck on msg::Connecting or msg::Connected.
    auto disconnectedOnError =
        onScopeExit([this] { StatusBar1->setPanelText(0, msg::text(msg::Disconnected)); });
    try {
      m_data.FetchFromMirror(false, m_data.Mirror);
    } catch (const ETransferCancelled&) {
      disconnectedOnError.dismiss();
      StatusBar1->setPanelText(0, msg::text(msg::Disconnected));
      StatusBar1->setPanelText(1, msg::text(msg::Cancelled));
      return;
    }
    disconnectedOnError.dismiss();
  }
  m_data.Http1.Disconnect();
}

int TfrmMirror::columnWidth(int column, int designed) const {
  const int testColumn = DBGrid1->dataModel()->extraColumn();
  if (testColumn < 0) return designed;
  if (column == testColumn) return kTestColumnWidth;
  return column == kProviderColumn ? designed - kTestColumnWidth : designed;
}

QStringList TfrmMirror::mirrorUrls() const {
  QStringList urls;
  const TTable& table = m_data.tbMirrors;
  const TField* url = table.fieldByName(QStringLiteral("URL"));
  for (int row = 0; row < table.recordCount(); ++row) urls << table.rowFieldValue(row, *url).toString();
  urls.removeDuplicates();
  return urls;
}

QVariant TfrmMirror::testCell(int row, int role) const {
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return QVariant();
  const TTable& table = m_data.tbMirrors;
  const TField* field = table.findField(QStringLiteral("URL"));
  if (!field || row >= table.recordCount()) return QVariant();
  const QString url = table.rowFieldValue(row, *field).toString();
  if (m_testing.contains(url)) return msg::text(msg::ProbePending);
  const auto it = m_tested.constFind(url);
  if (it == m_tested.cend()) return QVariant();
  if (role == Qt::ToolTipRole && it->kind != TProbeResult::TKind::Dead)
    return it->outcome + QLatin1Char('\n') + msg::text(msg::ProbeTimes).arg(it->firstByteMs).arg(it->wholeMs);
  return probeCellText(*it);
}

void TfrmMirror::btnTestAllClick() {
  if (m_probe.running()) throw Exception(msg::text(msg::ProbeRunning));
  m_data.tbMirrors.open();
  const TProbeConnection connection = probeConnection(m_data, m_data.Http1.TimeOut(), ProbeBound);
  const QStringList urls = mirrorUrls();
  m_probe.start(urls, connection);
  m_testing = QSet<QString>(urls.cbegin(), urls.cend());
  m_tested.clear();
  TDataSetModel* model = DBGrid1->dataModel();
  if (model->extraColumn() < 0)
    model->setExtraColumn(QStringLiteral("Test"), [this](int row, int role) { return testCell(row, role); });
  model->extraColumnChanged();
  btnTestAll->setEnabled(false);
  StatusBar1->setPanelText(0, msg::text(msg::ProbeTesting).arg(urls.size()));
  StatusBar1->setPanelText(1, QString());
}

void TfrmMirror::testResult(const TProbeResult& result) {
  m_testing.remove(result.url);
  m_tested.insert(result.url, result);
  DBGrid1->dataModel()->extraColumnChanged();
  const auto works = std::count_if(m_tested.cbegin(), m_tested.cend(), [](const TProbeResult& r) {
    return r.kind == TProbeResult::TKind::Usable;
  });
  StatusBar1->setPanelText(1, msg::text(msg::ProbeTested).arg(works).arg(m_tested.size() + m_testing.size()));
}

void TfrmMirror::testFinished() {
  btnTestAll->setEnabled(true);
  StatusBar1->setPanelText(0, msg::text(msg::ProbeDone).arg(m_tested.size()));
}

void TfrmMirror::btnSelectFastestClick() {
  const TProbeResult* best = fastestUsable(m_probe.results());
  TTable& table = m_data.tbMirrors;
  const TField* url = best && table.active() ? table.findField(QStringLiteral("URL")) : nullptr;
  for (int row = 0; url && row < table.recordCount(); ++row) {
    if (table.rowFieldValue(row, *url).toString() == best->url) {
      table.setRecNo(row + 1);
      return;
    }
  }
  throw Exception(msg::text(msg::ProbeNoneWorks));
}

void TfrmMirror::keyPressEvent(QKeyEvent* e) {
  // Esc ends a running try; only without one does it close the dialog.
  if (e->key() == Qt::Key_Escape && m_data.TransferRunning()) {
    m_data.CancelTransfer();
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void TfrmMirror::closeEvent(QCloseEvent* e) {
  m_data.CancelTransfer();
  QDialog::closeEvent(e);
}

void TfrmMirror::ShowConnected(QObject*) {
  StatusBar1->setPanelText(0, msg::text(msg::Connected));
  ConnectTick = TickClock::now();
}

void TfrmMirror::ShowProgress(QObject*) {
  if (const auto text = progressText(m_data.Http1.ReceivedBytes(), ConnectTick, TickClock::now()))
    StatusBar1->setPanelText(1, *text, false);
}

void TfrmMirror::ShowDisconnected(QObject*) { StatusBar1->setPanelText(0, msg::text(msg::Disconnected)); }

}  // namespace vrk
