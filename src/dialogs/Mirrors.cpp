#include "Mirrors.h"

#include "Clock.h"
#include "ErrorDisplay.h"
#include "FormLook.h"
#include "IniFile.h"
#include "Messages.h"
#include "TransferProgress.h"

#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QStyle>

namespace vrk {
namespace {

struct GridColumn {
  const char* field;
  int width;
};
constexpr GridColumn kColumns[] = {{"Continent", 122}, {"Country", 94}, {"ProviderName", 377}};

constexpr int kWidth = 644;
constexpr int kHeight = 349;
constexpr int kStatusHeight = 19;

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
  QStringList columns;
  for (const GridColumn& c : kColumns) columns << QString::fromLatin1(c.field);
  DBGrid1->setDataSource(&DataSource1, columns);
  auto widths = [this] {
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
      if (i < DBGrid1->model()->columnCount()) DBGrid1->setColumnWidth(i, kColumns[i].width);
  };
  connect(DBGrid1->dataModel(), &QAbstractItemModel::modelReset, this, widths);
  widths();
  connect(DBGrid1, &TDBGrid::dblClick, this, [this] { ErrorDisplay::guard([this] { DBGrid1DblClick(); }); });

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(280, 272, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { ErrorDisplay::guard([this] { BitBtn1Click(); }); });

  StatusBar1 = new TStatusBar({150, 250, 50}, this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, kHeight - kStatusHeight, kWidth, kStatusHeight);
}

bool TfrmMirror::event(QEvent* e) {
  if (e->type() == QEvent::Show) centreOnScreen(*this);
  const bool result = QDialog::event(e);
  if (e->type() == QEvent::WindowActivate) ErrorDisplay::guard([this] { FormActivate(); });
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
  try {
    m_data.FetchFromMirror(false, m_data.Mirror);
  } catch (const ETransferCancelled&) {
    StatusBar1->setPanelText(0, msg::text(msg::Disconnected));
    StatusBar1->setPanelText(1, msg::text(msg::Cancelled));
    return;
  } catch (...) {
    // A try that failed before or after connecting ends disconnected, not
    // stuck on msg::Connecting or msg::Connected.
    StatusBar1->setPanelText(0, msg::text(msg::Disconnected));
    throw;
  }
  m_data.Http1.Disconnect();
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
