#include "journal_record.h"

#include "region_names.h"

namespace kha::histadmin {

inspection::JournalRecord RegionJournalRecord() {
  return inspection::ReadJournalRecord(
      RegionObjectName(inspection::FixedObjectName(inspection::RegionObject::kJournal)));
}

std::string InterruptedTransfer(const inspection::JournalRecord& record) {
  switch (record.interrupted) {
    case inspection::Transfer::kLoadRunning:
      return "load running";
    case inspection::Transfer::kLoadConfig:
      return "load config";
    case inspection::Transfer::kSave:
      return "save";
    case inspection::Transfer::kNone:
      break;
  }
  return "";
}

std::optional<bool> HasUnsavedChanges(const inspection::JournalRecord& record) {
  if (!record.readable) return std::nullopt;
  return record.changes != record.settled;
}

}  // namespace kha::histadmin
