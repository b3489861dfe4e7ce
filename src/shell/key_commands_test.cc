#include "shell/key_commands.h"

#include "gtest/gtest.h"

namespace gateway {
namespace {

TEST(KeyCommandsTest, CtrlWithTheEOrJKeyWhateverShiftAndAltDo) {
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    KeyCommand command;
  } kCases[] = {
      {Qt::Key_E, Qt::ControlModifier, KeyCommand::kWiden},
      {Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier, KeyCommand::kWiden},
      {Qt::Key_E, Qt::ControlModifier | Qt::AltModifier, KeyCommand::kWiden},
      {Qt::Key_E, Qt::NoModifier, KeyCommand::kNone},
      {Qt::Key_E, Qt::ShiftModifier | Qt::AltModifier, KeyCommand::kNone},
      {Qt::Key_J, Qt::ControlModifier, KeyCommand::kToggleBorder},
      {Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier, KeyCommand::kToggleBorder},
      {Qt::Key_J, Qt::AltModifier, KeyCommand::kNone},
      {Qt::Key_K, Qt::ControlModifier, KeyCommand::kNone},
      {Qt::Key_Control, Qt::ControlModifier, KeyCommand::kNone},
      // Russian and Ukrainian layouts put У on the E key and О on the J key.
      {0x0423, Qt::ControlModifier, KeyCommand::kWiden},
      {0x0443, Qt::ControlModifier, KeyCommand::kWiden},
      {0x041E, Qt::ControlModifier, KeyCommand::kToggleBorder},
      {0x043E, Qt::ControlModifier | Qt::ShiftModifier, KeyCommand::kToggleBorder},
      {0x0423, Qt::NoModifier, KeyCommand::kNone},
      // Latin O is not on the J key.
      {Qt::Key_O, Qt::ControlModifier, KeyCommand::kNone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(KeyCommandFor(c.key, c.modifiers), c.command)
        << "key " << std::hex << c.key << " modifiers " << c.modifiers.toInt();
  }
}

}  // namespace
}  // namespace gateway
