// Any text as the object list: loading, then counter resets and record reads, must keep every
// record 13 characters and reset exactly the matching records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "supervision/object_table.h"

namespace gateway {
namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "object_list_fuzz: %s\n", what);
  std::abort();
}

// Resets `account` and checks that exactly the records with that number went back to "000",
// with nothing else changed.
void ResetAndCheck(ObjectTable& table, std::string_view account) {
  std::string expected = table.Text();
  for (std::size_t at = 0; at + kObjectRecordLength <= expected.size(); at += kObjectRecordLength) {
    if (std::string_view(expected).substr(at, 4) == account) expected.replace(at + 4, 3, "000");
  }
  table.ResetCounter(account);
  Require(table.Text() == expected, "reset missed a matching record or changed something else");
}

}  // namespace
}  // namespace gateway

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gateway;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ObjectTable table;
  table.Load(text, [] {});

  const std::size_t count = table.RecordCount();
  Require(table.Text().size() == count * kObjectRecordLength, "table text is not whole records");
  for (std::size_t i = 0; i < count; ++i) {
    const ObjectRecord record = table.Record(i);
    Require(record.text.size() == kObjectRecordLength, "record not 13 characters");
    Require(record.MinuteCounter() == "000" && record.FaultState() == "000",
            "a loaded record is not fresh");
  }

  // Age every record as the supervision tick would, then mark objects heard one by one.
  for (std::size_t i = 0; i < count; ++i) {
    table.UpdateRecord(i, [](ObjectRecord& record) {
      record.SetMinuteCounter("0A1");
      record.SetFaultState("001");
    });
  }
  for (std::size_t i = 0; i < count && i < 8; ++i) {
    const std::string number(table.Record(i).ObjectNumber());
    ResetAndCheck(table, number);
  }
  ResetAndCheck(table, text.substr(0, 4));
  Require(table.RecordCount() == count, "the record count changed");
  for (std::size_t i = 0; i < count; ++i) {
    Require(table.Record(i).text.size() == kObjectRecordLength, "record not 13 characters");
  }
  return 0;
}
