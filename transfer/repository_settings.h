// Between list R, as the historian's library exchanges a repository's
// settings, and the settings of a repository record. The list holds one
// value per setting; the record keeps most of them twice, in effect and
// pending. Both loads store the list as the pending values (the load from
// the running historian then puts them into effect as well), and the
// save hands the library the pending values.
#pragma once

#include <cstdint>

#include "region/layout.h"
#include "transfer/historian_lists.h"
#include "transfer/transfer.h"

namespace kha {

// The list's paths into PendingFilePath and PendingBackupFilePath, its
// values into the pending values and into the settings without a twin
// (GlobalFileSetSize, PastTime, FutureTime), its file-set count into
// NumberFS. Nothing else of the record changes.
void StoreSettingsAsPending(const RepositoryList& list, RepositoryRecord* record);

// Every path and value in effect takes the value of its pending twin.
void PutPendingSettingsIntoEffect(RepositoryRecord* record);

// The list of the record's pending settings, announcing `file_set_count`
// arcs to follow.
RepositoryList PendingSettingsOf(const RepositoryRecord& record, int16_t file_set_count);

// The defaults that the repository's file sets without values of their
// own take.
GlobalFileSetValues GlobalFileSetValuesOf(const RepositoryList& list);

}  // namespace kha
