#include "channels/arbitrary_baud_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace gateway {

bool SetArbitraryBaudRate(int fd, int rate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~CBAUD;
  settings.c_cflag |= BOTHER;
  settings.c_cflag &= ~(CBAUD << IBSHIFT);
  settings.c_cflag |= BOTHER << IBSHIFT;
  settings.c_ispeed = static_cast<speed_t>(rate);
  settings.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(fd, TCSETS2, &settings) == 0;
}

int ReadBaudRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return -1;
  return static_cast<int>(settings.c_ospeed);
}

}  // namespace gateway
