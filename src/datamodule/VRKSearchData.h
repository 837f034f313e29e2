// The program's one data module, TVRKData: created before any window and
// destroyed last. It owns the catalogue's database, table and query objects,
// the result table, the HTTP component Http1 with the relay of its events
// (TTransferRelay), holds the nine settings (read from VRK.ini at creation,
// written back at destruction) and the catalogue alias's parameter list.
// Where VRK.ini, the alias registry and the download directory are, the
// module is told at creation (TPlaces).
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
#include "Places.h"
#include "Settings.h"
#include "Store.h"
#include "TransferRelay.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace vrk {

// What the main window shows while the data module unpacks a fetched file:
// the main window registers itself at creation.
class TUnzipDisplay {
 public:
  virtual ~TUnzipDisplay() = default;
  // AVI_2 loaded, centred, shown and playing; status panel 1
  // msg::UnzipingFile.
  virtual void UnzipStarted() = 0;
  // The animation stopped and hidden.
  virtual void UnzipEnded() = 0;
};

// What a to-file fetch did with the file it fetched, for its caller's last
// step. The file was unpacked but not whole: it stays in Download, and
// keptLine says which file it is and why (msg::ZipKept). An entry that is no
// Zip file at all is a finished download that was not unpacked (NotZip); a
// Zip file that was not unpacked whole, or a file named ".zip" that is no Zip
// file, is a failed unpacking (NotWhole).
// A file that was unpacked whole says so (unpacked).
struct TFetchResult {
  enum class TKept { Nothing, NotZip, NotWhole };
  TKept kept = TKept::Nothing;
  QString keptLine;
  bool unpacked = false;
  // The finished file's length differs from the catalogue's size of the
  // entry (msg::SizeMismatch); empty when it matches or no size was given.
  QString sizeLine;
};

class TVRKData final : public TTransferRelay, public TSettings {
 public:
  // Whether the settings go back to VRK.ini when the module is destroyed
  // (the program: yes; a command-line tool that overrides them for one run:
  // no).
  enum class TStoreSettings { AtDestruction, Never };

  // places: where VRK.ini, aliases.ini and the download directory are.
  explicit TVRKData(const TPlaces& places, TStoreSettings store = TStoreSettings::AtDestruction);
  // The portable places of programDir (VRK.ini and aliases.ini there,
  // Download in the working directory).
  explicit TVRKData(const QString& programDir, TStoreSettings store = TStoreSettings::AtDestruction)
      : TVRKData(portablePlaces(programDir), store) {}
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

  const TPlaces& places() const { return m_places; }
  // The directory that receives fetched files.
  const QString& downloadDir() const { return m_places.downloadDir; }

  // --- Fetching from a mirror (ModuleFetch.cpp, over the download library)
  //
  // To-file form (toFile): path is relative to the mirror's "/ftp/" tree and
  // holds a "/" before its last character ("resource/vrk_db.zip",
  // VRKDir + "/" + FileName). Asks whether to connect to Mirror + "ftp/" +
  // local name (mirrorQuestion) when AskConnect is on, GETs Mirror + "/ftp/"
  // + path into downloadDir() + "/" + local name (the text after the last
  // "/") by way of a hidden temporary file (TDownloadFile), then unpacks it
  // when UnzipFile is on (into downloadDir(), or into the directory
  // unpackDir gives, asked only then) and deletes it when DeleteUnzip is
  // also on and the archive was unpacked whole; otherwise the file stays and
  // the result says why. In-memory form: asks whether to connect to Mirror
  // and GETs path as a whole URL into Http1's body text.
  //
  // Only a reply with an HTTP status line and a status from 200 to 299 is a
  // download. Returns normally when the user declines. Raises for a path
  // that names no file, a proxy port that is no number (with UseProxy on), a
  // transfer error, any other reply (msg::DownloadFailed + its status line,
  // or msg::NoHttpStatusLine), a failed deletion, and a second fetch while one
  // runs (msg::TransferRunning). Whatever it raises, Download holds no new
  // file and an older file of the local name is as it was.
  //
  // Callers bind the relay slots first, then fetch, then disconnect Http1;
  // one that binds slots calls CheckNoTransferRunning() before binding, so a
  // refused fetch does not take the running one's display away.
  //
  // A to-file fetch that was cut or cancelled keeps what it received under
  // the temporary name, and the next fetch of the same URL continues it
  // (TDownloadFile, Http1's resume). catalogueSize: the entry's FileSize;
  // when it is above 0 and the finished file's length differs, sizeLine
  // says so and the fetch goes on.
  //
  // CancelTransfer() ends a running fetch at once: the connection closed,
  // nothing unpacked, and the fetch raises ETransferCancelled.
  TFetchResult FetchFromMirror(bool toFile, const QString& path, qint64 catalogueSize = 0,
                               const std::function<QString()>& unpackDir = {});
  void CancelTransfer();
  bool TransferRunning() const { return m_transferRunning; }
  // Raises msg::TransferRunning while a fetch runs.
  void CheckNoTransferRunning() const;
  // The main window's display of the unzip step; null: none (tools, tests).
  void SetUnzipDisplay(TUnzipDisplay* display) { m_unzipDisplay = display; }
  TUnzipDisplay* UnzipDisplay() const { return m_unzipDisplay; }

  // Handlers of Http1's events: the first three call the bound relay slot,
  // Http1Success plays the default beep (the result code is ignored).
  void Http1Connect(QObject* Sender);
  void Http1PacketRecvd(QObject* Sender);
  void Http1Disconnect(QObject* Sender);
  void Http1Success(QObject* Sender, int Cmd);

 private:
  // Raises msg::DownloadFailed with the reason (replyFailure) and the URL
  // unless Http1's last reply is a download.
  void checkReply() const;
  // Http1.Get(url), a reply with no valid status line raised as
  // msg::DownloadFailed like any other reply that is no download.
  void getReply(const QString& url);
  void DataModule1Create();
  void DataModule1Destroy();

  TPlaces m_places;
  TStoreSettings m_store;
  std::unique_ptr<TIniFile> m_settingsFile;
  QStringList m_aliasParams;
  bool m_transferRunning = false;
  bool m_cancelled = false;  // the running fetch was cancelled
  TUnzipDisplay* m_unzipDisplay = nullptr;
};

}  // namespace vrk
