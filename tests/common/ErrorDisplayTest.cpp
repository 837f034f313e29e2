#include "Clock.h"
#include "ErrorCapture.h"
#include "Exception.h"

#include <gtest/gtest.h>

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
