// One TCP connection of the simulator to the gateway, as a GPRS communicator holds it: a line
// goes out in one segment, and the bytes that come back are judged as the line's outcome.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "communicator-sim/reply_outcome.h"

namespace gateway {

// The IPv4 address of `host` (a name or dotted text) with `port`. Throws std::runtime_error
// when the name does not resolve.
sockaddr_in ResolveGateway(const std::string& host, int port);

class CommunicatorLink {
 public:
  explicit CommunicatorLink(const sockaddr_in& gateway);
  ~CommunicatorLink();
  CommunicatorLink(const CommunicatorLink&) = delete;
  CommunicatorLink& operator=(const CommunicatorLink&) = delete;

  // Makes sure a connection is open, opening a new one within `timeout` if there is none or
  // the gateway has closed the old one (see Refresh). Returns the reason when no connection
  // can be made, else the empty text.
  std::string Ensure(std::chrono::milliseconds timeout);
  // Drops bytes that arrived late for an earlier line and closes the connection if the gateway
  // has closed it. True while a connection is open.
  bool Refresh();
  // Starts opening a connection without waiting for it. Returns the reason when that fails at
  // once, else the empty text; Opening() then tells whether the opening is still under way.
  std::string BeginOpen();
  bool Opening() const { return opening_; }
  // Once the descriptor of an opening connection is writable (or its time is up): the empty
  // text when the connection is open, else the reason; a failed opening is closed.
  std::string FinishOpen();
  // Sends `line` with one send call (TCP_NODELAY is set, so it leaves as one segment). False
  // when the send fails; the connection is then closed.
  bool Send(std::string_view line);
  // Takes what has arrived since the send; the outcome once it is known.
  std::optional<Outcome> Collect();
  // The outcome once the time-out has passed without one.
  Outcome Expire();
  // The bytes received since the last send.
  const std::string& Reply() const { return reply_; }
  // For poll; -1 while closed.
  int Descriptor() const { return fd_; }
  void Close();

 private:
  sockaddr_in gateway_;
  int fd_ = -1;
  bool opening_ = false;
  std::string reply_;
  bool peer_closed_ = false;
};

}  // namespace gateway
