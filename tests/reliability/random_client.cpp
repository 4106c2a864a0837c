#include "random_client.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "figures.h"
#include "kestihistadmin.h"

namespace kha::test::reliability {
namespace {

constexpr int kNames = 12;
constexpr uint32_t kAnySize = 100000;  // set-up while attached ignores it

class Held {
 public:
  Held() { LockHistAdminMutex(); }
  ~Held() { UnlockHistAdminMutex(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
};

}  // namespace

RandomClient::RandomClient(uint64_t seed, bool check_tuning, bool dump)
    : random_(seed), check_tuning_(check_tuning), dump_(dump) {}

void RandomClient::Expect(const char* what, int32_t result,
                          std::initializer_list<int32_t> allowed) {
  for (int32_t code : allowed) {
    if (result == code) return;
  }
  ++counts_.unexpected_results;
  if (counts_.first_problem.empty()) {
    counts_.first_problem = std::string(what) + " returned " + std::to_string(result);
  }
}

std::string RandomClient::Name() {
  // The same few names in changing case: searches ignore ASCII case.
  std::string name = "Repo" + std::to_string(Pick(kNames));
  for (char& c : name) {
    if (Pick(2) == 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

// A repository in use, found under the caller's hold of the mutex: by a
// name, else the first one listed. 0 when the table is empty.
uint16_t RandomClient::FindRepository() {
  uint16_t slot = 0, number = 0;
  Expect("search by name", SearchKestiHistAdminRepositoryByName(Name().c_str(), &slot, &number),
         {KHA_OK});
  if (slot != 0) return slot;
  KestiHistAdminRepository first{};
  const int16_t capacity = 1;
  uint16_t count = 0;
  Expect("list repositories", GetKestiHistAdminAllRepositories(&capacity, &first, &count),
         {KHA_OK, KHA_BUFFER_TOO_SMALL});
  return count > 0 ? static_cast<uint16_t>(first.Index) : uint16_t{0};
}

void RandomClient::Step() {
  const auto start = std::chrono::steady_clock::now();
  Operation(0);
  ++counts_.operations;
  const double took = SecondsSince(start);
  if (took > counts_.longest_operation_seconds) counts_.longest_operation_seconds = took;
}

void RandomClient::Verify() {
  Held held;
  const std::vector<verify::Violation> found = verify::VerifyRegion();
  counts_.violations += static_cast<int64_t>(found.size());
  if (!found.empty() && counts_.first_problem.empty())
    counts_.first_problem = found.front().message;
}

void RandomClient::Group(int depth) {
  // Nested holds of the one re-entrant mutex, up to four deep.
  Held held;
  const int inner = 1 + Pick(4);
  for (int i = 0; i < inner; ++i) Operation(depth);
}

void RandomClient::Operation(int depth) {
  KestiHistAdminRepository repository{};
  KestiHistAdminFileSet file_set{};
  uint16_t slot = 0, number = 0;
  switch (Pick(24)) {
    case 0:
    case 1: {
      const std::string name = Name();
      Expect("add repository",
             AddKestiHistAdminOneRepository(name.c_str(), Pick(2) == 0 ? 1 : 3, &slot, &number),
             {KHA_OK, KHA_NO_SPACE});
      if (slot != 0) remembered_repository_ = slot;
      break;
    }
    case 2:
      Expect("search by name", SearchKestiHistAdminRepositoryByName(Name().c_str(), &slot, &number),
             {KHA_OK});
      break;
    case 3:
      Expect("search by number",
             SearchKestiHistAdminRepositoryByNumber(static_cast<uint16_t>(Pick(30)), &slot),
             {KHA_OK});
      break;
    case 4:
      Expect("get repository",
             GetKestiHistAdminOneRepository(static_cast<uint16_t>(Pick(40)), &repository),
             {KHA_OK, KHA_REPOSITORY_NOT_FOUND});
      break;
    case 5: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      std::memset(&repository, 'a' + Pick(26), sizeof repository);  // paths without terminator
      repository.Status = 1 + Pick(3);
      Expect("update repository",
             UpdateKestiHistAdminOneRepositoryHeader(Pick(2), slot, &repository), {KHA_OK});
      break;
    }
    case 6: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      Expect("delete repository", DeleteKestiHistAdminOneRepository(slot), {KHA_OK});
      break;
    }
    case 7: {
      const int16_t to_save = GetKestiHistAdminNumberOfRepositoriesToSave();
      if (to_save < 0) Expect("repositories to save", to_save, {});
      break;
    }
    case 8: {
      std::vector<KestiHistAdminRepository> records(32);
      const auto capacity = static_cast<int16_t>(Pick(33));
      uint16_t count = 0;
      Expect("list repositories",
             GetKestiHistAdminAllRepositories(&capacity, records.data(), &count),
             {KHA_OK, KHA_BUFFER_TOO_SMALL});
      break;
    }
    case 9: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      Expect("release file sets", DeleteKestiHistAdminAllFileSetForOneRepository(slot), {KHA_OK});
      break;
    }
    case 10:
    case 11: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      const std::string path = "/hist/fs" + std::to_string(Pick(50));
      uint16_t free_slot = 0, free_number = 0;
      const int32_t check = CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, path.c_str(),
                                                                       &free_slot, &free_number);
      Expect("path check", check, {KHA_OK, KHA_FILE_PATH_IN_USE});
      if (check != KHA_OK) break;
      uint16_t fs_number = 0, fs_slot = 0;
      Expect("add file set", AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot),
             {KHA_OK, KHA_NO_SPACE});
      if (fs_slot == 0) break;
      remembered_file_set_ = fs_slot;
      std::strncpy(file_set.FilePath, path.c_str(), sizeof file_set.FilePath - 1);
      std::strncpy(file_set.PendingFilePath, path.c_str(), sizeof file_set.PendingFilePath - 1);
      file_set.RecordStatus = Pick(4);
      file_set.StartTime.Seconds = Pick(3);
      Expect("update file set", UpdateKestiHistAdminOneFileSet(0, slot, fs_slot, &file_set),
             {KHA_OK});
      // Under the same hold the new file set is found by its number, when
      // its repository's number names it (numbers beyond 32767 repeat).
      uint16_t owner = 0, found = 0;
      Expect("get repository", GetKestiHistAdminOneRepository(slot, &repository), {KHA_OK});
      Expect("search by number",
             SearchKestiHistAdminRepositoryByNumber(repository.ReposNumber, &owner), {KHA_OK});
      if (owner != slot) break;
      Expect("search the added file set",
             SearchKestiHistAdminFileSetByNumber(repository.ReposNumber, fs_number, &found),
             {KHA_OK});
      if (found != fs_slot) Expect("search the added file set: another slot", -1, {});
      break;
    }
    case 12: {
      Held held;
      uint16_t found = 0;
      if (SearchKestiHistAdminRepositoryByName(Name().c_str(), &found, &number) != KHA_OK ||
          found == 0) {
        break;
      }
      uint16_t fs_slot = 0;
      const int32_t search =
          SearchKestiHistAdminFileSetByNumber(number, static_cast<uint16_t>(1 + Pick(3)), &fs_slot);
      Expect("search file set", search, {KHA_OK, KHA_INVALID_FILESET_NUMBER});
      if (search != KHA_OK || fs_slot == 0) break;
      std::memset(&file_set, 'A' + Pick(26), sizeof file_set);
      Expect("update file set", UpdateKestiHistAdminOneFileSet(Pick(3), found, fs_slot, &file_set),
             {KHA_OK});
      break;
    }
    case 13:
      Expect("get file set",
             GetKestiHistAdminOneFileSet(static_cast<uint16_t>(Pick(80)), &file_set),
             {KHA_OK, KHA_INVALID_FILESET_NUMBER});
      break;
    case 14:
      Expect("search file set",
             SearchKestiHistAdminFileSetByNumber(static_cast<uint16_t>(Pick(30)),
                                                 static_cast<uint16_t>(Pick(5)), &slot),
             {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_INVALID_FILESET_NUMBER});
      break;
    case 15: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      Expect("delete file set",
             DeleteKestiHistAdminOneFileSetForOneRepository(slot, static_cast<uint16_t>(Pick(4))),
             {KHA_OK, KHA_INVALID_FILESET_NUMBER});
      break;
    }
    case 16: {
      Held held;
      if ((slot = FindRepository()) == 0) break;
      std::vector<KestiHistAdminFileSet> records(8);
      const auto capacity = static_cast<int16_t>(Pick(9));
      uint16_t count = 0;
      Expect("list file sets",
             GetKestiHistAdminAllFileSetsForOneRepository(slot, &capacity, records.data(), &count),
             {KHA_OK, KHA_BUFFER_TOO_SMALL});
      const int32_t active = RepositoryHasOneActiveFileSet(slot);
      if (active != 0 && active != 1) Expect("active file set", active, {});
      if (GetKestiHistAdminCurrentFileSetForOneRepository(slot) < 0) {
        Expect("current file set", -1, {});
      }
      break;
    }
    case 17: {
      uint32_t size = 0;
      uint16_t a = 0, b = 0, c = 0, d = 0;
      Expect("get header", GetKestiHistAdminHeader(&size, &a, &b, &c, &d), {KHA_OK});
      Expect("put header", PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1, -1, -1), {KHA_OK});
      break;
    }
    case 18: {
      std::array<unsigned char, sizeof(KestiHistAdminTuningData)> block{};
      if (check_tuning_ && Pick(2) == 0) {
        block.fill(static_cast<unsigned char>(Pick(256)));
        Expect("put tuning", PutKestiHistAdminTuningData(block.data()), {KHA_OK});
      } else {
        Expect("get tuning", GetKestiHistAdminTuningData(block.data()), {KHA_OK});
        if (check_tuning_) {
          for (unsigned char byte : block) {
            if (byte != block[0]) {
              ++counts_.torn_tuning_reads;
              break;
            }
          }
        }
      }
      break;
    }
    case 19:
    case 20:
      if (depth < 4) Group(depth + 1);
      break;
    case 21: {
      // What a careless caller does: slots remembered from an earlier
      // group, which another thread or process may have freed or reused,
      // or any slot number up to just beyond the carved-out ones.
      uint16_t repository_slot = remembered_repository_, file_set_slot = remembered_file_set_;
      if (Pick(2) == 0) {
        uint16_t repos_high_water = 0, fs_high_water = 0;
        Expect(
            "get header",
            GetKestiHistAdminHeader(nullptr, &repos_high_water, nullptr, &fs_high_water, nullptr),
            {KHA_OK});
        repository_slot = static_cast<uint16_t>(Pick(repos_high_water + 3));
        file_set_slot = static_cast<uint16_t>(Pick(fs_high_water + 3));
      }
      switch (Pick(8)) {
        case 0: {
          uint16_t fs_number = 0, fs_slot = 0;
          Expect("add file set (stale slot)",
                 AddKestiHistAdminOneFileSet(repository_slot, &fs_number, &fs_slot),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_NO_SPACE});
          break;
        }
        case 1:
          Expect("delete file set (stale slot)",
                 DeleteKestiHistAdminOneFileSetForOneRepository(repository_slot,
                                                                static_cast<uint16_t>(Pick(4))),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_INVALID_FILESET_NUMBER});
          break;
        case 2:
          Expect("release file sets (stale slot)",
                 DeleteKestiHistAdminAllFileSetForOneRepository(repository_slot),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND});
          break;
        case 3:
          Expect("delete repository (stale slot)",
                 DeleteKestiHistAdminOneRepository(repository_slot),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND});
          break;
        case 4:
          Expect("path check (stale slot)",
                 CheckKestiHistAdminAllFileSetsForAFilePath(repository_slot, file_set_slot,
                                                            "/hist/fs7", &slot, &number),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_FILE_PATH_IN_USE});
          break;
        case 5: {
          std::vector<KestiHistAdminFileSet> records(4);
          const int16_t capacity = 4;
          Expect("list file sets (stale slot)",
                 GetKestiHistAdminAllFileSetsForOneRepository(repository_slot, &capacity,
                                                              records.data(), &number),
                 {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_BUFFER_TOO_SMALL});
          const int32_t active = RepositoryHasOneActiveFileSet(repository_slot);
          if (active != 0 && active != 1) Expect("active file set (stale slot)", active, {});
          if (GetKestiHistAdminCurrentFileSetForOneRepository(repository_slot) < 0) {
            Expect("current file set (stale slot)", -1, {});
          }
          break;
        }
        case 6: {
          Held held;
          if (GetKestiHistAdminOneRepository(repository_slot, &repository) != KHA_OK) break;
          repository.PendingQueueSize = Pick(1000);
          Expect("update repository (stale slot)",
                 UpdateKestiHistAdminOneRepositoryHeader(Pick(2), repository_slot, &repository),
                 {KHA_OK});
          break;
        }
        default:
          std::memset(&file_set, 0, sizeof file_set);
          Expect("update file set (stale slot)",
                 UpdateKestiHistAdminOneFileSet(1, repository_slot, file_set_slot, &file_set),
                 {KHA_OK, KHA_INVALID_FILESET_NUMBER});
          break;
      }
      break;
    }
    case 22:
      // Lifecycle calls of an attached process only move the count.
      if (Pick(2) == 0) {
        Expect("attach", AttachToKestiHistAdminSharedMemory(), {KHA_OK});
      } else {
        Expect("set-up", SetupAndAttachToKestiHistAdminSharedMemory(kAnySize), {KHA_OK});
      }
      Expect("detach", DetachFromKestiHistAdminSharedMemory(), {KHA_OK});
      break;
    default: {
      char message[64];
      uint32_t length = sizeof message;
      GetKestiHistAdminErrorMessage(-2001 - Pick(55), message, &length);
      if (dump_ && Pick(50) == 0) PrintKestiHistAdminAllRepository();
      break;
    }
  }
}

