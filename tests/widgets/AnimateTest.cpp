// The animation control: the clips of the resources with their frame counts,
// sizes and rates, the built-in copy clip, playing in a loop, transparency,
// and the centring rule.
#include "Animate.h"

#include "Exception.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace vrk {
namespace {

QApplication& app() {
  static int argc = 1;
  static char arg0[] = "app_animate_test";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: tearing Qt's GUI down from exit handlers crashes.
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

class AnimateTest : public ::testing::Test {
 protected:
  void SetUp() override { app(); }
};

TEST_F(AnimateTest, ResourceClipsHaveTheirFrameCountsSizesAndRates) {
  struct Clip {
    const char* name;
    int frames, width, height, rate;
  };
  const Clip clips[] = {{"AVI_1", 50, 80, 50, 15}, {"AVI_2", 7, 32, 32, 5}};
  TAnimate a;
  for (const Clip& c : clips) {
    a.setResName(QString::fromLatin1(c.name));
    EXPECT_EQ(a.frameCount(), c.frames) << c.name;
    EXPECT_EQ(a.frameWidth(), c.width) << c.name;
    EXPECT_EQ(a.frameHeight(), c.height) << c.name;
    EXPECT_EQ(a.frameRate(), c.rate) << c.name;
    // The control takes the clip's frame size.
    EXPECT_EQ(a.size(), QSize(c.width, c.height)) << c.name;
    // The clips are 8-bit images.
    EXPECT_EQ(a.frameImage(0).depth(), 8) << c.name;
  }
}

TEST_F(AnimateTest, FramesDifferAndHaveTransparentPixels) {
  TAnimate a;
  a.setResName(QStringLiteral("AVI_1"));
  const QImage f0 = a.frameImage(0).convertToFormat(QImage::Format_ARGB32);
  const QImage f1 = a.frameImage(1).convertToFormat(QImage::Format_ARGB32);
  EXPECT_NE(f0, f1);
  bool transparent = false;
  bool opaque = false;
  for (int y = 0; y < f0.height(); ++y) {
    for (int x = 0; x < f0.width(); ++x) {
      (qAlpha(f0.pixel(x, y)) == 0 ? transparent : opaque) = true;
    }
  }
  EXPECT_TRUE(transparent);
  EXPECT_TRUE(opaque);
}

TEST_F(AnimateTest, BuiltInCopyClip) {
  TAnimate a;
  a.setCommonAVI(TCommonAVI::aviCopyFiles);
  EXPECT_EQ(a.size(), QSize(272, 60));
  EXPECT_GT(a.frameCount(), 1);
  EXPECT_EQ(a.commonAVI(), TCommonAVI::aviCopyFiles);
  // Loading a resource clip replaces it.
  a.setResName(QStringLiteral("AVI_2"));
  EXPECT_EQ(a.commonAVI(), TCommonAVI::aviNone);
  EXPECT_EQ(a.size(), QSize(32, 32));
}

TEST_F(AnimateTest, UnknownClipFailsAndKeepsTheLoadedOne) {
  TAnimate a;
  a.setResName(QStringLiteral("AVI_2"));
  EXPECT_THROW(a.setResName(QStringLiteral("AVI_9")), Exception);
  EXPECT_EQ(a.resName(), QStringLiteral("AVI_2"));
  EXPECT_EQ(a.frameCount(), 7);
  TAnimate empty;
  EXPECT_THROW(empty.setActive(true), Exception);
  // A clip that cannot be loaded is not shown.
  EXPECT_THROW(empty.play(QStringLiteral("AVI_9")), Exception);
  EXPECT_TRUE(empty.isHidden());
}

TEST_F(AnimateTest, PlaysFromTheFirstFrameToTheLastOverAndOver) {
  TAnimate a;
  a.setResName(QStringLiteral("AVI_2"));  // 7 frames at 5 per second
  QList<int> seen;
  QObject::connect(&a, &TAnimate::frameChanged, [&](int f) { seen << f; });
  a.setActive(true);
  EXPECT_TRUE(a.active());
  QElapsedTimer t;
  t.start();
  while (seen.size() < 10 && t.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  a.setActive(false);
  EXPECT_FALSE(a.active());
  ASSERT_GE(seen.size(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(seen[i], i % 7);
  // A restart begins at the first frame again.
  a.setActive(true);
  EXPECT_EQ(a.currentFrame(), 0);
}

TEST_F(AnimateTest, PlayCentresOverTheWindowNotTheParentAndStopHides) {
  QWidget window;
  window.resize(664, 601);
  QWidget band(&window);
  band.setGeometry(10, 0, 300, 400);
  TAnimate a(&band);
  a.move(5, 192);
  a.hide();
  a.play(QStringLiteral("AVI_1"));
  EXPECT_EQ(a.pos(), QPoint(centredLeft(window.frameGeometry().width(), 80), 192));
  EXPECT_FALSE(a.isHidden());
  EXPECT_TRUE(a.active());
  a.play(TCommonAVI::aviCopyFiles);
  EXPECT_EQ(a.x(), centredLeft(window.frameGeometry().width(), 272));
  a.stop();
  EXPECT_TRUE(a.isHidden());
  EXPECT_FALSE(a.active());
}

TEST(Centring, TruncatesTowardZero) {
  EXPECT_EQ(centredLeft(664, 80), 292);
  EXPECT_EQ(centredLeft(664, 272), 196);
  EXPECT_EQ(centredLeft(664, 31), 316);  // 633 / 2
  EXPECT_EQ(centredLeft(77, 80), -1);    // -3 / 2
  EXPECT_EQ(centredLeft(10, 13), -1);
  EXPECT_EQ(centredLeft(10, 15), -2);  // -5 / 2
}

}  // namespace
}  // namespace vrk
