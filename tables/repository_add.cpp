// Adding a repository: the lowest free slot (or a newly carved one) is
// taken into use with the caller's name and status, the next repository
// number and an empty chain. Nothing else of the record is written: the
// slot keeps whatever settings it held until the caller's update.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/bounded_string.h"
#include "tables/chain.h"
#include "tables/counts.h"
#include "tables/repository_table.h"

namespace kha {

int32_t HighestRepositoryNumber() {
  // Compared as signed 16-bit values: a number of 0x8000 or above never
  // counts as the largest.
  int32_t highest = 0;
  ForEachRepositoryInUse([&](int16_t, const RepositoryRecord& record) {
    const auto number = static_cast<int16_t>(record.ReposNumber);
    if (number > highest) highest = number;
    return true;
  });
  return highest;
}

int32_t AddOneRepository(const char* name, int32_t status, uint16_t* slot, uint16_t* number) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  if (name == nullptr || slot == nullptr || number == nullptr) return KHA_INVALID_POINTER;
  *slot = 0;
  const std::size_t length = BoundedLength(name, kMaxNameLength + 1);
  if (length == 0 || length > kMaxNameLength) return KHA_NAME_TOO_LONG;

  const JournalUnit unit;
  int16_t free_slot = 0;
  if (const int32_t result = FindFreeRepositorySlot(&free_slot); result != KHA_OK) return result;
  RepositoryRecord* record = RepositoryInTable(free_slot);
  if (record == nullptr) return KHA_NO_SPACE;
  if (!SaveHeaderForUndo(*header) || !SaveForUndo(*record)) return kUnitRefused;

  header->NumberRepos = CountRaised(header->NumberRepos);
  // The slot is not in use yet, so a number it held before does not count.
  const auto new_number = static_cast<uint16_t>(HighestRepositoryNumber() + 1);
  record->ReposNumber = new_number;
  std::memmove(record->RepositoryName, name, length);  // the name may lie in the view
  record->RepositoryName[length] = '\0';
  record->Status = status;
  record->SlotUsage = kSlotInUse;
  record->Index = free_slot;
  *slot = static_cast<uint16_t>(free_slot);
  *number = new_number;
  record->NumberFS = 0;
  record->FirstFS = 0;
  record->LastFS = 0;
  return FlushHistAdminView();
}

}  // namespace kha
