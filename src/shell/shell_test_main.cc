// The shell's tests run inside one application object on the offscreen platform.
#include <QApplication>
#include <cstdlib>

#include "gtest/gtest.h"
#include "shell/window_look.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  gateway::ApplyWindowLook(application);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
