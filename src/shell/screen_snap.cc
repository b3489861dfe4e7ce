#include "shell/screen_snap.h"

#include <cstdlib>

namespace gateway {
namespace {

// One axis: the start edge and the end edge (one past the last pixel) of window and screen.
int Snap(int start, int length, int screen_start, int screen_length, int distance) {
  const int screen_end = screen_start + screen_length;
  if (std::abs(start - screen_start) <= distance) return screen_start;
  if (std::abs(start + length - screen_end) <= distance) return screen_end - length;
  return start;
}

}  // namespace

QPoint SnapToScreenEdges(const QRect& frame, const QRect& screen, int distance) {
  return QPoint(Snap(frame.x(), frame.width(), screen.x(), screen.width(), distance),
                Snap(frame.y(), frame.height(), screen.y(), screen.height(), distance));
}

}  // namespace gateway
