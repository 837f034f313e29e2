#include "DemoMirror.h"

#include "ProcessRun.h"

#include <sqlite3.h>

namespace vrk::test {

QString demogenProgram() { return qEnvironmentVariable("VRK_TEST_BIN_DIR") + QStringLiteral("/demogen"); }

DemoMirror::DemoMirror() = default;
DemoMirror::~DemoMirror() = default;

bool DemoMirror::available(QString& why) {
  if (NginxServer::program().isEmpty()) {
    why = QStringLiteral("nginx is not installed");
    return false;
  }
  if (TinyProxy::program().isEmpty()) {
    why = QStringLiteral("tinyproxy is not installed");
    return false;
  }
  return true;
}

bool DemoMirror::start(int rows, quint64 seed, bool withProxy, QString& error) {
  ProcessOptions merged;
  merged.merged = true;
  const ProcessRun gen = runProcess(demogenProgram(),
                                    {"--out", catalogueDir(), "--rows", QString::number(rows), "--seed",
                                     QString::number(seed), "--mirror", root()},
                                    merged);
  if (gen.exitCode != 0) {
    error = QStringLiteral("demogen failed: ") + gen.out;
    return false;
  }
  m_nginx = std::make_unique<NginxServer>();
  if (!m_nginx->start(root(), error)) return false;
  if (withProxy) {
    m_proxy = std::make_unique<TinyProxy>();
    if (!m_proxy->start(error)) return false;
  }
  return true;
}

QString DemoMirror::url() const {
  return QStringLiteral("http://127.0.0.1:%1").arg(m_nginx ? m_nginx->port() : 0);
}

quint16 DemoMirror::proxyPort() const { return m_proxy ? m_proxy->port() : 0; }

QString DemoMirror::entryPath(int rowid) const {
  sqlite3* db = nullptr;
  QString path;
  const QByteArray file = (catalogueDir() + QStringLiteral("/FILES.DB")).toUtf8();
  if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT VRKDir || '/' || FileName FROM FILES WHERE rowid = ?", -1, &st,
                           nullptr) == SQLITE_OK) {
      sqlite3_bind_int(st, 1, rowid);
      if (sqlite3_step(st) == SQLITE_ROW)
        path = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return path;
}

}  // namespace vrk::test
