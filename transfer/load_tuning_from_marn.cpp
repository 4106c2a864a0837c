// The tuning block from the historian's library, with the paths and time
// stamps of config.dat and tune.dat. Both loads begin with it.
#include <cstring>

#include "historian/drell.h"
#include "kestihistadmin.h"
#include "region/header_access.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/transfer.h"

namespace kha {

int32_t LoadTuningFromMarn() {
  TuningData tuning;
  std::memset(&tuning, 0, sizeof(tuning));

  TuningList values;
  if (GetTuningList(&values) != 0) return KHA_LOAD_TUNING_FAILED;
  StoreTuningList(values, &tuning);

  // Aligned buffers for the library; copied into the packed block after.
  char path[kPathFieldSize] = {};
  uint8_t timestamp[DRELL_TIMESTAMP_SIZE] = {};
  if (getConfigPathAndTimestamp(path, timestamp) != 0) return KHA_CONFIG_PATH_FAILED;
  CopyPathField(tuning.ConfigFilePath, path);
  std::memcpy(tuning.ConfigFileTimestamp, timestamp, sizeof(timestamp));

  std::memset(path, 0, sizeof(path));
  std::memset(timestamp, 0, sizeof(timestamp));
  if (getTuningPathAndTimestamp(path, timestamp) != 0) return KHA_TUNING_PATH_FAILED;
  CopyPathField(tuning.TuneFilePath, path);
  std::memcpy(tuning.TuneFileTimestamp, timestamp, sizeof(timestamp));

  return PutTuningData(&tuning);
}

}  // namespace kha
