#include <cstdio>
#include <cstring>

#include "diag/region_dump.h"
#include "diag/text_field.h"
#include "region/region_view.h"
#include "tables/chain.h"

namespace kha {

void PrintOneRepository(int16_t slot) {
  const RepositoryRecord* in_region = RepositoryInTable(slot);
  if (in_region == nullptr) return;
  // One copy, so that every line shows the same record.
  RepositoryRecord r;
  std::memcpy(&r, in_region, sizeof r);

  std::printf("\n");
  std::printf("Repository Name = *%.*s*\n", TextLength(r.RepositoryName), r.RepositoryName);
  std::printf("Status = %d\n", r.Status);
  std::printf("FilePath = *%.*s*\n", TextLength(r.FilePath), r.FilePath);
  std::printf("Pending FilePath = *%.*s*\n", TextLength(r.PendingFilePath), r.PendingFilePath);
  std::printf("BackupFilePath = *%.*s*\n", TextLength(r.BackupFilePath), r.BackupFilePath);
  std::printf("PendingBackupFilePath = *%.*s*\n", TextLength(r.PendingBackupFilePath),
              r.PendingBackupFilePath);
  std::printf("NumberPoints = %d\n", r.NumberPoints);
  std::printf("Pending NumberPointers = %d\n", r.PendingNumberPoints);
  std::printf("QueueSize = %d\n", r.QueueSize);
  std::printf("Pending QueueSize = %d\n", r.PendingQueueSize);
  std::printf("GlobalFileSetSize = %d\n", r.GlobalFileSetSize);
  std::printf("GlobalThreshold = %f\n", static_cast<double>(r.GlobalThreshold));
  std::printf("Pending globalThreshold = %f\n", static_cast<double>(r.PendingGlobalThreshold));
  std::printf("GlobalTimeSpan = %d\n", r.GlobalTimeSpan);
  std::printf("Pending GlobalTimeSpan = %d\n", r.PendingGlobalTimeSpan);
  std::printf("FutureTime = %d\n", r.FutureTime);
  std::printf("PastTime = %d\n", r.PastTime);
  std::printf("CacheSize = %d\n", r.CacheSize);
  std::printf("Pending CacheSize = %d\n", r.PendingCacheSize);
  std::printf("InsertSize = %d\n", r.InsertSize);
  std::printf("Pending InsertSize = %d\n", r.PendingInsertSize);
  std::printf("EmptyFilesets = %d\n", r.EmptyFilesets);
  std::printf("Pending EmptyFilesets = %d\n", r.PendingEmptyFilesets);
  std::printf("SlotUsage = %d\n", r.SlotUsage);
  std::printf("Index = %d\n", r.Index);
  std::printf("NumberFS = %d\n", r.NumberFS);
  std::printf("FirstFS = %d\n", r.FirstFS);
  std::printf("LastFS = %d\n", r.LastFS);

  ForEachFileSetInChain(r, [](int16_t fs_slot, const FileSetRecord&, int32_t position) {
    PrintOneFileSet(fs_slot, position);
    return true;
  });
}

}  // namespace kha
