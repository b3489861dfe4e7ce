#include "supervision/object_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace gateway {

namespace {

constexpr std::size_t kListLineFields = 20;  // a line's fields end at its 20th character

// The record a ':' line gives: positions 2-5, "000", "000", positions 18-20.
std::string RecordOfLine(std::string_view line) {
  std::string padded(line);
  if (padded.size() < kListLineFields) padded.resize(kListLineFields, ' ');
  std::string record;
  record.reserve(kObjectRecordLength);
  record.append(padded, 1, 4);
  record.append("000000");
  record.append(padded, 17, 3);
  return record;
}

// Calls `each` for every line of `text`; CR LF, LF and CR all end a line, and a final line
// break opens no further line.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      each(text.substr(start));
      return;
    }
    each(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

[[noreturn]] void ThrowUnreadable(int error) {
  throw std::runtime_error(std::string("Cannot open file \"") + kObjectListFileName + "\". " +
                           std::strerror(error));
}

}  // namespace

void ObjectTable::Load(std::string_view list_text, const std::function<void()>& pump) {
  {
    std::lock_guard lock(mutex_);
    records_.clear();
  }
  ForEachLine(list_text, [&](std::string_view line) {
    // Pumped events may reach the table themselves, so the lock is not held across them.
    pump();
    if (line.empty() || line.front() != ':') return;
    const std::string record = RecordOfLine(line);
    std::lock_guard lock(mutex_);
    records_ += record;
  });
}

void ObjectTable::ResetCounter(std::string_view account) {
  if (account.size() != 4) return;
  std::lock_guard lock(mutex_);
  const std::size_t count = records_.size() / kObjectRecordLength;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = i * kObjectRecordLength;
    if (records_.compare(at, 4, account) == 0) records_.replace(at + 4, 3, "000");
  }
}

std::size_t ObjectTable::RecordCount() const {
  std::lock_guard lock(mutex_);
  return records_.size() / kObjectRecordLength;
}

ObjectRecord ObjectTable::Record(std::size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= records_.size() / kObjectRecordLength) {
    throw std::out_of_range("object record index out of range");
  }
  return ObjectRecord{records_.substr(index * kObjectRecordLength, kObjectRecordLength)};
}

void ObjectTable::UpdateRecord(std::size_t index,
                               const std::function<void(ObjectRecord&)>& update) {
  std::lock_guard lock(mutex_);
  if (index >= records_.size() / kObjectRecordLength) {
    throw std::out_of_range("object record index out of range");
  }
  const std::size_t at = index * kObjectRecordLength;
  ObjectRecord record{records_.substr(at, kObjectRecordLength)};
  update(record);
  // A record of another length would shift every record after it.
  if (record.text.size() != kObjectRecordLength) {
    throw std::logic_error("object record update changed the record's length");
  }
  records_.replace(at, kObjectRecordLength, record.text);
}

std::string ObjectTable::Text() const {
  std::lock_guard lock(mutex_);
  return records_;
}

ObjectListLoad LoadObjectList(ObjectTable& table, std::string& file_text,
                              const std::function<void()>& pump) {
  const int fd = ::open(kObjectListFileName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ObjectListLoad::kMissing;
    ThrowUnreadable(errno);
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      ThrowUnreadable(error);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  file_text = text;
  table.Load(text, pump);
  return ObjectListLoad::kLoaded;
}

}  // namespace gateway
