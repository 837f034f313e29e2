// Test support: real HTTP peers on 127.0.0.1, started by a test in a
// temporary directory and stopped when the object goes away.
//
// NginxServer serves a directory; TinyProxy and SquidProxy are forward HTTP
// proxies. Both
// run in the foreground as child processes on a free port. isAvailable()
// tells whether the program is installed at all (tests skip without it);
// start() reports why a start failed.
#pragma once

#include "TempDir.h"

#include <QProcess>
#include <QString>

namespace vrk::test {

class LocalPeer {
 public:
  virtual ~LocalPeer();
  LocalPeer(const LocalPeer&) = delete;
  LocalPeer& operator=(const LocalPeer&) = delete;

  quint16 port() const { return m_port; }
  // The last lines of the peer's output and log, for failure messages.
  QString diagnostics() const;
  void stop();

 protected:
  LocalPeer() = default;
  // Starts program with args and waits until the port accepts connections.
  bool launch(const QString& program, const QStringList& args, QString& error);

  TempDir m_dir;
  QProcess m_process;
  quint16 m_port = 0;
  QString m_logFile;
};

class NginxServer final : public LocalPeer {
 public:
  static QString program();  // empty when nginx is not installed
  // Serves root (a directory) on a free port.
  bool start(const QString& root, QString& error);
};

class TinyProxy final : public LocalPeer {
 public:
  static QString program();
  bool start(QString& error);
};

// squid as a forward proxy without a disk cache. Unlike tinyproxy it keeps
// a client connection open after the reply when the request asks for it
// ("Proxy-Connection: Keep-Alive"), until its idle time-out.
class SquidProxy final : public LocalPeer {
 public:
  static QString program();
  bool start(QString& error);
};

}  // namespace vrk::test
