// The program's look: the Fusion style on a light 3-D grey, and the window's 8-point face of the
// narrow sans-serif metrics its layout was drawn for.
#pragma once

#include <QFont>

class QApplication;

namespace gateway {

// The faces tried in turn for the window's text: metric twins of the narrow sans-serif the
// layout was drawn for; without any of them the system's sans-serif stands in, wider.
inline constexpr const char* kWindowFaces[] = {"Liberation Sans", "Arimo", "Arial"};

// Applies the style and palette to the whole application; call before the window is built.
void ApplyWindowLook(QApplication& application);

// The window's text: 8 points in the first of kWindowFaces the machine has.
QFont WindowFont();

}  // namespace gateway
