#include "channels/server_stop.h"

#include <exception>
#include <mutex>

namespace gateway {

void CutConnectionsAndStop(TcpServer& server, const std::function<void()>& pump) {
  try {
    pump();
    {
      std::lock_guard lock(server.ListLock());
      server.ForEachConnection([&](TcpConnection& connection) {
        pump();
        connection.Close();
      });
    }
    server.Deactivate();
  } catch (const std::exception&) {
  }
  try {
    server.Deactivate();
  } catch (const std::exception&) {
  }
}

}  // namespace gateway
