// The window's key commands, told by the physical key: with a Cyrillic layout the letters on the
// E and J keys (У and О) give the same commands.
#pragma once

#include <Qt>

namespace gateway {

enum class KeyCommand {
  kNone,
  kWiden,         // Ctrl+E: the settings area comes into view
  kToggleBorder,  // Ctrl+J: the bare strip, or the border back
};

// The command of a key press: the key with Ctrl held, whatever Shift and Alt do.
KeyCommand KeyCommandFor(int key, Qt::KeyboardModifiers modifiers);

}  // namespace gateway
