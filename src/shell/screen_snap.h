// The window's snap to the screen's edges when the operator moves it close to one.
#pragma once

#include <QPoint>
#include <QRect>

namespace gateway {

inline constexpr int kSnapDistance = 10;

// Where a window frame at `frame` comes to rest inside `screen`: each edge that lies within
// `distance` pixels of the screen's matching edge, on either side of it, moves onto that edge.
// The left and top edges win over the right and bottom ones.
QPoint SnapToScreenEdges(const QRect& frame, const QRect& screen, int distance = kSnapDistance);

}  // namespace gateway