bool WriteCounts(const std::string& path, const ClientCounts& counts) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%lld %lld %lld %lld %.9f\n%s\n", static_cast<long long>(counts.operations),
               static_cast<long long>(counts.unexpected_results),
               static_cast<long long>(counts.torn_tuning_reads),
               static_cast<long long>(counts.violations), counts.longest_operation_seconds,
               counts.first_problem.c_str());
  return std::fclose(file) == 0;
}

bool ReadCounts(const std::string& path, ClientCounts* counts) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  long long operations = 0, unexpected = 0, torn = 0, violations = 0;
  ClientCounts read;
  const bool ok = std::fscanf(file, "%lld %lld %lld %lld %lf", &operations, &unexpected, &torn,
                              &violations, &read.longest_operation_seconds) == 5;
  char problem[512] = {};
  if (ok && std::fgetc(file) == '\n' && std::fgets(problem, sizeof problem, file) != nullptr) {
    problem[std::strcspn(problem, "\n")] = '\0';
  }
  std::fclose(file);
  if (!ok) return false;
  read.operations = operations;
  read.unexpected_results = unexpected;
  read.torn_tuning_reads = torn;
  read.violations = violations;
  read.first_problem = problem;
  Add(counts, read);
  return true;
}

bool ReportTables(const char* suite) {
  uint16_t repos_high_water = 0, repositories = 0, fs_high_water = 0, file_sets = 0;
  if (GetKestiHistAdminHeader(nullptr, &repos_high_water, &repositories, &fs_high_water,
                              &file_sets) != KHA_OK) {
    return false;
  }
  Figure(suite, "repository_slots_carved", repos_high_water, "information");
  Figure(suite, "repositories_at_end", repositories, "information");
  Figure(suite, "file_set_slots_carved", fs_high_water, "information");
  Figure(suite, "file_sets_at_end", file_sets, "information");
  return repos_high_water > 0 && fs_high_water > 0;
}

