// The invariants of the tables, checked from outside: everything is read
// through the exported functions, nothing through the library's inside.
#include "tools/verify/region_verifier.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "region/tools_door.h"

namespace kha::verify {
namespace {

// Holds the HistAdmin mutex for the whole check: the exported reads inside
// take it again, which the mutex allows for the holding thread.
class HeldMutex {
 public:
  HeldMutex() { LockHistAdminMutex(); }
  ~HeldMutex() { UnlockHistAdminMutex(); }
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;
};

std::string Slot(const char* table, int32_t slot) {
  return std::string(table) + " slot " + std::to_string(slot);
}

struct Picture {
  KestiHistAdminRegionHeader header{};
  std::vector<KestiHistAdminRepository> repositories;  // [0] unused
  std::vector<KestiHistAdminFileSet> file_sets;        // [0] unused
  std::vector<bool> repository_readable;
  std::vector<bool> file_set_readable;
};

class Verifier {
 public:
  std::vector<Violation> Run() {
    if (!ReadHeader()) return std::move(found_);
    ReadSlots();
    CheckCounts();
    CheckRepositories();
    CheckFileSets();
    CheckChains();
    CheckOrphans();
    return std::move(found_);
  }

 private:
  void Report(Rule rule, std::string message) {
    found_.push_back({rule, std::move(message)});
    run_ = {};
  }

  // Reports `detail` of one slot as "<table> slot k: <detail>". The same
  // detail for the next slot of the same table extends the line to
  // "<table> slots j to k: <detail>": a header whose high-water mark runs
  // far past the slots ever carved would otherwise give thousands of lines.
  void ReportSlot(Rule rule, const char* table, int32_t slot, const std::string& detail) {
    if (!found_.empty() && run_.rule == rule && run_.table == table && run_.detail == detail &&
        run_.last + 1 == slot) {
      run_.last = slot;
      found_.back().message = std::string(table) + " slots " + std::to_string(run_.first) + " to " +
                              std::to_string(slot) + ": " + detail;
      return;
    }
    Report(rule, std::string(table) + " slot " + std::to_string(slot) + ": " + detail);
    run_ = {rule, table, detail, slot, slot};
  }

  bool ReadHeader() {
    uint16_t repos_high_water = 0, fs_high_water = 0;
    KestiHistAdminRegionHeader& header = picture_.header;
    uint32_t region_size = 0;
    uint16_t number_repos = 0, number_file_sets = 0;
    if (GetKestiHistAdminHeader(&region_size, &repos_high_water, &number_repos, &fs_high_water,
                                &number_file_sets) != KHA_OK) {
      Report(Rule::kNotAttached, "no HistAdmin region is attached in this process");
      return false;
    }
    header.RegionSize = region_size;
    header.NumberRepos = number_repos;
    header.NumberFileSets = number_file_sets;
    header.ReposHighWater = static_cast<int16_t>(repos_high_water);
    header.FSHighWater = static_cast<int16_t>(fs_high_water);
    if (header.ReposHighWater < 0) {
      Report(Rule::kHeader, "ReposHighWater is " + std::to_string(header.ReposHighWater));
    }
    if (header.FSHighWater < 0) {
      Report(Rule::kHeader, "FSHighWater is " + std::to_string(header.FSHighWater));
    }
    repos_high_water_ = header.ReposHighWater < 0 ? 0 : header.ReposHighWater;
    fs_high_water_ = header.FSHighWater < 0 ? 0 : header.FSHighWater;
    const int64_t file_set_end = inspection::FileSetRecordOffset(fs_high_water_ + 1);
    const int64_t repository_start =
        inspection::RepositoryRecordOffset(header.RegionSize, repos_high_water_);
    if (!inspection::TablesLieApart(header.RegionSize, repos_high_water_, fs_high_water_)) {
      Report(Rule::kHeader, "the file-set table (" + std::to_string(fs_high_water_) +
                                " slots, up to byte " + std::to_string(file_set_end) +
                                ") overlaps the repository table (" +
                                std::to_string(repos_high_water_) + " slots, from byte " +
                                std::to_string(repository_start) + ")");
    }
    return true;
  }

  void ReadSlots() {
    ReadTable("repository", repos_high_water_, picture_.repositories, picture_.repository_readable,
              [](uint16_t k, KestiHistAdminRepository* record) {
                return GetKestiHistAdminOneRepository(k, record);
              });
    ReadTable("file-set", fs_high_water_, picture_.file_sets, picture_.file_set_readable,
              [](uint16_t k, KestiHistAdminFileSet* record) {
                return GetKestiHistAdminOneFileSet(k, record);
              });
  }

