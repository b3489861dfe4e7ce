#include "frames/receiver_message.h"

#include <algorithm>

namespace gateway {

bool IsAcceptableMessage(std::string_view buffer) {
  return buffer.size() == kReceiverMessageLength && buffer.front() == '5';
}

std::string_view AccountOf(std::string_view message) {
  return message.substr(std::min<std::size_t>(7, message.size()), 4);
}

}  // namespace gateway
