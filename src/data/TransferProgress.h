// The progress text of a transfer indicator, shared by the main window, the
// mirror dialog and the command-line tools:
// n + msg::BytesReceived + rate + msg::BytesPerSecond; and the meter of a
// body whose length was announced: its percentage and the time left
// ("42 % – 0:13 left"), for the main window's progress bar and vrk's line.
#pragma once

#include "Messages.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <optional>

namespace vrk {

// received: the session's received-bytes counter (64-bit, so a download past
// 2 GiB still shows its true count). elapsed = (now - connectTick) modulo
// 2^32 ms; rate = received * 1000 / elapsed in signed 64-bit arithmetic,
// truncated toward zero. With elapsed 0 there is no rate and no new text.
inline std::optional<QString> progressText(std::int64_t received, std::uint32_t connectTick,
                                           std::uint32_t now) {
  const std::uint32_t elapsed = now - connectTick;
  if (elapsed == 0) return std::nullopt;
  const std::int64_t rate = received * 1000 / static_cast<std::int64_t>(elapsed);
  return QString::number(received) + msg::text(msg::BytesReceived) + QString::number(rate) +
         msg::text(msg::BytesPerSecond);
}

// A time left in whole seconds as m:ss, or h:mm:ss from an hour on.
inline QString timeLeftText(std::int64_t seconds) {
  const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
  const QString mmss =
      QStringLiteral("%1:%2").arg(h > 0 ? m : seconds / 60).arg(sec, 2, 10, QLatin1Char('0'));
  return h > 0 ? QStringLiteral("%1:%2").arg(h).arg(mmss, 5, QLatin1Char('0')) : mmss;
}

// What a progress display shows of a body of announced length.
struct TProgressView {
  int percent = 0;  // 0 to 100, truncated
  QString text;     // msg::ProgressPercent, then msg::ProgressLeft once a rate is known
};

// Percentage and time left of one transfer, the rate taken over about the
// last few seconds. update() is called on every packet; it answers at most
// once per interval, so that a display costs the transfer nothing.
class TProgressMeter final {
 public:
  static constexpr std::uint32_t kRateWindowMs = 3000;

  explicit TProgressMeter(std::uint32_t intervalMs = 100) : m_interval(intervalMs) {}

  // A new transfer begins at now.
  void start(std::uint32_t now) {
    m_samples.clear();
    m_samples.push_back({now, -1});
    m_last = now;
    m_shown = false;
  }

  // done of total bytes at now (total > 0); nullopt when it is not yet time
  // for a new view (force: it always is). done bytes that were there before the transfer (a
  // resume) count toward the percentage but not toward the rate.
  std::optional<TProgressView> update(std::int64_t done, std::int64_t total, std::uint32_t now,
                                      bool force = false) {
    if (total <= 0) return std::nullopt;
    if (m_samples.empty()) start(now);
    if (m_samples.front().done < 0) m_samples.front().done = done;  // the rate starts at the first packet
    if (!force && m_shown && now - m_last < m_interval) return std::nullopt;
    m_last = now;
    m_shown = true;
    m_samples.push_back({now, done});
    while (m_samples.size() > 2 && now - m_samples[1].tick >= kRateWindowMs) m_samples.pop_front();
    TProgressView view;
    const std::int64_t clamped = done < 0 ? 0 : (done > total ? total : done);
    view.percent = static_cast<int>(clamped * 100 / total);
    view.text = msg::text(msg::ProgressPercent).arg(view.percent);
    const std::uint32_t span = now - m_samples.front().tick;
    const std::int64_t moved = done - m_samples.front().done;
    if (span > 0 && moved > 0) {
      // Seconds left, rounded up: the last second shows as 0:01, not 0:00.
      const std::int64_t left = ((total - clamped) * span + moved * 1000 - 1) / (moved * 1000);
      view.text += msg::text(msg::ProgressLeft).arg(timeLeftText(left));
    }
    return view;
  }

 private:
  struct Sample {
    std::uint32_t tick;
    std::int64_t done;
  };
  std::uint32_t m_interval;
  std::deque<Sample> m_samples;
  std::uint32_t m_last = 0;
  bool m_shown = false;
};

}  // namespace vrk
