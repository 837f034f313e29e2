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
// complete() or keep() removes the temporary file, whatever ended the fetch
// (an error reply, a redirect loop, a damaged body, any error of a handler
// during the body).
//
// Resume: a fetch that was cut or cancelled keep()s its temporary file, and
// beside it the resume note ".<name>.part.resume" (hidden as well), which
// record() writes once the reply that carries the body is known. The note
// is three lines of text, each a key, "=" and a value:
//   url=<the URL the body came from>
//   validator=<its ETag or Last-Modified, for If-Range; empty: none>
//   total=<the whole body's length; -1: not announced>
// The next fetch of the same URL continues the temporary file (begin()
// returns where) when it is a regular file with bytes in it, its note is
// there and names that URL, the file is shorter than the total, and it was
// last written less than a week ago; otherwise both go and the fetch starts
// over.
//
// UI thread only; a relative directory is taken from the working directory.
#pragma once

#include "FileDescriptor.h"

#include <QString>

#include <optional>

#include <sys/types.h>

#include <utility>

namespace vrk {

// The temporary name of a body on its way to name: "." + name + ".part".
QString partialName(const QString& name);

// A kept temporary file to continue: its length and the resume note's
// validator and total.
struct TPartialBody {
  qint64 size = 0;
  QString validator;
  qint64 total = -1;
};

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

  // dir + "/.<name>.part.resume".
  const QString& notePath() const { return m_notePath; }

  // Clears the way for the body of url: a temporary file that an earlier
  // run kept for this URL, and that may be continued, is returned; any
  // other temporary file (a link in its place included) and note are
  // removed, so that the transfer creates a fresh file of its own.
  std::optional<TPartialBody> begin(const QString& url);

  // Writes the resume note for the body now on its way.
  void record(const QString& url, const QString& validator, qint64 total) const;

  // The temporary file and its note stay when the object ends, for a
  // later resume.
  void keep() { m_kept = true; }

  // The body is whole: flushes it to disk and renames it over path()
  // (the resume note goes),
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
  QString m_notePath;
  bool m_completed = false;
  bool m_kept = false;
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
  TFileDescriptor m_fd;  // locked while the object lives
};

}  // namespace vrk
