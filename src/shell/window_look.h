// The program's look: the Fusion style on a light 3-D grey.
#pragma once

class QApplication;

namespace gateway {

// Applies the style and palette to the whole application; call before the window is built.
void ApplyWindowLook(QApplication& application);

}  // namespace gateway
