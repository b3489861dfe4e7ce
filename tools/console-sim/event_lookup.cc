#include "console-sim/event_lookup.h"

#include <array>
#include <initializer_list>
#include <string_view>

namespace gateway::console_sim {
namespace {

struct SingleByteCode {
  const char* code;
  std::uint8_t byte;
};

// Codes taken on every line digit, one payload byte.
constexpr std::array<SingleByteCode, 11> kTableA = {{{"E301", 0x68},
                                                     {"R301", 0x69},
                                                     {"E302", 0x6B},
                                                     {"R302", 0x6A},
                                                     {"E311", 0x6B},
                                                     {"R311", 0x6A},
                                                     {"E137", 0x6C},
                                                     {"R137", 0x6D},
                                                     {"E144", 0x6C},
                                                     {"R144", 0x6D},
                                                     {"E461", 0x6E}}};

struct FixedPairCodes {
  std::initializer_list<const char*> codes;
  std::uint8_t second;
};

struct ZoneRow {
  std::initializer_list<const char*> codes;
  std::uint8_t base;
};

// Codes with a zone on line digit '0': command byte base + 2k for zone bank k, then the zone
// byte 0x10 + (zone - 1) mod 32.
const ZoneRow kTableC[] = {
    {{"E110", "E111", "E114", "E115", "E120", "E121", "E122", "E123", "E130", "E134", "E135",
      "E150", "E154", "E162"},
     0x50},
    {{"R110", "R111", "R114", "R115", "R120", "R121", "R122", "R123", "R130", "R134", "R135",
      "R150", "R154", "R162"},
     0x58},
    {{"R309", "R373", "R376", "R380", "R381", "R384", "R389", "R393", "R571"}, 0x58},
    {{"E309", "E373", "E380", "E381", "E384", "E389", "E393"}, 0x78},
    {{"E376", "E571"}, 0x51},
    {{"E145"}, 0x30},
    {{"R145"}, 0x32},
};

struct LineOneRow {
  const char* code;
  std::uint8_t offset;  // payload = number + offset
};

// Line digit '1', one byte: the last two digits of the zone plus an offset.
constexpr std::array<LineOneRow, 6> kTableESingle = {{{"E130", 0x47},
                                                      {"R130", 0x57},
                                                      {"E373", 0x3F},
                                                      {"R373", 0x57},
                                                      {"E376", 0x3F},
                                                      {"R376", 0x57}}};

std::string Numbers(const std::vector<int>& values) {
  std::string text;
  for (int value : values) {
    if (!text.empty()) text += '/';
    text += std::to_string(value);
  }
  return text;
}

void AddTableA(std::uint8_t byte, std::vector<EventCandidate>& out) {
  for (const SingleByteCode& row : kTableA) {
    if (row.byte == byte) out.push_back({row.code, ""});
  }
}

void AddTableB(std::uint8_t first, std::uint8_t second, std::vector<EventCandidate>& out) {
  const FixedPairCodes rows[] = {
      {{"E305", "R305"}, 0x10}, {{"E611", "R611"}, 0x11}, {{"E627", "R627"}, 0x14}};
  if (first != 0x3F) return;
  for (const FixedPairCodes& row : rows) {
    if (row.second != second) continue;
    for (const char* code : row.codes) out.push_back({code, ""});
  }
}

void AddTableC(std::uint8_t command, std::uint8_t zone_byte, std::vector<EventCandidate>& out) {
  if (zone_byte < 0x10 || zone_byte > 0x2F) return;
  for (const ZoneRow& row : kTableC) {
    for (int bank = 0; bank < 5; ++bank) {
      if (command != row.base + 2 * bank) continue;
      const int zone = 32 * bank + (zone_byte - 0x10) + 1;
      for (const char* code : row.codes) out.push_back({code, "zone " + std::to_string(zone)});
    }
  }
}

void AddTableD(std::span<const std::uint8_t> p, std::vector<EventCandidate>& out) {
  if (p[0] != 0x08) return;
  const char* suffix = p[2] == 0x48 ? "E" : p[2] == 0x40 ? "R" : nullptr;
  if (suffix == nullptr) return;
  int user = 0;
  if (p[1] >= 0x10 && p[1] <= 0x1F) {
    user = p[1] - 0x10 + 1;
  } else if (p[1] >= 0x20 && p[1] <= 0x3F) {
    user = p[1] - 0x20 + 17;
  } else {
    return;
  }
  std::vector<int> groups;  // the group byte (g - 1) OR 0x10 folds some groups together
  for (int group = 1; group <= 99; ++group) {
    if (((group - 1) | 0x10) == p[3]) groups.push_back(group);
  }
  if (groups.empty()) return;
  const std::string detail = "user " + std::to_string(user) + " group " + Numbers(groups);
  for (const char* number : {"400", "401", "406", "409"}) {
    out.push_back({std::string(suffix) + number, detail});
  }
}

void AddTableESingle(std::uint8_t byte, std::vector<EventCandidate>& out) {
  for (const LineOneRow& row : kTableESingle) {
    const int number = byte - row.offset;
    if (number >= 0 && number <= 99) out.push_back({row.code, "zone " + std::to_string(number)});
  }
}

void AddTableEOpening(std::span<const std::uint8_t> p, std::vector<EventCandidate>& out) {
  if (p[0] != 0x02) return;
  const int user = p[1] - 0x27;
  if (user < 0 || user > 99) return;
  for (const auto& [code, offset] : {std::pair{"E401", 0x6F}, std::pair{"R401", 0x77}}) {
    const int group = p[2] - offset;
    if (group < 0 || group > 99) continue;
    out.push_back({code, "user " + std::to_string(user) + " group " + std::to_string(group)});
  }
}

}  // namespace

std::vector<EventCandidate> LookupEvents(std::uint8_t type, std::span<const std::uint8_t> payload) {
  std::vector<EventCandidate> out;
  if (type == 0x01) {
    switch (payload.size()) {
      case 1:
        AddTableA(payload[0], out);
        break;
      case 2:
        AddTableB(payload[0], payload[1], out);
        AddTableC(payload[0], payload[1], out);
        break;
      case 4:
        AddTableD(payload, out);
        break;
      default:
        break;
    }
  } else if (type == 0x03) {
    if (payload.size() == 1) {
      AddTableA(payload[0], out);
      AddTableESingle(payload[0], out);
    } else if (payload.size() == 3) {
      AddTableEOpening(payload, out);
    }
  }
  return out;
}

std::string DescribeEvents(const std::vector<EventCandidate>& candidates) {
  // Group codes by detail, keeping the order in which each detail first appears.
  std::vector<std::pair<std::string, std::string>> groups;  // detail, codes
  for (const EventCandidate& candidate : candidates) {
    auto it = groups.begin();
    while (it != groups.end() && it->first != candidate.detail) ++it;
    if (it == groups.end()) {
      groups.emplace_back(candidate.detail, candidate.code);
    } else {
      it->second += "/" + candidate.code;
    }
  }
  std::string text;
  for (const auto& [detail, codes] : groups) {
    if (!text.empty()) text += " or ";
    text += codes;
    if (!detail.empty()) text += " " + detail;
  }
  return text;
}

}  // namespace gateway::console_sim
