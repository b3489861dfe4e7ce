// Line rates that termios has no speed constant for, set through the kernel's termios2
// interface. Kept apart because <asm/termbits.h> clashes with <termios.h>.
#pragma once

namespace gateway {

// Sets input and output rate of the tty `fd` to `rate` bits per second (BOTHER). Returns false
// with errno set when the driver refuses it.
bool SetArbitraryBaudRate(int fd, int rate);

// The output rate of the tty `fd` as the driver reports it; -1 with errno set on failure.
int ReadBaudRate(int fd);

}  // namespace gateway
