#include "shell/key_commands.h"

namespace gateway {
namespace {

// Key codes of the Cyrillic letters on the E and J keys of the Russian and Ukrainian layouts,
// capital and small.
constexpr int kCyrillicCapitalU = 0x0423;
constexpr int kCyrillicSmallU = 0x0443;
constexpr int kCyrillicCapitalO = 0x041E;
constexpr int kCyrillicSmallO = 0x043E;

}  // namespace

KeyCommand KeyCommandFor(int key, Qt::KeyboardModifiers modifiers) {
  if (!modifiers.testFlag(Qt::ControlModifier)) return KeyCommand::kNone;
  switch (key) {
    case Qt::Key_E:
    case kCyrillicCapitalU:
    case kCyrillicSmallU:
      return KeyCommand::kWiden;
    case Qt::Key_J:
    case kCyrillicCapitalO:
    case kCyrillicSmallO:
      return KeyCommand::kToggleBorder;
    default:
      return KeyCommand::kNone;
  }
}

}  // namespace gateway
