// A caller's record to take values from while a record of the region is
// written. The caller's buffer may lie anywhere, even in the view on top of
// the record being written; only then are its bytes copied aside first, so
// that no field is read after it has been overwritten. Otherwise the values
// are read straight from the caller's buffer, sparing a copy of the whole
// record on every update.
#pragma once

#include <cstdint>
#include <cstring>

namespace kha {

template <typename Record>
class CallerRecord {
 public:
  CallerRecord(const void* record, const Record* stored) {
    const auto from = reinterpret_cast<std::uintptr_t>(record);
    const auto to = reinterpret_cast<std::uintptr_t>(stored);
    const bool apart = from + sizeof(Record) <= to || to + sizeof(Record) <= from;
    if (apart) {
      record_ = static_cast<const Record*>(record);
    } else {
      std::memcpy(&copy_, record, sizeof(Record));
      record_ = &copy_;
    }
  }
  CallerRecord(const CallerRecord&) = delete;
  CallerRecord& operator=(const CallerRecord&) = delete;

  const Record* operator->() const { return record_; }

 private:
  const Record* record_ = nullptr;
  Record copy_;
};

}  // namespace kha
