#include "interrupted_transfer.h"

#include "region/tools_door.h"
#include "region_names.h"

namespace kha::histadmin {

std::string InterruptedTransfer() {
  const inspection::JournalRecord record = inspection::ReadJournalRecord(
      RegionObjectName(inspection::FixedObjectName(inspection::RegionObject::kJournal)));
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

}  // namespace kha::histadmin
