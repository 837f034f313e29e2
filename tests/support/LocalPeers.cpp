#include "LocalPeers.h"

#include "ProcessRun.h"
#include "ScriptedServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vrk::test {
namespace {

const QStringList kSearchPaths = {"/usr/sbin",      "/usr/bin", "/usr/local/sbin",
                                  "/usr/local/bin", "/sbin",    "/bin"};

QString findProgram(const QString& name) {
  QString path = QStandardPaths::findExecutable(name);
  if (path.isEmpty()) path = QStandardPaths::findExecutable(name, kSearchPaths);
  return path;
}

// The socket inodes listening on 127.0.0.1:port, from the kernel's table;
// false when the table cannot be read (not Linux).
bool listeningInodes(quint16 port, QStringList& inodes) {
  QFile table(QStringLiteral("/proc/net/tcp"));
  if (!table.open(QIODevice::ReadOnly)) return false;
  const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
  const QList<QByteArray> lines = table.readAll().split('\n');
  for (const QByteArray& line : lines) {
    const QList<QByteArray> f = line.simplified().split(' ');
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
    if (f.size() > 9 && QString::fromLatin1(f[1]) == local && f[3] == "0A")
      inodes << QString::fromLatin1(f[9]);
  }
  return true;
}

// The process and every process descended from it.
QList<qint64> processTree(qint64 root) {
  QMap<qint64, qint64> parent;
  for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool ok = false;
    const qint64 pid = name.toLongLong(&ok);
    if (!ok) continue;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');  // the name may hold blanks
    const QList<QByteArray> f = text.mid(close + 2).split(' ');
    if (f.size() > 1) parent[pid] = f[1].toLongLong();
  }
  QList<qint64> tree{root};
  for (qsizetype i = 0; i < tree.size(); ++i) {
    for (auto it = parent.cbegin(); it != parent.cend(); ++it) {
      if (it.value() == tree[i] && !tree.contains(it.key())) tree << it.key();
    }
  }
  return tree;
}

bool portAccepts(quint16 port);

// Whether the server process (or one of its children) is the one listening
// on 127.0.0.1:port: another test's server may have taken the port after it
// was found free. Where the kernel's tables cannot be read, any listener
// counts.
bool listensOn(qint64 pid, quint16 port) {
  QStringList inodes;
  if (!listeningInodes(port, inodes)) return portAccepts(port);
  if (inodes.isEmpty()) return false;
  for (const qint64 p : processTree(pid)) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(p));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QString target = QFile::symLinkTarget(fds.filePath(fd));
      for (const QString& inode : inodes) {
        if (target.endsWith(QStringLiteral("socket:[") + inode + QLatin1Char(']'))) return true;
      }
    }
  }
  return false;
}

// What a server says when its port was taken before it could bind it.
bool portWasTaken(const QString& output) {
  return output.contains(QStringLiteral("Address already in use")) ||
         output.contains(QStringLiteral("Could not create listening sockets")) ||
         output.contains(QStringLiteral("Unable to open HTTP Socket"));
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

// A server's configuration from its template under share/peers, each
// @KEY@ replaced by its value; empty when the template cannot be read.
QString fromTemplate(const char* name, const QMap<QString, QString>& values) {
  QFile f(QStringLiteral(VRK_PEER_TEMPLATES "/") + QLatin1String(name));
  if (!f.open(QIODevice::ReadOnly)) return QString();
  QString text = QString::fromUtf8(f.readAll());
  for (auto it = values.begin(); it != values.end(); ++it)
    text.replace(QLatin1Char('@') + it.key() + QLatin1Char('@'), it.value());
  return text;
}

}  // namespace

bool onCi() { return qEnvironmentVariable("CI") == QLatin1String("true"); }

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
  m_output += const_cast<QProcess&>(m_process).readAll();
  QString text = QString::fromLocal8Bit(m_output.right(2000));
  QFile log(m_logFile);
  if (log.open(QIODevice::ReadOnly)) text += QString::fromLocal8Bit(log.readAll()).right(2000);
  return text;
}

bool LocalPeer::launch(const QString& program, const std::function<QStringList(QString& error)>& configure,
                       QString& error) {
  if (program.isEmpty()) {
    error = QStringLiteral("the server program is not installed");
    return false;
  }
  // A free port can be taken by another test between finding it and the
  // server binding it: then the server says so and the start is repeated on
  // another port.
  constexpr int kAttempts = 5;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    m_port = freeLocalPort();
    const QStringList args = configure(error);
    if (!error.isEmpty()) return false;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.start(program, args);
    if (!m_process.waitForStarted(5000)) {
      error = program + QStringLiteral(" did not start: ") + m_process.errorString();
      return false;
    }
    const qint64 pid = m_process.processId();
    bool taken = false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
      if (m_process.state() == QProcess::Running && listensOn(pid, m_port)) return true;
      if (portWasTaken(diagnostics())) {
        taken = true;
        break;
      }
      if (m_process.state() == QProcess::NotRunning) {
        error = program + QStringLiteral(" exited: ") + diagnostics();
        return false;
      }
      // Also takes in what the program printed and notices its exit.
      m_process.waitForFinished(20);
    }
    stop();
    if (!taken) {
      error = program + QStringLiteral(" did not listen: ") + diagnostics();
      return false;
    }
    m_output.clear();
    if (!m_logFile.isEmpty()) QFile::remove(m_logFile);
  }
  error = program + QStringLiteral(": port taken on every attempt: ") + diagnostics();
  return false;
}

