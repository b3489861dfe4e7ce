// Which receiver events an event frame's type byte and payload can stand for: the gateway's
// translation tables read backwards.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gateway::console_sim {

struct EventCandidate {
  std::string code;    // "E130"
  std::string detail;  // "zone 5", "user 3 group 2", or empty

  friend bool operator==(const EventCandidate&, const EventCandidate&) = default;
};

// Every event the tables turn into this payload under this type byte (0x01: line digit other
// than '1', 0x03: line digit '1'). Zones count 1 to 160 and the users of openings 1 to 48, as
// far as the tables define them; a zone or user field of 0 reads as 1 there, so 1 stands for
// both. Empty when no event gives these bytes.
std::vector<EventCandidate> LookupEvents(std::uint8_t type, std::span<const std::uint8_t> payload);

// "E130 zone 5"; candidates with the same detail share it ("E302/E311"), different readings
// are joined by " or ". Empty for no candidates.
std::string DescribeEvents(const std::vector<EventCandidate>& candidates);

}  // namespace gateway::console_sim
