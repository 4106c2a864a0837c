#include <cstdio>
#include <cstring>

#include "diag/region_dump.h"
#include "diag/text_field.h"
#include "region/region_view.h"

namespace kha {

void PrintOneFileSet(int16_t slot, int32_t position) {
  const FileSetRecord* in_region = FileSetInTable(slot);
  if (in_region == nullptr) return;
  FileSetRecord f;
  std::memcpy(&f, in_region, sizeof f);

  std::printf("\n");
  std::printf("FileSetNumber = %d\n", position);
  std::printf("Record Status = %d\n", f.RecordStatus);
  std::printf("FilePath = *%.*s*\n", TextLength(f.FilePath), f.FilePath);
  std::printf("Pending FilePath = *%.*s*\n", TextLength(f.PendingFilePath), f.PendingFilePath);
  std::printf("StartTime secs = %d, usecs = %d\n", f.StartTime.Seconds, f.StartTime.Microseconds);
  std::printf("EndTime secs = %d, usecs = %d\n", f.EndTime.Seconds, f.EndTime.Microseconds);
  std::printf("Param Source = %d\n", f.ParamSource);
  std::printf("Size = %d\n", f.Size);
  std::printf("Pending Size = %d\n", f.PendingSize);
  std::printf("Threshold = %f\n", static_cast<double>(f.Threshold));
  std::printf("Pending Threshold = %f\n", static_cast<double>(f.PendingThreshold));
  std::printf("Timespan = %d\n", f.Timespan);
  std::printf("Pending Timespan = %d\n", f.PendingTimespan);
  std::printf("Percentage = %f\n", static_cast<double>(f.Percentage));
  std::printf("SlotUsage = %d\n", f.SlotUsage);
  std::printf("History Status = %d\n", f.HistoryStatus);
  std::printf("Index = %d\n", f.Index);
  std::printf("ReposIndex = %d\n", f.ReposIndex);
  std::printf("NextIndex = %d\n", f.NextIndex);
}

}  // namespace kha
