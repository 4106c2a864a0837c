#include "region/tools_door.h"

#include "platform/object_peek.h"
#include "platform/platform.h"
#include "region/journal_layout.h"

namespace kha::inspection {

const char* FixedObjectName(RegionObject object) {
  switch (object) {
    case RegionObject::kMutex:
      return platform::kHistAdminMutexName;
    case RegionObject::kSection:
      return platform::kHistAdminSectionName;
    case RegionObject::kJournal:
      return platform::kHistAdminJournalName;
  }
  return platform::kHistAdminSectionName;
}

JournalRecord ReadJournalRecord(const std::string& journal_name) {
  JournalHeader header{};
  if (!platform::PeekSectionStart(journal_name, &header, sizeof header) ||
      header.Magic != kJournalMagic || header.Layout != kJournalLayout) {
    return {};
  }
  JournalRecord record;
  record.readable = true;
  record.changes = header.Changes;
  record.takeovers = header.Takeovers;
  record.settled = header.Settled;
  switch (static_cast<TransferKind>(header.Interrupted)) {
    case TransferKind::kLoadFromMarn:
      record.interrupted = Transfer::kLoadRunning;
      break;
    case TransferKind::kLoadFromConfig:
      record.interrupted = Transfer::kLoadConfig;
      break;
    case TransferKind::kSaveToConfig:
      record.interrupted = Transfer::kSave;
      break;
    case TransferKind::kNone:
      break;
  }
  return record;
}

uint64_t MutexObjectBytes() { return platform::MutexObjectBytes(); }

int64_t MutexHolderProcess(const std::string& mutex_name) {
  return platform::PeekMutexHolder(mutex_name);
}

}  // namespace kha::inspection