void Add(ClientCounts* total, const ClientCounts& counts) {
  total->operations += counts.operations;
  total->unexpected_results += counts.unexpected_results;
  total->torn_tuning_reads += counts.torn_tuning_reads;
  total->violations += counts.violations;
  if (counts.longest_operation_seconds > total->longest_operation_seconds) {
    total->longest_operation_seconds = counts.longest_operation_seconds;
  }
  if (total->first_problem.empty()) total->first_problem = counts.first_problem;
}

ClientCounts RunClients(int64_t threads, int64_t operations, uint64_t seed, bool dump) {
  std::vector<ClientCounts> counts(static_cast<std::size_t>(threads));
  std::vector<std::thread> running;
  for (int64_t t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      RandomClient client(seed * 1000 + static_cast<uint64_t>(t), /*check_tuning=*/true, dump);
      for (int64_t i = 1; i <= operations; ++i) {
        client.Step();
        if (i % 1000 == 0) client.Verify();
      }
      client.Verify();
      counts[static_cast<std::size_t>(t)] = client.Counts();
    });
  }
  for (std::thread& thread : running) thread.join();
  ClientCounts total;
  for (const ClientCounts& c : counts) Add(&total, c);
  return total;
}

void ExpectCleanRun(const char* suite, const ClientCounts& total, int64_t operations,
                    const std::vector<verify::Violation>& final_check, double seconds) {
  const auto violations = total.violations + static_cast<int64_t>(final_check.size());
  Figure(suite, "operations", static_cast<double>(total.operations), "all asked for");
  Figure(suite, "violations", static_cast<double>(violations), "must be 0");
  Figure(suite, "unexpected_results", static_cast<double>(total.unexpected_results), "must be 0");
  Figure(suite, "torn_tuning_reads", static_cast<double>(total.torn_tuning_reads), "must be 0");
  Figure(suite, "longest_operation_s", total.longest_operation_seconds, "information");
  Figure(suite, "seconds", seconds, "information");
  EXPECT_TRUE(ReportTables(suite)) << "no slot of a table was ever used";
  EXPECT_EQ(total.operations, operations);
  for (const verify::Violation& v : final_check) ADD_FAILURE() << v.message;
  EXPECT_EQ(total.violations, 0) << total.first_problem;
  EXPECT_EQ(total.unexpected_results, 0) << total.first_problem;
  EXPECT_EQ(total.torn_tuning_reads, 0);
}

}  // namespace kha::test::reliability
