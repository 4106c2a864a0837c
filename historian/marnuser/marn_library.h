// The state of the marnuser stand-in: what marn_read_hist_config read
// (source 1), the running historian's configuration (source 0, read from
// the configuration directory's snapshot), the tuning block it holds, and
// the configuration being put together by a save.
//
// A save is one fixed sequence of calls, and anything else is refused:
//   marn_put_tuning_data (any time before the write)
//   marn_free_hist_config               -> freed: an empty configuration
//   marn_init_hist_config(n, counts)    -> only when freed
//   for i = 0 .. n-1:
//     marn_put_rep_data(i, ...)         -> in order, with counts[i] arcs
//     marn_put_arc_data(i, j, ...)      -> j = 0 .. counts[i]-1 in order
//   marn_write_hist_config              -> when freed, or when complete
// After a successful write a new save starts again with the free.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration_files.h"
#include "config/history_config.h"

namespace kha::historian {

// The library's results: 0 is success, any other value a failure. Callers
// only look at zero or not; the values tell tests and debuggers why.
enum MarnResult : int {
  kMarnOk = 0,
  kMarnBadArgument = 1,      // a null pointer, a bad source, a malformed value
  kMarnOutOfRange = 2,       // an index beyond the configuration
  kMarnOutOfSequence = 3,    // a save call in the wrong place of the sequence
  kMarnNoConfiguration = 4,  // nothing read yet, or the files are missing or malformed
  kMarnWriteFailed = 5,      // config.dat and tune.dat could not be replaced
  kMarnInternalError = 6,    // out of memory or another unexpected failure
};

class MarnLibrary {
 public:
  // A failed read changes nothing; its reason is kept (LastReadFailure)
  // and written to standard error, so that a person finds out why a load
  // from the configuration files was refused.
  int ReadHistConfig();
  std::string LastReadFailure();
  int WriteHistConfig();
  int FreeHistConfig();
  int InitHistConfig(int number_repositories, const int16_t* file_set_counts);

  // The configuration a getter of `source` reads, or null (with the
  // reason in `result`).
  std::shared_ptr<const HistoryConfig> Source(int source, int& result);

  int PutRepository(int save_index, RepositoryConfig repository, int16_t file_set_count);
  int PutFileSet(int save_index, int arc_index, FileSetConfig file_set);

  // The tuning block last put or read; before either, the running
  // historian's.
  int GetTuning(TuningConfig& tuning);
  void PutTuning(const TuningConfig& tuning);

  // Forgets everything, as when the library has just been loaded.
  void Reset();

 private:
  enum class Phase { kIdle, kFreed, kBuilding };

  std::mutex mutex_;
  ConfigurationCache running_cache_;
  std::shared_ptr<const HistoryConfig> last_read_;
  std::string last_read_failure_;
  std::optional<TuningConfig> tuning_;
  Phase phase_ = Phase::kIdle;
  std::vector<int16_t> expected_file_sets_;
  std::vector<RepositoryConfig> building_;
};

// The one instance behind the C interface.
MarnLibrary& TheMarnLibrary();

}  // namespace kha::historian
