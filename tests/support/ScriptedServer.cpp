#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>

namespace vrk::test {
namespace {

sockaddr_in loopback(quint16 port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int listenOn(int backlog, quint16& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

// Waits until fd is readable, polling the stop flag; false when stopped.
bool waitReadable(int fd, const std::atomic<bool>& stop) {
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, 20);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

void sendAll(int fd, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    data += n;
    size -= n;
  }
}

}  // namespace

ScriptedServer::Script& ScriptedServer::Script::readRequest() {
  m_steps.push_back({Kind::ReadRequest, {}, 0, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::send(const QByteArray& bytes) {
  m_steps.push_back({Kind::Send, bytes, 0, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::sendSlowly(const QByteArray& bytes, int size, int ms) {
  m_steps.push_back({Kind::SendSlowly, bytes, size, ms});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::sleep(int ms) {
  m_steps.push_back({Kind::Sleep, {}, 0, ms});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::close() {
  m_steps.push_back({Kind::Close, {}, 0, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::reset() {
  m_steps.push_back({Kind::Reset, {}, 0, 0});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::waitForClientClose() {
  m_steps.push_back({Kind::WaitClientClose, {}, 0, 0});
  return *this;
}

ScriptedServer::ScriptedServer() { m_listen = listenOn(16, m_port); }

ScriptedServer::~ScriptedServer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_listen >= 0) ::close(m_listen);
}

ScriptedServer::Script& ScriptedServer::connection() {
  m_scripts.emplace_back();
  return m_scripts.back();
}

void ScriptedServer::start() {
  m_received.assign(m_scripts.size(), QByteArray());
  m_closes.assign(m_scripts.size(), ClientClose::NotSeen);
  m_thread = std::thread([this] { run(); });
}

bool ScriptedServer::waitFinished(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!m_finished) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int ScriptedServer::accepted() const {
  std::lock_guard lock(m_mutex);
  int n = 0;
  for (const QByteArray& r : m_received) n += r.isNull() ? 0 : 1;
  return n;
}

QByteArray ScriptedServer::received(int i) const {
  std::lock_guard lock(m_mutex);
  return i < static_cast<int>(m_received.size()) ? m_received[i] : QByteArray();
}

ScriptedServer::ClientClose ScriptedServer::clientClose(int i) const {
  std::lock_guard lock(m_mutex);
  return i < static_cast<int>(m_closes.size()) ? m_closes[i] : ClientClose::NotSeen;
}

void ScriptedServer::run() {
  for (int i = 0; i < static_cast<int>(m_scripts.size()) && !m_stop; ++i) {
    if (!waitReadable(m_listen, m_stop)) break;
    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    {
      std::lock_guard lock(m_mutex);
      m_received[i] = QByteArray("");  // not null: accepted
    }
    runScript(i, fd);
  }
  m_finished = true;
}

void ScriptedServer::runScript(int index, int fd) {
  char block[65536];
  auto receive = [&]() -> ssize_t {
    const ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n > 0) {
      std::lock_guard lock(m_mutex);
      m_received[index].append(block, n);
    }
    return n;
  };
  bool open = true;
  for (const Script::Step& step : m_scripts[index].m_steps) {
    if (!open || m_stop) break;
    switch (step.kind) {
      case Script::Kind::ReadRequest:
        for (;;) {
          {
            std::lock_guard lock(m_mutex);
            if (m_received[index].contains("\r\n\r\n")) break;
          }
          if (!waitReadable(fd, m_stop) || receive() <= 0) break;
        }
        break;
      case Script::Kind::Send: sendAll(fd, step.data.constData(), step.data.size()); break;
      case Script::Kind::SendSlowly:
        for (qsizetype at = 0; at < step.data.size() && !m_stop; at += step.size) {
          sendAll(fd, step.data.constData() + at, qMin<qsizetype>(step.size, step.data.size() - at));
          std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        }
        break;
      case Script::Kind::Sleep: std::this_thread::sleep_for(std::chrono::milliseconds(step.ms)); break;
      case Script::Kind::Close:
        ::close(fd);
        open = false;
        break;
      case Script::Kind::Reset: {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
        open = false;
        break;
      }
      case Script::Kind::WaitClientClose:
        for (;;) {
          if (!waitReadable(fd, m_stop)) break;
          const ssize_t n = receive();
          if (n == 0 || (n < 0 && errno != EINTR)) {
            std::lock_guard lock(m_mutex);
            m_closes[index] = n == 0 ? ClientClose::Orderly : ClientClose::Reset;
            break;
          }
        }
        break;
    }
  }
  if (open) ::close(fd);
}

StalledListener::StalledListener() {
  m_listen = listenOn(0, m_port);
  if (m_listen < 0) return;
  // Fill the accept queue: once a connect no longer completes, the next
  // one (the code under test) will not either.
  for (int i = 0; i < 16; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(m_port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    m_fillers.push_back(fd);
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 200) == 0) {
      m_valid = true;
      return;
    }
  }
}

StalledListener::~StalledListener() {
  for (int fd : m_fillers) ::close(fd);
  if (m_listen >= 0) ::close(m_listen);
}

RefusingPort::RefusingPort() {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  socklen_t len = sizeof a;
  if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    m_port = ntohs(a.sin_port);
  }
}

RefusingPort::~RefusingPort() {
  if (m_fd >= 0) ::close(m_fd);
}

quint16 freeLocalPort() {
  quint16 port = 0;
  const int fd = listenOn(1, port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace vrk::test
