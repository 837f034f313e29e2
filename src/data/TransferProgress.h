// The progress text of a transfer indicator, shared by the main window, the
// mirror dialog and the command-line tools:
// n + msg::BytesReceived + rate + msg::BytesPerSecond.
#pragma once

#include "Messages.h"

#include <QString>

#include <cstdint>
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

}  // namespace vrk
