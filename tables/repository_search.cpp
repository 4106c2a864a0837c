// Finding a repository by name or by number: a scan of the repository
// table in slot order, the first repository in use that matches wins.
// Names are not unique in the table; the lowest slot answers.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/bounded_string.h"
#include "tables/chain.h"
#include "tables/name_compare.h"
#include "tables/repository_table.h"

namespace kha {

int32_t SearchRepositoryByName(const char* name, uint16_t* slot, uint16_t* number) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (name == nullptr || slot == nullptr || number == nullptr) return KHA_INVALID_POINTER;
  // The outputs are written before the name is judged: 0 after any failure.
  *slot = 0;
  *number = 0;
  const std::size_t length = BoundedLength(name, kMaxNameLength + 1);
  if (length == 0 || length > kMaxNameLength) return KHA_NAME_TOO_LONG;

  const RepositoryNameKey key(name, length);
  const RepositoryRun run = RepositoryRunInTable();
  // The slot where the record lies, which is its Index in any region whose
  // slot fields are intact. The name is looked at before SlotUsage: it
  // decides for almost every record, and SlotUsage lies in another cache
  // line of the record.
  const auto found = [&](int32_t k) {
    const RepositoryRecord& record = run.At(k);
    if (!key.Matches(record.RepositoryName) || record.SlotUsage != kSlotInUse) return false;
    *slot = static_cast<uint16_t>(k);
    *number = record.ReposNumber;
    return true;
  };
  // Four records per step, one load each, with one branch between them:
  // the loads overlap, and a step that may hold the name is gone through
  // record by record, lowest slot first.
  int32_t k = 1;
  for (; k + 3 <= run.count; k += 4) {
    // Bitwise on purpose: all four tests run, without a branch each.
    const unsigned may_match = static_cast<unsigned>(key.MayMatch(run.At(k).RepositoryName)) |
                               static_cast<unsigned>(key.MayMatch(run.At(k + 1).RepositoryName)) |
                               static_cast<unsigned>(key.MayMatch(run.At(k + 2).RepositoryName)) |
                               static_cast<unsigned>(key.MayMatch(run.At(k + 3).RepositoryName));
    if (may_match != 0 && (found(k) || found(k + 1) || found(k + 2) || found(k + 3))) return KHA_OK;
  }
  for (; k <= run.count; ++k) {
    if (found(k)) return KHA_OK;
  }
  return KHA_OK;
}

int32_t SearchRepositoryByNumber(uint16_t number, uint16_t* slot) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (slot == nullptr) return KHA_INVALID_POINTER;
  *slot = 0;
  const RepositoryRun run = RepositoryRunInTable();
  for (int32_t k = 1; k <= run.count; ++k) {
    const RepositoryRecord& record = run.At(k);
    if (record.ReposNumber != number || record.SlotUsage != kSlotInUse) continue;
    *slot = static_cast<uint16_t>(k);
    break;
  }
  return KHA_OK;
}

}  // namespace kha
