#include "OptionsPage.h"

#include "FormLook.h"
#include "Handlers.h"
#include "IniFile.h"
#include "Mirrors.h"

#include <QEvent>

#include <algorithm>

namespace vrk {
namespace {

constexpr int kWidth = 338;
constexpr int kHeight = 390;
constexpr int kLineHeight = 17;
constexpr int kEditHeight = 21;

}  // namespace

TfrmOptions::TfrmOptions(TVRKData& data, QWidget* parent) : QDialog(parent), m_data(data) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowTitle(QStringLiteral("Options"));
  setFont(dialogFont());
  setFixedSize(kWidth, kHeight);

  Label1 = label("Label1", "Mirror :", 40, 8);
  Label2 = label("Label2", "Label2", 80, 8);
  Label3 = label("Label3", "Host :", 44, 28);
  Edit1 = edit("Edit1", "", 80, 24, 121);
  CheckBox1 = box("CheckBox1", "Use Proxy", 80, 48, 97);
  Label4 = label("Label4", "Proxy :", 56, 76);
  Edit2 = edit("Edit2", "localhost", 96, 72, 121);
  Label5 = label("Label5", "ProxyPort :", 37, 100);
  Edit3 = edit("Edit3", "8080", 96, 96, 121);
  CheckBox2 = box("CheckBox2", "Ask before Connect", 80, 120, 137);
  CheckBox3 = box("CheckBox3", "Unzip download", 80, 144, 137);
  CheckBox4 = box("CheckBox4", "Delete Zip-file after unzip", 96, 168, 145);
  CheckBox5 = box("CheckBox5", "Ask before overwrite Database", 80, 192, 177);

  // The mirror line grows with its URL and takes double clicks.
  Label2->setMinimumWidth(kWidth - 80 - 8);
  Label2->installEventFilter(this);

  setTabChain({Edit1, Edit2, Edit3, CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5});

  connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
  connect(CheckBox3, &QCheckBox::toggled, this, [this] { CheckBox3Click(); });
}

QLabel* TfrmOptions::label(const char* name, const char* caption, int left, int top) {
  auto* l = new QLabel(QString::fromUtf8(caption), this);
  l->setObjectName(QString::fromLatin1(name));
  l->setTextFormat(Qt::PlainText);
  l->move(left, top);
  l->adjustSize();
  return l;
}

QLineEdit* TfrmOptions::edit(const char* name, const char* text, int left, int top, int width) {
  auto* e = new QLineEdit(QString::fromUtf8(text), this);
  e->setObjectName(QString::fromLatin1(name));
  e->setGeometry(left, top, width, kEditHeight);
  return e;
}

QCheckBox* TfrmOptions::box(const char* name, const char* caption, int left, int top, int width) {
  auto* b = new QCheckBox(QString::fromUtf8(caption), this);
  b->setObjectName(QString::fromLatin1(name));
  // The designed width, or wider where the font that stands in for the
  // dialog font needs a few pixels more for the caption.
  b->setGeometry(left, top, std::max(width, b->sizeHint().width()), kLineHeight);
  return b;
}

bool TfrmOptions::event(QEvent* e) {
  // Showing the dialog loads it, whether or not the window system then makes
  // it active. Coming back from the mirror dialog shows nothing, and a
  // restore from the task bar is a show of the window system's own, so the
  // user's edits stay.
  if (e->type() == QEvent::Show && !e->spontaneous()) {
    centreOnScreen(*this);
    runHandler(*this, [this] { FormActivate(); });
  }
  return QDialog::event(e);
}

bool TfrmOptions::eventFilter(QObject* watched, QEvent* e) {
  if (watched == Label2 && e->type() == QEvent::MouseButtonDblClick) {
    runHandler(*this, [this] { Label2DblClick(); });
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

void TfrmOptions::FormActivate() {
  Label2->setText(m_data.Mirror);
  Edit1->setText(m_data.Host);
  Edit2->setText(m_data.Proxy);
  Edit3->setText(m_data.Proxyport);
  CheckBox1->setChecked(m_data.UseProxy);
  CheckBox2->setChecked(m_data.AskConnect);
  CheckBox3->setChecked(m_data.UnzipFile);
  CheckBox4->setChecked(m_data.DeleteUnzip);
  // Ticked: the program asks before overwriting, so OverwriteData is off.
  CheckBox5->setChecked(!m_data.OverwriteData);
  CheckBox1Click();
  CheckBox3Click();
}

void TfrmOptions::CheckBox1Click() {
  Edit2->setEnabled(CheckBox1->isChecked());
  Edit3->setEnabled(CheckBox1->isChecked());
}

void TfrmOptions::CheckBox3Click() { CheckBox4->setEnabled(CheckBox3->isChecked()); }

void TfrmOptions::FormClose() {
  m_data.Mirror = Label2->text();
  m_data.Host = Edit1->text();
  m_data.Proxy = Edit2->text();
  m_data.Proxyport = Edit3->text();
  m_data.UseProxy = CheckBox1->isChecked();
  m_data.AskConnect = CheckBox2->isChecked();
  m_data.UnzipFile = CheckBox3->isChecked();
  m_data.DeleteUnzip = CheckBox4->isChecked();
  m_data.OverwriteData = !CheckBox5->isChecked();
  if (!m_data.TransferRunning()) m_data.Http1.Disconnect();
}

void TfrmOptions::CheckValues() const {
  checkNoLineBreak(QStringLiteral("Mirror"), Label2->text());
  checkNoLineBreak(QStringLiteral("Host"), Edit1->text());
  checkNoLineBreak(QStringLiteral("Proxy"), Edit2->text());
  checkNoLineBreak(QStringLiteral("Proxyport"), Edit3->text());
}

void TfrmOptions::done(int result) {
  if (isVisible()) {
    // A refused value keeps the dialog open, for the user to mend.
    if (!runHandler(*this, [this] { CheckValues(); })) return;
    runHandler(*this, [this] { FormClose(); });
  }
  QDialog::done(result);
}

void TfrmOptions::Label2DblClick() {
  if (!m_mirrorDialog) return;
  if (m_mirrorDialog->exec() == QDialog::Accepted)
    Label2->setText(m_data.tbMirrors.fieldByName(QStringLiteral("URL"))->asString());
}

}  // namespace vrk
