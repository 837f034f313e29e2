// How a fetched file gets to its name in the download directory: the one
// owner of the steps between a transfer and the file under its final name.
//
// A body is written under a temporary name beside its final one,
// ".<name>.part" in the download directory: hidden, so that the file list collector (and
// with it the catalogue install) passes over it, and the same for every
// fetch of that name, so that a later run finds a partial file again.
// complete() gives it its final name "<dir>/<name>" in one step, and only
// then: until the transfer completed and its reply was a download, an older
// complete file of that name stays as it was. An object that ends without
// complete() removes the temporary file, whatever ended the fetch (an error
// reply, a cut or reset connection, a cancel, a redirect loop, any error of
// a handler during the body).
//
// UI thread only; a relative directory is taken from the working directory.
#pragma once

#include <QString>

#include <sys/types.h>

#include <utility>

namespace vrk {

// The temporary name of a body on its way to name: "." + name + ".part".
QString partialName(const QString& name);

class TDownloadFile final {
 public:
  // dir: the download directory; name: the local name of the fetch (a bare
  // file name).
  TDownloadFile(const QString& dir, const QString& name);
  // Removes the temporary file unless complete() gave it its final name.
  ~TDownloadFile();
  TDownloadFile(const TDownloadFile&) = delete;
  TDownloadFile& operator=(const TDownloadFile&) = delete;

  // dir + "/<name>" and dir + "/.<name>.part".
  const QString& path() const { return m_path; }
  const QString& partPath() const { return m_partPath; }

  // Clears the way for a new body: a temporary file (or a link in its
  // place) that an earlier run left is removed, so that the transfer
  // creates a fresh file of its own.
  void begin();

  // The body is whole: flushes it to disk and renames it over path(),
  // replacing an older file of that name in one step. Raises
  // EFCreateError (msg::FileCreateError of path()) when it cannot; the
  // temporary file is then removed and path() left as it was.
  void complete();

  // Deletes path() after its archive was unpacked whole. A member of the
  // archive that landed under the same name is what the name holds now; it
  // stays. Raises EInOutError::deleting when the file cannot be deleted.
  // Requires: complete() succeeded.
  void removeUnpacked() const;

 private:
  QString m_path;
  QString m_partPath;
  bool m_completed = false;
  dev_t m_device = 0;
  ino_t m_inode = 0;
};

// The private folder of one catalogue refresh, inside Download, that the
// fetched catalogue archive is unpacked into, so that nothing of the archive
// mixes with what Download holds: ".vrk-catalogue-XXXXXX" inside it, hidden
// (the file list and the install pass over it), made anew with room for
// its owner only. The object holds a lock on it while it lives and removes
// it with all it holds when it ends, however the refresh ends. Making one
// first removes the folders of that kind that ended programs left behind:
// those that nobody holds locked and that are older than a minute.
class TStagingDir final {
 public:
  // dir: the download directory the folder is made in.
  explicit TStagingDir(QString dir) : m_dir(std::move(dir)) {}
  ~TStagingDir();
  TStagingDir(const TStagingDir&) = delete;
  TStagingDir& operator=(const TStagingDir&) = delete;

  // Makes the folder at the first call and returns its path (dir + "/" +
  // its name); later calls return the same. Raises
  // EFCreateError (msg::FileCreateError of the folder) when it cannot be
  // made, Download missing included.
  const QString& create();
  // Empty until create() succeeded.
  const QString& path() const { return m_path; }

 private:
  QString m_dir;
  QString m_path;
  int m_fd = -1;
};

}  // namespace vrk
