#include "Clock.h"

#include <chrono>

namespace vrk {
namespace {

TickClock::Source& source() {
  static TickClock::Source s;
  return s;
}

}  // namespace

std::uint32_t TickClock::now() {
  if (source()) return source()();
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(ms);
}

TickClock::Source TickClock::setSource(Source s) {
  Source old = std::move(source());
  source() = std::move(s);
  return old;
}

}  // namespace vrk
