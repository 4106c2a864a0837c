// Addressing inside the mapped HistAdmin region. Every function here is
// called with the HistAdmin mutex held.
//
// The region's bytes are written by every attached process, so nothing
// read from them is trusted: each record address is checked against the
// mapped view (not only against the header) before it is handed out, and
// a null pointer is the answer for anything that does not fit.
#pragma once

#include <cstdint>

#include "region/layout.h"

namespace kha {

// The header and tuning block of the mapped region; null when no view is
// mapped in this process (or the view is too small to hold them).
RegionHeader* HistAdminHeader();
TuningData* HistAdminTuning();

// Repository slot k at RegionSize - k * 1144; file-set slot k at
// 692 + (k - 1) * 600. Null when k < 1, k > 32767, or the record would not
// lie wholly inside the view behind the tuning block (for a repository:
// also when RegionSize exceeds the view). Neither checks the high-water
// marks: see RepositoryInTable / FileSetInTable for that. Each reads the
// header once; a scan takes one TableGeometry instead.
RepositoryRecord* RepositoryRecordAt(int32_t slot);
FileSetRecord* FileSetRecordAt(int32_t slot);

// The record of slot k when 1 <= k <= the table's high-water mark and the
// record lies inside the view; null otherwise.
RepositoryRecord* RepositoryInTable(int32_t slot);
FileSetRecord* FileSetInTable(int32_t slot);

// NextIndex of file-set slot k; 0 when the slot is not addressable.
int16_t NextFileSetIndex(int32_t slot);

// Free bytes between the two tables (TableGeometry::FreeSpace).
uint32_t FreeSpace();

// Lowest free slot of the table, or a newly carved one (SlotUsage 0,
// Index = k) when none is free and the free space allows it. Flushes, also
// when an existing free slot was found. -2022 when there is no room, nor
// any slot number left below 32768, nor space inside the view; -2004 when
// not mapped.
int32_t FindFreeRepositorySlot(int16_t* slot);
int32_t FindFreeFileSetSlot(int16_t* slot);

}  // namespace kha
