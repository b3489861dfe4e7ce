#include "frames/translate_event.h"

#include <algorithm>
#include <cstddef>

#include "frames/bytes.h"
#include "frames/conversion_error.h"
#include "frames/receiver_message.h"

namespace gateway {

namespace {

// A field of the receiver line by its 0-based offset and length.
struct Field {
  std::size_t at;
  std::size_t length;
};

constexpr std::size_t kLineDigitAt = 3;
constexpr Field kAccount{7, 4};
constexpr Field kCode{11, 4};  // qualifier letter and the three-digit event code
constexpr Field kGroup{15, 2};
constexpr Field kZone{17, 3};
constexpr Field kUser{18, 2};  // the last two digits of the zone field

// The vocabulary of the console. Rows that share a payload rule list their codes in one text,
// four characters a code, separated by single blanks.

// Table A: every line digit, one byte.
struct SingleByteRow {
  std::string_view code;
  std::uint8_t byte;
};
constexpr SingleByteRow kTableA[] = {
    {"E301", 0x68}, {"R301", 0x69},  //
    {"E302", 0x6B}, {"R302", 0x6A},  // the restore has the lower letter, unlike 301
    {"E311", 0x6B}, {"R311", 0x6A},  //
    {"E137", 0x6C}, {"R137", 0x6D},  //
    {"E144", 0x6C}, {"R144", 0x6D},  //
    {"E461", 0x6E},
};

// Table B: line '0', two fixed bytes; event and restore alike.
struct FixedPairRow {
  std::string_view codes;
  std::uint8_t first;
  std::uint8_t second;
};
constexpr FixedPairRow kTableB[] = {
    {"E305 R305", 0x3F, 0x10},
    {"E611 R611", 0x3F, 0x11},
    {"E627 R627", 0x3F, 0x14},
};

// Table C: line '0', the zone encoded on the row's base byte.
struct ZoneRow {
  std::string_view codes;
  std::uint8_t base;
};
constexpr ZoneRow kTableC[] = {
    {"E110 E111 E114 E115 E120 E121 E122 E123 E130 E134 E135 E150 E154 E162", 0x50},
    {"R110 R111 R114 R115 R120 R121 R122 R123 R130 R134 R135 R150 R154 R162", 0x58},
    {"R309 R373 R376 R380 R381 R384 R389 R393 R571", 0x58},
    {"E309 E373 E380 E381 E384 E389 E393", 0x78},
    {"E376 E571", 0x51},
    {"E145", 0x30},
    {"R145", 0x32},
};

// Table D: line '0', openings and closings: 08, user byte, the row's byte, group byte.
struct OpeningRow {
  std::string_view codes;
  std::uint8_t third;
};
constexpr OpeningRow kTableD[] = {
    {"E400 E401 E406 E409", 0x48},  // H
    {"R400 R401 R406 R409", 0x40},  // @
};

// Table E, line '1': one byte, the user number plus the row's addend.
struct UserSumRow {
  std::string_view code;
  std::uint8_t user_add;
};
constexpr UserSumRow kTableEUser[] = {
    {"E130", 0x47}, {"R130", 0x57},  //
    {"E373", 0x3F}, {"R373", 0x57},  //
    {"E376", 0x3F}, {"R376", 0x57},
};

// Table E, line '1': 02, user number + 0x27, group number plus the row's addend.
struct GroupSumRow {
  std::string_view code;
  std::uint8_t group_add;
};
constexpr GroupSumRow kTableEGroup[] = {
    {"E401", 0x6F},
    {"R401", 0x77},
};

constexpr bool IsCodeList(std::string_view codes) {
  if (codes.size() % 5 != 4) return false;
  for (std::size_t at = 4; at < codes.size(); at += 5) {
    if (codes[at] != ' ') return false;
  }
  return true;
}

template <typename Row, std::size_t kCount>
constexpr bool AllCodeLists(const Row (&rows)[kCount]) {
  for (const Row& row : rows) {
    if (!IsCodeList(row.codes)) return false;
  }
  return true;
}
static_assert(AllCodeLists(kTableB) && AllCodeLists(kTableC) && AllCodeLists(kTableD));

bool ListHolds(std::string_view codes, std::string_view code) {
  for (std::size_t at = 0; at < codes.size(); at += 5) {
    if (codes.substr(at, 4) == code) return true;
  }
  return false;
}

template <typename Row, std::size_t kCount>
const Row* FindByList(const Row (&rows)[kCount], std::string_view code) {
  const Row* end = rows + kCount;
  const Row* row = std::find_if(rows, end, [&](const Row& r) { return ListHolds(r.codes, code); });
  return row == end ? nullptr : row;
}

template <typename Row, std::size_t kCount>
const Row* FindByCode(const Row (&rows)[kCount], std::string_view code) {
  const Row* end = rows + kCount;
  const Row* row = std::find_if(rows, end, [&](const Row& r) { return r.code == code; });
  return row == end ? nullptr : row;
}

std::string_view FieldOf(std::string_view message, Field field) {
  return message.substr(std::min(field.at, message.size()), field.length);
}

// Fields are read only when a row needs them, so a malformed field that the code does not use
// is no error.
int ReadField(std::string_view message, Field field) {
  return ReadDecimal(FieldOf(message, field));
}

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

// For users 17 to 48 the OR is the same as adding; users 49 to 99 carry that rule on.
std::uint8_t OpeningUserByte(int user) {
  const int u = std::max(user, 1);
  return u <= 16 ? Byte(0x10 + (u - 1)) : Byte((u - 17) | 0x20);
}

std::uint8_t OpeningGroupByte(int group) { return Byte((std::max(group, 1) - 1) | 0x10); }

void AppendLineZeroPayload(std::string_view message, std::string_view code, Bytes& payload) {
  if (const FixedPairRow* row = FindByList(kTableB, code)) {
    payload.insert(payload.end(), {row->first, row->second});
  } else if (const ZoneRow* row = FindByList(kTableC, code)) {
    const std::array<std::uint8_t, 2> zone = EncodeZone(ReadField(message, kZone), row->base);
    payload.insert(payload.end(), zone.begin(), zone.end());
  } else if (const OpeningRow* row = FindByList(kTableD, code)) {
    const std::uint8_t user = OpeningUserByte(ReadField(message, kUser));
    const std::uint8_t group = OpeningGroupByte(ReadField(message, kGroup));
    payload.insert(payload.end(), {0x08, user, row->third, group});
  }
}

void AppendLineOnePayload(std::string_view message, std::string_view code, Bytes& payload) {
  if (const UserSumRow* row = FindByCode(kTableEUser, code)) {
    payload.push_back(Byte(ReadField(message, kUser) + row->user_add));
  } else if (const GroupSumRow* row = FindByCode(kTableEGroup, code)) {
    const int user = ReadField(message, kUser);
    const int group = ReadField(message, kGroup);
    payload.insert(payload.end(), {0x02, Byte(user + 0x27), Byte(group + row->group_add)});
  }
}

}  // namespace

std::array<std::uint8_t, 2> EncodeZone(int zone, std::uint8_t base) {
  const int z = std::max(zone, 1);
  const int bank = (z - 1) / 32;
  return {Byte(base + 2 * bank), Byte(0x10 + (z - 1) % 32)};
}

ConsoleFrame TranslateEvent(std::string_view message, CounterReset& heard) {
  // The object counts as heard even when a field of its message turns out to be malformed.
  heard.ResetCounter(AccountOf(message));

  const int account = ReadField(message, kAccount);
  const std::string_view code = FieldOf(message, kCode);
  const char line_digit = message.size() > kLineDigitAt ? message[kLineDigitAt] : '\0';

  std::uint8_t type = kTypeEvent;
  Bytes payload;
  if (const SingleByteRow* row = FindByCode(kTableA, code)) payload.push_back(row->byte);
  if (line_digit == '0') {
    AppendLineZeroPayload(message, code, payload);
  } else if (line_digit == '1') {
    type = kTypeLineOne;
    AppendLineOnePayload(message, code, payload);
  }
  return BuildEventFrame(EncodeObjectNumber(account), type, payload);
}

}  // namespace gateway
