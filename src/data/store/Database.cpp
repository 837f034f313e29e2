// The database object on the alias: the alias registry aliases.ini, the
// database directory its PATH names, and the bookkeeping of the data sets
// that are open on the database.
#include "Store.h"

#include "CatalogueSwap.h"
#include "IniFile.h"
#include "Messages.h"

#include <QDir>

#include <algorithm>

namespace vrk {

// --- Alias registry and database ------------------------------------------------

QStringList readAliasParams(const QString& registryDir, const QString& alias) {
  const TIniFile registry(QDir(registryDir).filePath(QStringLiteral("aliases.ini")));
  if (!registry.sectionExists(alias)) {
    throw EDatabaseError(msg::text(msg::AliasMissing));
  }
  return registry.readSectionValues(alias);
}

TDatabase::TDatabase(QString name, QString aliasName, QString databaseName, QString registryDir)
    : m_name(std::move(name)),
      m_aliasName(std::move(aliasName)),
      m_databaseName(std::move(databaseName)),
      m_registryDir(std::move(registryDir)) {}

TDatabase::~TDatabase() = default;

QStringList TDatabase::aliasParams() const { return readAliasParams(m_registryDir, m_aliasName); }

QString aliasPathValue(const QStringList& params) {
  QString path;
  for (const QString& line : params) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq >= 0 && line.left(eq).compare(QLatin1String("PATH"), Qt::CaseInsensitive) == 0)
      path = line.mid(eq + 1);
  }
  return path;
}

QString databaseDirectory(const QString& registryDir, const QString& pathValue) {
  return QDir(registryDir).absoluteFilePath(pathValue);
}

void TDatabase::open() {
  if (m_connected) return;
  const QString path = aliasPathValue(aliasParams());
  if (path.isEmpty()) throw EDatabaseError(msg::text(msg::AliasNoPath).arg(m_aliasName));
  const QString directory = databaseDirectory(m_registryDir, path);
  // An install that ended half-way is finished (or undone) before any table
  // of the directory is read.
  RecoverPendingInstall(directory);
  m_directory = directory;
  m_connected = true;
}

void TDatabase::close() {
  // Closing a data set may detach others; work on a copy.
  for (TDataSet* ds : std::vector<TDataSet*>(m_dataSets)) ds->close();
  m_connected = false;
}

void TDatabase::attach(TDataSet* ds) {
  if (std::find(m_dataSets.begin(), m_dataSets.end(), ds) == m_dataSets.end()) m_dataSets.push_back(ds);
}

void TDatabase::detach(TDataSet* ds) {
  m_dataSets.erase(std::remove(m_dataSets.begin(), m_dataSets.end(), ds), m_dataSets.end());
}

void TDatabase::dataSetClosed() {
  if (m_keepConnection) return;
  const bool anyOpen =
      std::any_of(m_dataSets.begin(), m_dataSets.end(), [](TDataSet* d) { return d->active(); });
  if (!anyOpen) m_connected = false;
}

}  // namespace vrk
