#include "DataSet.h"

#include "Messages.h"

#include <QDate>

#include <algorithm>

namespace vrk {

bool isBlobType(TFieldType t) { return t >= TFieldType::ftBlob && t <= TFieldType::ftTypedBinary; }

bool isTextType(TFieldType t) {
  return t == TFieldType::ftString || t == TFieldType::ftFixedChar || t == TFieldType::ftWideString;
}

bool isStorableType(TFieldType t) {
  switch (t) {
    case TFieldType::ftUnknown:
    case TFieldType::ftCursor:
    case TFieldType::ftArray:
    case TFieldType::ftReference:
    case TFieldType::ftDataSet: return false;
    default: return true;
  }
}

QString trueWord() { return QStringLiteral("Wahr"); }
QString falseWord() { return QStringLiteral("Falsch"); }

QString isoDateText(QDate date) {
  int y = 0, m = 0, d = 0;
  date.getDate(&y, &m, &d);
  // Years outside four digits (and the invalid date) take the general way.
  if (!date.isValid() || y < 1 || y > 9999) return date.toString(Qt::ISODate);
  const auto digit = [](int n) { return QChar(u'0' + n % 10); };
  const QChar text[10] = {digit(y / 1000), digit(y / 100), digit(y / 10),    digit(y),      QLatin1Char('-'),
                          digit(m / 10),   digit(m),       QLatin1Char('-'), digit(d / 10), digit(d)};
  return QString(text, 10);
}

// --- TField -------------------------------------------------------------------

TField::TField(TDataSet* dataSet, QString fieldName, TFieldType dataType, int size, bool required,
               TFieldKind kind)
    : m_dataSet(dataSet),
      m_name(std::move(fieldName)),
      m_type(dataType),
      m_size(size),
      m_required(required),
      m_kind(kind) {}

QVariant TField::value() const { return m_dataSet->getFieldValue(*this); }

void TField::setValue(const QVariant& v) { m_dataSet->setFieldValue(*this, v); }

bool TField::isNull() const {
  const QVariant v = value();
  if (v.isNull()) return true;
  if (isBlob() || isTextType(m_type)) return v.toString().isEmpty();
  return false;
}

QString TField::asString() const {
  QVariant v = value();
  if (v.isNull()) return QString();
  if (m_type == TFieldType::ftBoolean) return v.toBool() ? trueWord() : falseWord();
  if (m_type == TFieldType::ftDate) return isoDateText(v.toDate());
  // The two kinds a walk reads most, taken out of the variant directly
  // rather than through the general conversion (same texts).
  switch (v.typeId()) {
    case QMetaType::QString: return std::move(*static_cast<QString*>(v.data()));
    case QMetaType::Int: return QString::number(*static_cast<const int*>(v.constData()));
    default: return v.toString();
  }
}

void TField::setAsString(const QString& s) {
  if (s.isEmpty()) {
    clear();
    return;
  }
  switch (m_type) {
    case TFieldType::ftBoolean:
      if (s.compare(trueWord(), Qt::CaseInsensitive) == 0)
        setValue(true);
      else if (s.compare(falseWord(), Qt::CaseInsensitive) == 0)
        setValue(false);
      else
        throw EDatabaseError(msg::text(msg::InvalidBooleanForField).arg(s, m_name));
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc: {
      bool ok = false;
      const int i = s.trimmed().toInt(&ok);
      if (!ok) throw EConvertError(msg::text(msg::InvalidInteger).arg(s));
      setValue(i);
      return;
    }
    case TFieldType::ftDate: {
      const QDate d = QDate::fromString(s, Qt::ISODate);
      if (!d.isValid()) throw EConvertError(msg::text(msg::InvalidDate).arg(s));
      setValue(d);
      return;
    }
    default: setValue(s);
  }
}

bool TField::asBoolean() const {
  const QVariant v = value();
  return v.isNull() ? false : v.toBool();
}

int TField::asInteger() const {
  const QVariant v = value();
  return v.isNull() ? 0 : v.toInt();
}

// --- TDataSet -----------------------------------------------------------------

TDataSet::TDataSet(QString name) : m_name(std::move(name)) {}

TDataSet::~TDataSet() = default;

TField* TDataSet::findField(const QString& name) const {
  // Names within one data set differ in more than letter case, so an exact
  // match is the match. Callers mostly pass names exactly as the fields
  // carry them (a bulk copy looks up every field of each row it copies), and
  // the exact test is much cheaper than the case-insensitive one.
  for (const auto& f : m_fields) {
    if (f->fieldName() == name) return f.get();
  }
  for (const auto& f : m_fields) {
    if (f->fieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
  }
  return nullptr;
}

TField* TDataSet::fieldByName(const QString& name) const {
  TField* f = findField(name);
  if (!f) databaseError(m_name + QStringLiteral(": ") + msg::text(msg::FieldNotFound).arg(name));
  return f;
}

void TDataSet::checkBrowseMode() {
  switch (m_state) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      if (m_modified)
        post();
      else
        cancel();
      break;
    case TDataSetState::dsSetKey: post(); break;
    case TDataSetState::dsInactive: databaseError(msg::text(msg::DataSetClosed));
    default: break;
  }
}

void TDataSet::addDataLink(TDataLink* link) {
  if (std::find(m_links.begin(), m_links.end(), link) == m_links.end()) m_links.push_back(link);
}

void TDataSet::removeDataLink(TDataLink* link) {
  m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
}

void TDataSet::enableControls() {
  if (m_disableCount == 0) return;
  if (--m_disableCount == 0) {
    // Views may have missed anything while suspended: redraw once.
    for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->layoutChanged();
  }
}

TField* TDataSet::addField(std::unique_ptr<TField> field) {
  field->m_index = static_cast<int>(m_fields.size());
  m_fields.push_back(std::move(field));
  m_fieldListStamp = newStamp();
  return m_fields.back().get();
}

void TDataSet::destroyFields() {
  // From last to first, as the table layer discards fields.
  while (!m_fields.empty()) m_fields.pop_back();
  m_fieldListStamp = newStamp();
}

quint64 TDataSet::newStamp() {
  static quint64 last = 0;
  return ++last;
}

void TDataSet::setState(TDataSetState s) {
  if (m_state == s) return;
  m_state = s;
  if (s != TDataSetState::dsEdit && s != TDataSetState::dsInsert) m_modified = false;
  if (!controlsDisabled()) {
    for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->editingChanged();
  }
}

void TDataSet::notifyActiveChanged() {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->activeChanged(active());
}

void TDataSet::notifyDataSetChanged() {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->dataSetChanged();
}

void TDataSet::notifyScrolled() {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->dataSetScrolled();
}

void TDataSet::notifyRecordChanged(TField* field) {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->recordChanged(field);
}

void TDataSet::notifyLayoutChanged() {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->layoutChanged();
}

void TDataSet::notifyFocusControl(TField* field) {
  if (controlsDisabled()) return;
  for (TDataLink* l : std::vector<TDataLink*>(m_links)) l->focusControl(field);
}

void TDataSet::setRecNo(int n) {
  if (n < 1 || n > recordCount()) return;
  first();
  for (int i = 1; i < n && !eof(); ++i) next();
}

QVariant TDataSet::rowFieldValue(int row, const TField& field) const {
  if (row != recNo() - 1) return QVariant();
  return getFieldValue(field);
}

void TDataSet::databaseError(const QString& message) { throw EDatabaseError(message); }

void TDataSet::checkEditing() const {
  if (m_state != TDataSetState::dsEdit && m_state != TDataSetState::dsInsert &&
      m_state != TDataSetState::dsSetKey) {
    databaseError(msg::text(msg::NotEditing));
  }
}

}  // namespace vrk
