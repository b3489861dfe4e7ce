// Cutting every network connection and stopping the server, as Disconnect and the close do.
#pragma once

#include <functional>

#include "channels/tcp_server.h"

namespace gateway {

// Runs `pump`, then, under the connection list's lock, runs `pump` and closes each connection
// in list order; then deactivates the server, and deactivates it once more. `pump` lets the
// window's pending events run. A failure (the deactivation's time-out included) skips the rest
// of the first part and is swallowed, as is a failure of the second deactivation: this always
// returns normally.
void CutConnectionsAndStop(TcpServer& server, const std::function<void()>& pump);

}  // namespace gateway