QString NginxServer::program() { return findProgram(QStringLiteral("nginx")); }

void NginxServer::useTls(const QString& cert, const QString& key) { m_tls.prepend({QString(), cert, key}); }

void NginxServer::addTlsName(const QString& name, const QString& cert, const QString& key) {
  m_tls << TlsName{name, cert, key};
}

bool NginxServer::start(const QString& root, QString& error) {
  const QString d = m_dir.path();
  for (const char* sub : {"logs", "tmp"}) QDir(d).mkpath(QLatin1String(sub));
  m_logFile = d + QStringLiteral("/logs/error.log");
  // One server block per certificate (the first is the default one), or
  // one plain block.
  auto servers = [&](const QString& root) {
    QString text;
    const QList<TlsName> blocks = m_tls.isEmpty() ? QList<TlsName>{TlsName{}} : m_tls;
    for (const TlsName& b : blocks) {
      text += QStringLiteral("  server {\n    listen 127.0.0.1:%1%2;\n")
                  .arg(m_port)
                  .arg(m_tls.isEmpty() ? QString() : QStringLiteral(" ssl"));
      if (!b.name.isEmpty()) text += QStringLiteral("    server_name %1;\n").arg(b.name);
      if (!m_tls.isEmpty())
        text += QStringLiteral("    ssl_certificate %1;\n    ssl_certificate_key %2;\n").arg(b.cert, b.key);
      text +=
          QStringLiteral("    root %1;\n    location = /redirect { return 302 $arg_to; }\n  }\n").arg(root);
    }
    return text;
  };
  return launch(
      program(),
      [&](QString& err) -> QStringList {
        const QString conf = fromTemplate(
            "nginx.conf.in",
            {{QStringLiteral("DIR"), d},
             {QStringLiteral("USER"), ::geteuid() == 0 ? QStringLiteral("user root;") : QString()},
             {QStringLiteral("ACCESS_LOG"), QStringLiteral("off")},
             {QStringLiteral("SERVERS"), servers(root)}});
        if (conf.isEmpty()) err = QStringLiteral("cannot read the nginx template");
        if (err.isEmpty() && !writeFile(d + QStringLiteral("/nginx.conf"), conf.toUtf8()))
          err = QStringLiteral("cannot write nginx.conf");
        return {"-p", d, "-c", d + "/nginx.conf", "-e", m_logFile};
      },
      error);
}

QString TinyProxy::program() { return findProgram(QStringLiteral("tinyproxy")); }

bool TinyProxy::start(QString& error) {
  const QString d = m_dir.path();
  m_logFile = d + QStringLiteral("/tinyproxy.log");
  return launch(
      program(),
      [&](QString& err) -> QStringList {
        QString extra;
        for (const quint16 port : m_connectPorts) extra += QStringLiteral("ConnectPort %1\n").arg(port);
        if (::geteuid() == 0) extra += QStringLiteral("User root\nGroup root\n");
        const QString conf =
            fromTemplate("tinyproxy.conf.in", {{QStringLiteral("PORT"), QString::number(m_port)},
                                               {QStringLiteral("DIR"), d},
                                               {QStringLiteral("EXTRA"), extra}});
        if (conf.isEmpty()) err = QStringLiteral("cannot read the tinyproxy template");
        if (err.isEmpty() && !writeFile(d + QStringLiteral("/tinyproxy.conf"), conf.toUtf8()))
          err = QStringLiteral("cannot write tinyproxy.conf");
        return {"-d", "-c", d + "/tinyproxy.conf"};
      },
      error);
}

QString SquidProxy::program() { return findProgram(QStringLiteral("squid")); }

bool SquidProxy::start(QString& error) {
  const QString d = m_dir.path();
  m_logFile = d + QStringLiteral("/cache.log");
  if (::geteuid() == 0) {
    // squid will not run its workers as root: they become the proxy user,
    // who must be able to write the log into the temporary directory.
    QFile::setPermissions(d, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                 QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                                 QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
  }
  return launch(
      program(),
      [&](QString& err) -> QStringList {
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
        if (::geteuid() == 0) conf += QStringLiteral("cache_effective_user proxy\n");
        if (!writeFile(d + QStringLiteral("/squid.conf"), conf.toUtf8()))
          err = QStringLiteral("cannot write squid.conf");
        return {"-N", "-f", d + "/squid.conf"};
      },
      error);
}

bool TestCertificates::run(const QStringList& args, QString& error) {
  ProcessOptions merged;
  merged.merged = true;
  merged.timeoutMs = 30000;
  const ProcessRun r =
      runProcess(qEnvironmentVariable("VRK_SOURCE_DIR") + QStringLiteral("/scripts/certs"), args, merged);
  if (r.exitCode == 0) return true;
  error = QStringLiteral("scripts/certs %1 failed: %2").arg(args.join(' '), r.out);
  return false;
}

bool TestCertificates::makeCa(const QString& name, QString& error) {
  return run({"ca", m_dir.path(), name}, error);
}

bool TestCertificates::makeServer(const QString& ca, const QString& name, const QString& altNames,
                                  QString& error, const QString& from, const QString& until) {
  QStringList args{"server", m_dir.path(), ca, name, altNames};
  if (!from.isEmpty()) args << from << until;
  return run(args, error);
}

}  // namespace vrk::test
