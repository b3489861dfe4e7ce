#include "shell/screen_snap.h"

#include "gtest/gtest.h"

namespace gateway {
namespace {

TEST(ScreenSnapTest, EdgesWithinTenPixelsMoveOntoTheScreenEdge) {
  const QRect screen(0, 0, 1920, 1080);
  const struct {
    QPoint frame_at;
    QPoint rests_at;
  } kCases[] = {
      {{500, 400}, {500, 400}},    // far from every edge
      {{10, 400}, {0, 400}},       // left edge at the limit
      {{11, 400}, {11, 400}},      // just beyond it
      {{-7, 400}, {0, 400}},       // partly off screen
      {{500, 6}, {500, 0}},        // top
      {{1690, 400}, {1695, 400}},  // right edge 5 pixels short of the screen's (225 wide)
      {{500, 1080 - 36 + 9}, {500, 1080 - 36}},  // bottom edge past the screen's
      {{4, 3}, {0, 0}},                          // a corner
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SnapToScreenEdges(QRect(c.frame_at, QSize(225, 36)), screen), c.rests_at)
        << c.frame_at.x() << "," << c.frame_at.y();
  }
}

TEST(ScreenSnapTest, WorksOnAScreenThatDoesNotStartAtTheOrigin) {
  const QRect second_screen(1920, 100, 1280, 1024);
  EXPECT_EQ(SnapToScreenEdges(QRect(1925, 700, 225, 36), second_screen), QPoint(1920, 700));
  EXPECT_EQ(SnapToScreenEdges(QRect(2500, 105, 225, 36), second_screen), QPoint(2500, 100));
}

}  // namespace
}  // namespace gateway
