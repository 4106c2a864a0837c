#include "marnuser/marn_library.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "marnuser.h"

namespace kha::historian {

int MarnLibrary::ReadHistConfig() {
  std::string failure;
  auto config = ReadConfiguration(ConfigSource::kStored, &failure);
  if (!config) {
    std::fprintf(stderr, "marnuser: the configuration files cannot be read: %s\n", failure.c_str());
    const std::lock_guard lock(mutex_);
    last_read_failure_ = std::move(failure);
    return kMarnNoConfiguration;
  }
  auto read = std::make_shared<const HistoryConfig>(std::move(*config));
  const std::lock_guard lock(mutex_);
  last_read_failure_.clear();
  last_read_ = std::move(read);
  tuning_ = last_read_->tuning;
  return kMarnOk;
}

std::string MarnLibrary::LastReadFailure() {
  const std::lock_guard lock(mutex_);
  return last_read_failure_;
}

int MarnLibrary::WriteHistConfig() {
  const std::lock_guard lock(mutex_);
  if (!tuning_) return kMarnOutOfSequence;
  HistoryConfig config;
  config.tuning = tuning_;
  switch (phase_) {
    case Phase::kIdle:
      return kMarnOutOfSequence;
    case Phase::kFreed:
      break;
    case Phase::kBuilding:
      if (building_.size() != expected_file_sets_.size()) return kMarnOutOfSequence;
      if (!building_.empty() && building_.back().file_sets.size() !=
                                    static_cast<std::size_t>(expected_file_sets_.back())) {
        return kMarnOutOfSequence;
      }
      config.repositories = building_;
      break;
  }
  if (std::string failure; !WriteStoredConfiguration(config, &failure)) {
    std::fprintf(stderr, "marnuser: the configuration files cannot be written: %s\n",
                 failure.c_str());
    return kMarnWriteFailed;
  }
  phase_ = Phase::kIdle;
  expected_file_sets_.clear();
  building_.clear();
  return kMarnOk;
}

int MarnLibrary::FreeHistConfig() {
  const std::lock_guard lock(mutex_);
  phase_ = Phase::kFreed;
  expected_file_sets_.clear();
  building_.clear();
  return kMarnOk;
}

int MarnLibrary::InitHistConfig(int number_repositories, const int16_t* file_set_counts) {
  if (number_repositories < 0 || number_repositories > std::numeric_limits<int16_t>::max()) {
    return kMarnBadArgument;
  }
  if (number_repositories > 0 && file_set_counts == nullptr) return kMarnBadArgument;
  std::vector<int16_t> counts(file_set_counts, file_set_counts + number_repositories);
  for (const int16_t count : counts) {
    if (count < 0) return kMarnBadArgument;
  }
  const std::lock_guard lock(mutex_);
  if (phase_ != Phase::kFreed) return kMarnOutOfSequence;
  phase_ = Phase::kBuilding;
  expected_file_sets_ = std::move(counts);
  building_.clear();
  building_.reserve(expected_file_sets_.size());
  return kMarnOk;
}

std::shared_ptr<const HistoryConfig> MarnLibrary::Source(int source, int& result) {
  std::shared_ptr<const HistoryConfig> config;
  if (source == MARN_SOURCE_RUNNING) {
    config = running_cache_.Current(ConfigSource::kRunning);
  } else if (source == MARN_SOURCE_CONFIG) {
    const std::lock_guard lock(mutex_);
    config = last_read_;
  } else {
    result = kMarnBadArgument;
    return nullptr;
  }
  result = config ? kMarnOk : kMarnNoConfiguration;
  return config;
}

int MarnLibrary::PutRepository(int save_index, RepositoryConfig repository,
                               int16_t file_set_count) {
  const std::lock_guard lock(mutex_);
  if (phase_ != Phase::kBuilding) return kMarnOutOfSequence;
  const std::size_t index = building_.size();
  if (save_index < 0 || static_cast<std::size_t>(save_index) >= expected_file_sets_.size()) {
    return kMarnOutOfRange;
  }
  if (static_cast<std::size_t>(save_index) != index) return kMarnOutOfSequence;
  if (index > 0 && building_.back().file_sets.size() !=
                       static_cast<std::size_t>(expected_file_sets_[index - 1])) {
    return kMarnOutOfSequence;
  }
  if (file_set_count != expected_file_sets_[index]) return kMarnBadArgument;
  repository.file_sets.clear();
  repository.file_sets.reserve(static_cast<std::size_t>(file_set_count));
  building_.push_back(std::move(repository));
  return kMarnOk;
}

int MarnLibrary::PutFileSet(int save_index, int arc_index, FileSetConfig file_set) {
  const std::lock_guard lock(mutex_);
  if (phase_ != Phase::kBuilding) return kMarnOutOfSequence;
  if (save_index < 0 || static_cast<std::size_t>(save_index) >= expected_file_sets_.size()) {
    return kMarnOutOfRange;
  }
  const auto index = static_cast<std::size_t>(save_index);
  if (arc_index < 0 || arc_index >= expected_file_sets_[index]) return kMarnOutOfRange;
  if (building_.empty() || index != building_.size() - 1) return kMarnOutOfSequence;
  auto& file_sets = building_.back().file_sets;
  if (static_cast<std::size_t>(arc_index) != file_sets.size()) return kMarnOutOfSequence;
  file_sets.push_back(std::move(file_set));
  return kMarnOk;
}

int MarnLibrary::GetTuning(TuningConfig& tuning) {
  {
    const std::lock_guard lock(mutex_);
    if (tuning_) {
      tuning = *tuning_;
      return kMarnOk;
    }
  }
  const auto running = running_cache_.Current(ConfigSource::kRunning);
  if (!running || !running->tuning) return kMarnNoConfiguration;
  tuning = *running->tuning;
  return kMarnOk;
}

void MarnLibrary::PutTuning(const TuningConfig& tuning) {
  const std::lock_guard lock(mutex_);
  tuning_ = tuning;
}

void MarnLibrary::Reset() {
  const std::lock_guard lock(mutex_);
  last_read_.reset();
  last_read_failure_.clear();
  tuning_.reset();
  phase_ = Phase::kIdle;
  expected_file_sets_.clear();
  building_.clear();
}

MarnLibrary& TheMarnLibrary() {
  static MarnLibrary library;
  return library;
}

}  // namespace kha::historian
