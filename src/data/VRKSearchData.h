// The program's one data module, TVRKData: created before any window and
// destroyed last. It owns the catalogue's database, table and query objects,
// the result table, the HTTP component Http1 with the relay of its events
// (TTransferRelay), holds the nine settings (read from VRK.ini at creation,
// written back at destruction) and the catalogue alias's parameter list.
//
// Errors inside the creation and destruction handlers go to the application
// error display; the remaining steps of that handler are skipped.
//
// UI thread only.
#pragma once

#include "DataSource.h"
#include "HttpClient.h"
#include "IniFile.h"
#include "MemTable.h"
#include "Settings.h"
#include "Store.h"
#include "TransferRelay.h"

#include <QStringList>

#include <memory>

namespace vrk {

class TVRKData final : public TTransferRelay, public TSettings {
 public:
  // programDir: the directory of the program file (VRK.ini, aliases.ini).
  explicit TVRKData(const QString& programDir);
  ~TVRKData();
  TVRKData(const TVRKData&) = delete;
  TVRKData& operator=(const TVRKData&) = delete;

  // Components, in declaration order.
  TDatabase VRKData;
  TTable tbMirrors;
  // The one HTTP component: Port 0, TimeOut 1000, ReportLevel 0, Body
  // "Default.htm", Header "Head.txt", both file modes off, Proxy "localhost",
  // ProxyPort 8080; its events go to the Http1… handlers below.
  THttpClient Http1;
  TTable tbFiles;
  TQuery qrFileCat;
  // The result table: one field per FILES column (mtFiles + column name),
  // same kinds, sizes and required marks; reach them by column name.
  TMemoryTable mtFiles;
  // Feeds the result grid, the detail check boxes and the memo.
  TDataSource DataSource1;

  // Parameters of the alias Quorvane, one name=value line each.
  const QStringList& AliasParams() const { return m_aliasParams; }

  // Stores no in every yes/no column of every row tbFiles shows that does
  // not read yes. A row whose flags all read yes is not written.
  void NormaliseFlags();

  const QString& programDir() const { return m_programDir; }

  // Handlers of Http1's events: the first three call the bound relay slot,
  // Http1Success plays the default beep (the result code is ignored).
  void Http1Connect(QObject* Sender);
  void Http1PacketRecvd(QObject* Sender);
  void Http1Disconnect(QObject* Sender);
  void Http1Success(QObject* Sender, int Cmd);

 private:
  void DataModule1Create();
  void DataModule1Destroy();

  QString m_programDir;
  std::unique_ptr<TIniFile> m_settingsFile;
  QStringList m_aliasParams;
};

}  // namespace vrk
