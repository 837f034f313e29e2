// The program's one data module, TVRKData: created before any window and
// destroyed last. It owns the catalogue's database, table and query objects,
// holds the nine settings (read from VRK.ini at creation, written back at
// destruction) and the catalogue alias's parameter list.
//
// Errors inside the creation and destruction handlers go to the application
// error display; the remaining steps of that handler are skipped.
//
// UI thread only.
#pragma once

#include "IniFile.h"
#include "Settings.h"
#include "Store.h"

#include <QStringList>

#include <memory>

namespace vrk {

class TVRKData final : public TSettings {
 public:
  // programDir: the directory of the program file (VRK.ini, aliases.ini).
  explicit TVRKData(const QString& programDir);
  ~TVRKData();
  TVRKData(const TVRKData&) = delete;
  TVRKData& operator=(const TVRKData&) = delete;

  // Components, in declaration order.
  TDatabase VRKData;
  TTable tbMirrors;
  TTable tbFiles;
  TQuery qrFileCat;

  // Parameters of the alias Quorvane, one name=value line each.
  const QStringList& AliasParams() const { return m_aliasParams; }

  // Stores no in every yes/no column of every row tbFiles shows that does
  // not read yes. A row whose flags all read yes is not written.
  void NormaliseFlags();

  const QString& programDir() const { return m_programDir; }

 private:
  void DataModule1Create();
  void DataModule1Destroy();

  QString m_programDir;
  std::unique_ptr<TIniFile> m_settingsFile;
  QStringList m_aliasParams;
};

}  // namespace vrk
