// Test support: a real demo mirror on 127.0.0.1. The demo generator writes a
// catalogue and its mirror tree (the catalogue Zip under
// /ftp/resource/vrk_db.zip, one small real Zip per entry under
// /ftp/<VRKDir>/<FileName>, an index page at the root) into a temporary
// directory; nginx serves the tree and, when asked, tinyproxy stands in
// front of it. Everything stops when the object goes away.
#pragma once

#include "LocalPeers.h"
#include "TempDir.h"

#include <QString>

#include <memory>

namespace vrk::test {

class DemoMirror final {
 public:
  DemoMirror();
  ~DemoMirror();
  DemoMirror(const DemoMirror&) = delete;
  DemoMirror& operator=(const DemoMirror&) = delete;

  // Whether the peers are installed at all (a test skips without them, see
  // VRK_SKIP_UNLESS_CI).
  static bool available(QString& why);

  // Generates rows entries with the seed, serves them, and starts the proxy
  // too when withProxy. False with the reason when something failed.
  bool start(int rows, quint64 seed, bool withProxy, QString& error);

  // "http://127.0.0.1:<port>", without a trailing "/".
  QString url() const;
  quint16 proxyPort() const;
  // The generated catalogue's tables (FILES.DB, MIRRORS.DB, FILESCAT.DB).
  QString catalogueDir() const { return m_dir.file(QStringLiteral("db")); }
  // The served tree; files under it are what the mirror serves.
  QString root() const { return m_dir.file(QStringLiteral("mirror")); }
  // VRKDir + "/" + FileName of the generated row with that rowid (1-based).
  QString entryPath(int rowid) const;

 private:
  TempDir m_dir;
  std::unique_ptr<NginxServer> m_nginx;
  std::unique_ptr<TinyProxy> m_proxy;
};

// The demo generator beside the built programs.
QString demogenProgram();

}  // namespace vrk::test
