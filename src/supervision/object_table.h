// The supervised objects: 13-character records kept one after another in one string.
//
// Record layout (1-based): 1-4 object number, 5-7 minute counter (upper-case hex), 8-10 fault
// state ("000" or "001"), 11-13 limit.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "frames/translate_event.h"

namespace gateway {

inline constexpr std::size_t kObjectRecordLength = 13;

// A copy of one record with named access to its fields.
struct ObjectRecord {
  std::string text;  // always 13 characters

  std::string_view ObjectNumber() const { return std::string_view(text).substr(0, 4); }
  std::string_view MinuteCounter() const { return std::string_view(text).substr(4, 3); }
  std::string_view FaultState() const { return std::string_view(text).substr(7, 3); }
  std::string_view Limit() const { return std::string_view(text).substr(10, 3); }
  void SetMinuteCounter(std::string_view counter) { text.replace(4, 3, counter); }
  void SetFaultState(std::string_view state) { text.replace(7, 3, state); }
};

// Guards itself: a reset and a record update never interleave within a record.
class ObjectTable : public CounterReset {
 public:
  // Replaces the table with the records of an object list text: one record for every line that
  // starts with ':', in order; lines end at CR LF, LF or CR, and a ':' line shorter than 20
  // characters is padded with blanks. `pump` runs before each line (lets pending window events
  // run).
  void Load(std::string_view list_text, const std::function<void()>& pump);

  // Counter "000" for every record whose object number is `account` character for character;
  // an account that is not 4 characters matches nothing. Fault states stay.
  void ResetCounter(std::string_view account) override;

  // The number of whole records.
  std::size_t RecordCount() const;
  // A copy of record `index`; throws std::out_of_range past the last record.
  ObjectRecord Record(std::size_t index) const;
  // Applies `update` to record `index` under the table's lock; the record stays 13 characters.
  // Throws std::out_of_range past the last record, and std::logic_error (leaving the record as
  // it was) when `update` changes the record's length.
  void UpdateRecord(std::size_t index, const std::function<void(ObjectRecord&)>& update);
  // All records as one string.
  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::string records_;
};

enum class ObjectListLoad { kLoaded, kMissing };

inline constexpr char kObjectListFileName[] = "Zorvan_Server.txt";

// Reads "Zorvan_Server.txt" from the working folder. On kLoaded `file_text` holds the file's
// text and `table` its records; kMissing leaves both alone. A file that exists but cannot be
// read throws std::runtime_error with the reason.
ObjectListLoad LoadObjectList(ObjectTable& table, std::string& file_text,
                              const std::function<void()>& pump);

}  // namespace gateway
