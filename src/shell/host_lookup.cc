#include "shell/host_lookup.h"

#include <netdb.h>
#include <unistd.h>

namespace gateway {

bool LocalHostResolves() {
  char name[65] = {};
  // A failure to read the name leaves it empty, which then does not resolve.
  gethostname(name, 64);
  addrinfo* found = nullptr;
  const int result = getaddrinfo(name, nullptr, nullptr, &found);
  if (found != nullptr) freeaddrinfo(found);
  return result == 0;
}

}  // namespace gateway
