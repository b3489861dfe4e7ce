// Whether the machine's own host name resolves: the start-up goes past its settings only then.
#pragma once

namespace gateway {

// Reads the host name (at most 64 bytes) and asks the system resolver for it.
bool LocalHostResolves();

}  // namespace gateway
