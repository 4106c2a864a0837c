// Puts an exported table back into an empty region through the exported
// interface alone, where the library, not the caller, picks every slot and
// number: a repository goes to the lowest free slot (or a new one after
// the high-water mark) and gets one more than the largest number among the
// repositories in use; a file set goes to the lowest free file-set slot
// and to the end of its repository's chain.
//
// So the import plays a history that ends in the exported table. Every
// slot is first taken by a placeholder, each seeing only the slots below
// it, so that each holds the lowest number it can. Then the repositories
// go in in the order of their numbers: the placeholder in the slot goes,
// and the high-water mark is set for the one add (PutKestiHistAdminHeader)
// so that the search sees the fewest slots whose largest number is the one
// below the number wanted. Where no slots hold that number, placeholders
// go and come back, each with one more than the largest number among the
// slots it sees, until one holds it; the ways of doing so are rehearsed on
// a copy of the table, which follows the library's rules, before any is
// made. File-set slots are all carved first for one repository, then
// handed one by one, in chain order, to the repository that owns them:
// the slot freed is the only free one, so the add takes it and appends it
// to the chain. Placeholders go at the end, leaving their slots carved and
// free.
//
// Where no way is found (numbers alike, 0 or above 32767, as a hand-made
// or wrapped table may have), the repositories are added in slot order
// instead, and each record that did not get its exported slot or number
// is named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestihistadmin.h"

namespace kha::histadmin {

struct RepositoryToPlace {
  KestiHistAdminRepository record;               // slot (Index) and number as exported
  std::vector<KestiHistAdminFileSet> file_sets;  // chain order, slots as exported
};

// Adds `repositories` (in slot order) with their file sets into the
// attached, empty region, with the mutex held, carving `repos_high_water`
// repository and `fs_high_water` file-set slots. Each record's settings
// are written as exported. Returns the differences from the export; fails
// (FailWithCode) on a code from the library, leaving what it added for the
// caller to take out.
std::vector<std::string> PlaceImportedTable(const std::vector<RepositoryToPlace>& repositories,
                                            int16_t repos_high_water, int16_t fs_high_water);

}  // namespace kha::histadmin
