#include "LocalPeers.h"

#include "ScriptedServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vrk::test {
namespace {

const QStringList kSearchPaths = {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin", "/sbin", "/bin"};

QString findProgram(const QString& name) {
  QString path = QStandardPaths::findExecutable(name);
  if (path.isEmpty()) path = QStandardPaths::findExecutable(name, kSearchPaths);
  return path;
}

bool portAccepts(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

bool writeFile(const QString& path, const QString& text) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

}  // namespace

LocalPeer::~LocalPeer() { stop(); }

void LocalPeer::stop() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  if (!m_process.waitForFinished(5000)) {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
}

QString LocalPeer::diagnostics() const {
  QString text = QString::fromLocal8Bit(const_cast<QProcess&>(m_process).readAll()).right(2000);
  QFile log(m_logFile);
  if (log.open(QIODevice::ReadOnly)) text += QString::fromLocal8Bit(log.readAll()).right(2000);
  return text;
}

bool LocalPeer::launch(const QString& program, const QStringList& args, QString& error) {
  m_process.setProcessChannelMode(QProcess::MergedChannels);
  m_process.setWorkingDirectory(m_dir.path());
  m_process.start(program, args);
  if (!m_process.waitForStarted(5000)) {
    error = program + QStringLiteral(" did not start: ") + m_process.errorString();
    return false;
  }
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 10000) {
    if (m_process.state() == QProcess::NotRunning) {
      error = program + QStringLiteral(" exited: ") + diagnostics();
      return false;
    }
    if (portAccepts(m_port)) return true;
    QThread::msleep(20);
  }
  error = program + QStringLiteral(" did not listen: ") + diagnostics();
  stop();
  return false;
}

QString NginxServer::program() { return findProgram(QStringLiteral("nginx")); }

bool NginxServer::start(const QString& root, QString& error) {
  m_port = freeLocalPort();
  const QString d = m_dir.path();
  for (const char* sub : {"logs", "tmp"}) QDir(d).mkpath(QLatin1String(sub));
  m_logFile = d + QStringLiteral("/logs/error.log");
  QString conf = QStringLiteral(
                     "daemon off;\n"
                     "master_process off;\n"
                     "%1"
                     "pid %2/nginx.pid;\n"
                     "error_log %2/logs/error.log;\n"
                     "events { worker_connections 64; }\n"
                     "http {\n"
                     "  access_log off;\n"
                     "  default_type application/octet-stream;\n"
                     "  client_body_temp_path %2/tmp/body;\n"
                     "  proxy_temp_path %2/tmp/proxy;\n"
                     "  fastcgi_temp_path %2/tmp/fastcgi;\n"
                     "  uwsgi_temp_path %2/tmp/uwsgi;\n"
                     "  scgi_temp_path %2/tmp/scgi;\n"
                     "  sendfile on;\n"
                     "  server {\n"
                     "    listen 127.0.0.1:%3;\n"
                     "    root %4;\n"
                     "  }\n"
                     "}\n")
                     .arg(::geteuid() == 0 ? QStringLiteral("user root;\n") : QString(), d)
                     .arg(m_port)
                     .arg(root);
  if (!writeFile(d + QStringLiteral("/nginx.conf"), conf)) {
    error = QStringLiteral("cannot write nginx.conf");
    return false;
  }
  const QString nginx = program();
  if (nginx.isEmpty()) {
    error = QStringLiteral("nginx is not installed");
    return false;
  }
  return launch(nginx, {"-p", d, "-c", d + "/nginx.conf", "-e", m_logFile}, error);
}

QString TinyProxy::program() { return findProgram(QStringLiteral("tinyproxy")); }

bool TinyProxy::start(QString& error) {
  m_port = freeLocalPort();
  const QString d = m_dir.path();
  m_logFile = d + QStringLiteral("/tinyproxy.log");
  QString conf = QStringLiteral(
                     "Port %1\n"
                     "Listen 127.0.0.1\n"
                     "Timeout 600\n"
                     "MaxClients 20\n"
                     "Allow 127.0.0.1\n"
                     "LogLevel Info\n"
                     "LogFile \"%2\"\n"
                     "PidFile \"%3/tinyproxy.pid\"\n")
                     .arg(m_port)
                     .arg(m_logFile, d);
  if (::geteuid() == 0) conf += QStringLiteral("User root\nGroup root\n");
  if (!writeFile(d + QStringLiteral("/tinyproxy.conf"), conf)) {
    error = QStringLiteral("cannot write tinyproxy.conf");
    return false;
  }
  const QString tinyproxy = program();
  if (tinyproxy.isEmpty()) {
    error = QStringLiteral("tinyproxy is not installed");
    return false;
  }
  return launch(tinyproxy, {"-d", "-c", d + "/tinyproxy.conf"}, error);
}

QString SquidProxy::program() { return findProgram(QStringLiteral("squid")); }

bool SquidProxy::start(QString& error) {
  m_port = freeLocalPort();
  const QString d = m_dir.path();
  m_logFile = d + QStringLiteral("/cache.log");
  QString conf = QStringLiteral(
                     "http_port 127.0.0.1:%1\n"
                     "http_access allow all\n"
                     "cache deny all\n"
                     "cache_mem 8 MB\n"
                     "access_log none\n"
                     "cache_log %2\n"
                     "pid_filename none\n"
                     "coredump_dir %3\n"
                     "shutdown_lifetime 0 seconds\n"
                     "visible_hostname localhost\n")
                     .arg(m_port)
                     .arg(m_logFile, d);
  if (::geteuid() == 0) {
    // squid will not run its workers as root: they become the proxy user,
    // who must be able to write the log into the temporary directory.
    conf += QStringLiteral("cache_effective_user proxy\n");
    QFile::setPermissions(d, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                 QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                                 QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
  }
  if (!writeFile(d + QStringLiteral("/squid.conf"), conf)) {
    error = QStringLiteral("cannot write squid.conf");
    return false;
  }
  const QString squid = program();
  if (squid.isEmpty()) {
    error = QStringLiteral("squid is not installed");
    return false;
  }
  return launch(squid, {"-N", "-f", d + "/squid.conf"}, error);
}

}  // namespace vrk::test
