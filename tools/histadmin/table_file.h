// The whole table in one file, for backup and restore (`histadmin export`
// and `import`): the region header, the tuning block and every repository
// in use with its file sets in chain order, each record with the field
// names of kestihistadmin.h as `--json` prints them, plus the file sets'
// spare bytes, so that nothing a caller can write is left out.
//
//   {"Format": "kestihistadmin table", "Version": 1,
//    "Header": {...}, "Tuning": {...},
//    "Repositories": [{..., "FileSets": [{...}, ...]}, ...]}
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kha::histadmin {

// The attached region as a table file. Call it with the mutex held.
// Fails when a name or path is not UTF-8 or a float is not finite (JSON
// would not carry it back).
nlohmann::ordered_json ExportTable();

// What an import did beyond the records themselves: where it could not
// give a record its exported slot, number or chain position.
struct ImportOutcome {
  int repositories = 0;
  int file_sets = 0;
  std::vector<std::string> differences;
};

// Writes `table` into the attached region, which must hold no repository
// and no file set. Every record is checked before anything is written;
// whatever fails half way is taken out again. With the mutex held. Into
// an empty region the tables come out as exported (import_placement.h
// says how, and when not: each difference is listed in the outcome).
ImportOutcome ImportTable(const nlohmann::ordered_json& table);

}  // namespace kha::histadmin