  // Reads slots 1..high_water of one table.
  template <typename Record, typename Get>
  void ReadTable(const char* table, int32_t high_water, std::vector<Record>& records,
                 std::vector<bool>& readable, Get&& get) {
    records.resize(static_cast<std::size_t>(high_water) + 1);
    readable.assign(records.size(), false);
    for (int32_t k = 1; k <= high_water; ++k) {
      const auto index = static_cast<std::size_t>(k);
      const int32_t result = get(static_cast<uint16_t>(k), &records[index]);
      readable[index] = result == KHA_OK;
      if (result != KHA_OK) {
        ReportSlot(Rule::kUnreadableSlot, table, k,
                   "cannot be read (result " + std::to_string(result) + ")");
      }
    }
  }

  const KestiHistAdminRepository* RepositoryAt(int32_t k) const {
    if (k < 1 || k > repos_high_water_) return nullptr;
    const auto index = static_cast<std::size_t>(k);
    return picture_.repository_readable[index] ? &picture_.repositories[index] : nullptr;
  }

  const KestiHistAdminFileSet* FileSetAt(int32_t k) const {
    if (k < 1 || k > fs_high_water_) return nullptr;
    const auto index = static_cast<std::size_t>(k);
    return picture_.file_set_readable[index] ? &picture_.file_sets[index] : nullptr;
  }

  void CheckCounts() {
    int32_t repositories = 0, file_sets = 0;
    for (int32_t k = 1; k <= repos_high_water_; ++k) {
      if (const auto* r = RepositoryAt(k); r != nullptr && r->SlotUsage == 1) ++repositories;
    }
    for (int32_t k = 1; k <= fs_high_water_; ++k) {
      if (const auto* f = FileSetAt(k); f != nullptr && f->SlotUsage == 1) ++file_sets;
    }
    if (picture_.header.NumberRepos != repositories) {
      Report(Rule::kRepositoryCount,
             "NumberRepos is " + std::to_string(picture_.header.NumberRepos) + ", but " +
                 std::to_string(repositories) + " repository slots are in use");
    }
    if (picture_.header.NumberFileSets != file_sets) {
      Report(Rule::kFileSetCount, "NumberFileSets is " +
                                      std::to_string(picture_.header.NumberFileSets) + ", but " +
                                      std::to_string(file_sets) + " file-set slots are in use");
    }
  }

  void CheckRepositories() {
    for (int32_t k = 1; k <= repos_high_water_; ++k) {
      const KestiHistAdminRepository* r = RepositoryAt(k);
      if (r == nullptr) continue;
      const char* table = "repository";
      if (r->SlotUsage != 0 && r->SlotUsage != 1) {
        ReportSlot(Rule::kSlotUsage, table, k, "SlotUsage is " + std::to_string(r->SlotUsage));
        continue;
      }
      // Carved-out slots keep their own number, freed ones included.
      if (r->Index != k) {
        ReportSlot(Rule::kIndex, table, k,
                   "Index is " + std::to_string(r->Index) + ", not the slot's number");
      }
      if (r->SlotUsage == 1) {
        const void* terminator = std::memchr(r->RepositoryName, '\0', KHA_MAX_NAME_LENGTH + 1);
        if (terminator == nullptr || terminator == r->RepositoryName) {
          ReportSlot(Rule::kRepositoryName, table, k,
                     "in use with a name that is empty or longer than 30 characters");
        }
        if (r->ReposNumber == 0) {
          ReportSlot(Rule::kRepositoryNumber, table, k, "in use with ReposNumber 0");
        }
      } else if (r->Status != 0 || r->ReposNumber != 0 || r->NumberFS != 0 || r->FirstFS != 0 ||
                 r->LastFS != 0) {
        ReportSlot(Rule::kFreedRepository, table, k,
                   "free but keeps Status " + std::to_string(r->Status) + ", ReposNumber " +
                       std::to_string(r->ReposNumber) + ", NumberFS " +
                       std::to_string(r->NumberFS) + ", FirstFS " + std::to_string(r->FirstFS) +
                       ", LastFS " + std::to_string(r->LastFS) + " (all must be 0)");
      }
    }
  }

