// The system's millisecond tick count: milliseconds since an arbitrary start,
// truncated to 32 bits so that it wraps like the platform's tick counter.
// Tests install their own source to reach the wrap and same-millisecond cases.
#pragma once

#include <cstdint>
#include <functional>

namespace vrk {

class TickClock final {
 public:
  using Source = std::function<std::uint32_t()>;

  static std::uint32_t now();
  // Replaces the tick source and returns the previous one; an empty source
  // restores the steady clock.
  static Source setSource(Source source);
};

}  // namespace vrk
