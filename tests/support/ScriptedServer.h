// Test support: a scripted TCP server on 127.0.0.1 for byte-exact protocol
// cases. It runs in a thread of its own with blocking sockets, so it answers
// while the code under test waits inside its own event loop.
//
// Scripts are added before start(); each accepted connection runs the next
// script, step by step. What every connection received is recorded.
#pragma once

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace vrk::test {

class ScriptedServer final {
 public:
  class Script {
   public:
    // Reads until the end of a request header (an empty line).
    Script& readRequest();
    Script& send(const QByteArray& bytes);
    // Sends the bytes in pieces of size with a pause of ms between them.
    Script& sendSlowly(const QByteArray& bytes, int size, int ms);
    Script& sleep(int ms);
    // Closes normally (FIN) or with a reset (linger 0).
    Script& close();
    Script& reset();
    // Keeps the connection open until the client closes it (or the server
    // stops), recording how the client closed.
    Script& waitForClientClose();

   private:
    friend class ScriptedServer;
    enum class Kind { ReadRequest, Send, SendSlowly, Sleep, Close, Reset, WaitClientClose };
    struct Step {
      Kind kind;
      QByteArray data;
      int size = 0;
      int ms = 0;
    };
    std::vector<Step> m_steps;
  };

  // How a client ended a connection that waitForClientClose watched.
  enum class ClientClose { NotSeen, Orderly, Reset };

  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  quint16 port() const { return m_port; }
  Script& connection();
  void start();
  // Waits up to ms for every script to finish; false on time-out.
  bool waitFinished(int ms);

  int accepted() const;
  // Everything connection i received.
  QByteArray received(int i) const;
  ClientClose clientClose(int i) const;

 private:
  void run();
  void runScript(int index, int fd);

  int m_listen = -1;
  quint16 m_port = 0;
  std::vector<Script> m_scripts;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  mutable std::mutex m_mutex;
  std::vector<QByteArray> m_received;
  std::vector<ClientClose> m_closes;
};

// A listening socket on 127.0.0.1 whose accept queue is full, so that a
// further connect to it never completes.
class StalledListener final {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  quint16 port() const { return m_port; }
  bool isValid() const { return m_valid; }

 private:
  int m_listen = -1;
  quint16 m_port = 0;
  bool m_valid = false;
  std::vector<int> m_fillers;
};

// A port on 127.0.0.1 that refuses every connection while the object lives:
// it is bound, so no other server can take it, but it does not listen.
class RefusingPort final {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  quint16 port() const { return m_port; }

 private:
  int m_fd = -1;
  quint16 m_port = 0;
};

// A port on 127.0.0.1 that nothing listened on a moment ago, for a server
// that must bind it itself. Another process may take it in between: the
// caller has to notice and try again (LocalPeer does).
quint16 freeLocalPort();

}  // namespace vrk::test
