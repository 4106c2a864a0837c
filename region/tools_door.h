// The one door through which the tools look inside the HistAdmin region
// beyond the exported interface: the names of its kernel objects, the
// arithmetic of its layout, and what the undo journal beside it records.
// `histadmin status`, `watch` and `verify` need these; a tool includes
// this header, never a layout or a platform backend header.
//
// Everything here only reads, holds nothing and changes nothing. What is
// read from the journal was written by any account and is taken as a
// hint: a record that does not look like this build's journal reads as
// "nothing recorded".
//
// A new query belongs here as one more function over the object names
// below, with its OS part beside PeekSectionStart (platform/object_peek.h).
#pragma once

#include <cstdint>
#include <string>

#include "region/layout_rules.h"

namespace kha::inspection {

// The region's kernel objects.
enum class RegionObject { kMutex, kSection, kJournal };
inline constexpr RegionObject kRegionObjects[] = {RegionObject::kMutex, RegionObject::kSection,
                                                  RegionObject::kJournal};

// The fixed name of `object` in the system's own spelling,
// "Global\KESTICORE_HISTADMIN_MUTEX" and so on. A test build of the
// library puts a prefix of its own after "Global\".
const char* FixedObjectName(RegionObject object);

// The layout's arithmetic, for checks of header values: where slot k of
// either table lies, whether the two tables lie apart, and the free space
// between them (0 when they do not).
using kha::BytesBetweenTables;
using kha::FileSetRecordOffset;
using kha::FreeSpaceBetweenTables;
using kha::RepositoryRecordOffset;
using kha::TablesLieApart;

// A load or save that ran for the whole of a hold.
enum class Transfer { kNone, kLoadRunning, kLoadConfig, kSave };

struct JournalRecord {
  // False when no journal of this build's layout could be read; the
  // other fields are 0 then.
  bool readable = false;
  // The load or save whose holder died half way, until a run of the same
  // kind returns 0.
  Transfer interrupted = Transfer::kNone;
  // Operations that changed the region, and units of dead holders rolled
  // back, since the journal was made. Both wrap; a change of either means
  // the tables may have changed. Changes made by a build without this
  // count are not counted.
  uint32_t changes = 0;
  uint32_t takeovers = 0;
  // `changes` as the last set-up, load from config.dat or save that got
  // through left it: while the two differ, the table has changes that no
  // save has written.
  uint32_t settled = 0;
};

// The record of the journal named `journal_name` (as this machine spells
// it, without "Global\"). Cheap: one read of the journal's header.
JournalRecord ReadJournalRecord(const std::string& journal_name);

// The size of the mutex object that this build makes, which is also its
// layout (an object of another size is another build's); 0 where the
// mutex is no object of bytes (Windows).
uint64_t MutexObjectBytes();

// The process that the HistAdmin mutex named `mutex_name` says holds it,
// without waiting for it: its id as the mutex's own bytes record it (any
// account may write them, so a hint for people), 0 when they say nobody
// holds it, -1 when there is no such mutex or this system cannot tell.
int64_t MutexHolderProcess(const std::string& mutex_name);

}  // namespace kha::inspection
