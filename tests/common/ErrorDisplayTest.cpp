#include "Clock.h"
#include "ErrorCapture.h"
#include "Exception.h"
#include "FileDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

using namespace vrk;

TEST(ErrorDisplay, GuardShowsTheMessageAndSwallowsTheError) {
  test::ErrorCapture errors;
  EXPECT_FALSE(ErrorDisplay::guard([] { throw EDatabaseError(QStringLiteral("E/A-Fehler 5")); }));
  EXPECT_TRUE(ErrorDisplay::guard([] {}));
  EXPECT_FALSE(ErrorDisplay::guard([] { throw EAbort(QStringLiteral("quiet")); }));
  EXPECT_FALSE(ErrorDisplay::guard([] { throw std::runtime_error("plain"); }));
  EXPECT_EQ(errors.messages(), (QStringList{QStringLiteral("E/A-Fehler 5"), QStringLiteral("plain")}));
}

TEST(TickClock, InjectedSourceWrapsAt32Bits) {
  std::uint32_t t = 0xFFFFFFF0u;
  auto old = TickClock::setSource([&t] { return t; });
  const std::uint32_t start = TickClock::now();
  t += 0x20;  // wraps past 2^32
  EXPECT_EQ(TickClock::now() - start, 0x20u);
  TickClock::setSource(std::move(old));
}

// --- The descriptor owner and its loops ---------------------------------------

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

std::atomic<int> s_alarms{0};

}  // namespace

TEST(FileDescriptor, ClosesOnceWhateverEndsItsOwner) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  {
    TFileDescriptor a(ends[0]);
    TFileDescriptor b(std::move(a));
    EXPECT_FALSE(a.valid());
    a = std::move(b);  // b's descriptor moves back, nothing closes
    EXPECT_TRUE(isOpen(ends[0]));
    a.reset(ends[1]);
    EXPECT_FALSE(isOpen(ends[0]));
    EXPECT_EQ(::close(a.release()), 0);  // released: the caller's to close
  }
  EXPECT_FALSE(isOpen(ends[1]));
}

// A writer blocked on a full pipe that a timer interrupts every millisecond:
// the writes end early, with part of the block or with EINTR, and the loop
// still delivers every byte in order.
TEST(FileDescriptor, WriteAllDeliversEveryByteThroughInterruptedAndShortWrites) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  TFileDescriptor in(ends[0]), out(ends[1]);
  ::fcntl(out.get(), F_SETPIPE_SZ, 4096);
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 4096);

  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  ::pthread_sigmask(SIG_BLOCK, &alarm, nullptr);  // the reader, made now, never takes it
  std::string received;
  std::thread reader([&] {
    char chunk[1000];
    TIoResult got;
    do {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      got = readAll(in.get(), chunk, sizeof chunk);
      received.append(chunk, got.bytes);
    } while (got.bytes == sizeof chunk);
  });
  ::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
  struct sigaction onAlarm = {}, before = {};
  onAlarm.sa_handler = [](int) { ++s_alarms; };  // no SA_RESTART: the write ends
  ::sigaction(SIGALRM, &onAlarm, &before);
  const itimerval every{{0, 1000}, {0, 1000}}, stop{};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  const TIoResult wrote = writeAll(out.get(), block.data(), block.size());
  ::setitimer(ITIMER_REAL, &stop, nullptr);
  ::sigaction(SIGALRM, &before, nullptr);
  out.reset();
  reader.join();

  EXPECT_EQ(wrote.error, 0);
  EXPECT_EQ(wrote.bytes, block.size());
  EXPECT_GT(s_alarms.load(), 0);
  EXPECT_TRUE(received == block) << received.size() << " bytes received";
}

TEST(FileDescriptor, LoopsStopAtTheEndOfTheFileAndReportTheFailingCall) {
  char name[] = "/tmp/vrk-fd-XXXXXX";
  const TFileDescriptor file(::mkstemp(name));
  ASSERT_TRUE(file.valid());
  ::unlink(name);
  ASSERT_EQ(writeAll(file.get(), "0123456789", 10).bytes, 10u);
  char buf[16] = {};
  const TIoResult tail = preadAll(file.get(), buf, sizeof buf, 6);
  EXPECT_EQ(tail.error, 0);
  EXPECT_EQ(std::string(buf, tail.bytes), "6789");
  EXPECT_EQ(readAll(file.get(), buf, sizeof buf).bytes, 0u);  // the position is at the end

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  TFileDescriptor in(ends[0]), out(ends[1]);
  EXPECT_EQ(preadAll(in.get(), buf, 1, 0).error, ESPIPE);
  in.reset();
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  const TIoResult broken = writeAll(out.get(), "x", 1);
  std::signal(SIGPIPE, oldPipe);
  EXPECT_EQ(broken.error, EPIPE);
  EXPECT_EQ(broken.bytes, 0u);
  EXPECT_EQ(sysErrorMessage(EPIPE), QString::fromLocal8Bit(std::strerror(EPIPE)));
}