  void CheckFileSets() {
    for (int32_t k = 1; k <= fs_high_water_; ++k) {
      const KestiHistAdminFileSet* f = FileSetAt(k);
      if (f == nullptr) continue;
      const char* table = "file-set";
      if (f->SlotUsage != 0 && f->SlotUsage != 1) {
        ReportSlot(Rule::kSlotUsage, table, k, "SlotUsage is " + std::to_string(f->SlotUsage));
        continue;
      }
      if (f->SlotUsage == 1) {
        if (f->Index != k) {
          ReportSlot(Rule::kIndex, table, k,
                     "Index is " + std::to_string(f->Index) + ", not the slot's number");
        }
        continue;
      }
      // Free: freed by a delete (Index 0) or carved out and never used
      // (Index = its number); neither belongs to a chain.
      if ((f->Index != 0 && f->Index != k) || f->ReposIndex != 0 || f->NextIndex != 0) {
        ReportSlot(Rule::kFreedFileSet, table, k,
                   "free but keeps Index " + std::to_string(f->Index) + ", ReposIndex " +
                       std::to_string(f->ReposIndex) + ", NextIndex " +
                       std::to_string(f->NextIndex));
      }
    }
  }

  void CheckChains() {
    owner_.assign(static_cast<std::size_t>(fs_high_water_) + 1, 0);
    for (int32_t r = 1; r <= repos_high_water_; ++r) {
      const KestiHistAdminRepository* repository = RepositoryAt(r);
      if (repository != nullptr && repository->SlotUsage == 1) CheckChain(r, *repository);
    }
  }

  void CheckChain(int32_t r, const KestiHistAdminRepository& repository) {
    const std::string where = "chain of repository slot " + std::to_string(r);
    const int32_t length = repository.NumberFS;
    if (length < 0) {
      Report(Rule::kChain, where + ": NumberFS is " + std::to_string(length));
      return;
    }
    if (length == 0) {
      if (repository.FirstFS != 0 || repository.LastFS != 0) {
        Report(Rule::kChain, where + ": NumberFS is 0 but FirstFS is " +
                                 std::to_string(repository.FirstFS) + " and LastFS " +
                                 std::to_string(repository.LastFS));
      }
      return;
    }
    int32_t slot = repository.FirstFS;
    int32_t last = 0;
    for (int32_t position = 1; position <= length; ++position) {
      const std::string member =
          where + ": file set " + std::to_string(position) + " of " + std::to_string(length);
      if (slot == 0) {
        Report(Rule::kChain, member + " is missing: the chain ends after " +
                                 std::to_string(position - 1) + " file sets");
        return;
      }
      const KestiHistAdminFileSet* file_set = FileSetAt(slot);
      if (file_set == nullptr) {
        Report(Rule::kChain, member + " names " + Slot("file-set", slot) +
                                 ", which is not in the file-set table");
        return;
      }
      auto& owner = owner_[static_cast<std::size_t>(slot)];
      if (owner != 0) {
        Report(Rule::kSharedFileSet,
               owner == r ? member + " loops back to " + Slot("file-set", slot)
                          : Slot("file-set", slot) + " is in the chains of repository slots " +
                                std::to_string(owner) + " and " + std::to_string(r));
        return;
      }
      owner = r;
      if (file_set->SlotUsage != 1) {
        Report(Rule::kChain, member + " (" + Slot("file-set", slot) + ") is not in use");
      }
      if (file_set->ReposIndex != r) {
        Report(Rule::kChain, member + " (" + Slot("file-set", slot) + ") has ReposIndex " +
                                 std::to_string(file_set->ReposIndex));
      }
      last = slot;
      slot = file_set->NextIndex;
    }
    if (slot != 0) {
      Report(Rule::kChain, where + ": the last of its " + std::to_string(length) +
                               " file sets has NextIndex " + std::to_string(slot) +
                               " instead of 0");
    }
    if (repository.LastFS != last) {
      Report(Rule::kChain, where + ": LastFS is " + std::to_string(repository.LastFS) +
                               " but the chain ends at file-set slot " + std::to_string(last));
    }
  }

  void CheckOrphans() {
    for (int32_t k = 1; k <= fs_high_water_; ++k) {
      const KestiHistAdminFileSet* f = FileSetAt(k);
      if (f != nullptr && f->SlotUsage == 1 && owner_[static_cast<std::size_t>(k)] == 0) {
        ReportSlot(Rule::kOrphanFileSet, "file-set", k,
                   "in use but in no chain of a repository in use (its ReposIndex is " +
                       std::to_string(f->ReposIndex) + ")");
      }
    }
  }

  Picture picture_;
  int32_t repos_high_water_ = 0;
  int32_t fs_high_water_ = 0;
  std::vector<int32_t> owner_;  // repository slot whose chain holds each file-set slot
  std::vector<Violation> found_;

  // The slot line that ReportSlot may still extend.
  struct SlotRun {
    Rule rule = Rule::kNotAttached;
    const char* table = nullptr;
    std::string detail;
    int32_t first = 0;
    int32_t last = 0;
  } run_;
};

}  // namespace

std::vector<Violation> VerifyRegion() {
  HeldMutex held;
  return Verifier().Run();
}

}  // namespace kha::verify
