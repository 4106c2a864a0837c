// One HistAdmin region used at once by a 32-bit and a 64-bit process,
// both through the library's DLL of their own word size (its test build,
// kestihistadmin_test.dll, on kernel objects of the test's own).
//
//   word_size_peer lead PEER_COMMAND   sets the region up, writes a tuning
//       block, a repository and a file set, runs PEER_COMMAND (the other
//       word size's build of this program, as "PEER_COMMAND follow") and
//       checks what it wrote back;
//   word_size_peer follow              attaches, checks what the lead
//       wrote and adds its own repository and file set.
//
// Exit code 0 when every check passed; each failed check is printed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestihistadmin.h"

namespace {

constexpr uint32_t kRegionSize = 200000;
constexpr int16_t kWordSize = static_cast<int16_t>(sizeof(void*));
constexpr char kConfigPath[] = "C:\\historian\\config.dat";
constexpr char kLeadRepository[] = "Lead Repository";
constexpr char kFollowerRepository[] = "Follower";
constexpr char kLeadFilePath[] = "C:\\historian\\lead\\fs1";
constexpr char kFollowerFilePath[] = "C:\\historian\\lead\\fs2";
constexpr int32_t kLeadPoints = 123456;
constexpr float kLeadThreshold = 2.5f;
constexpr int32_t kLeadStartSeconds = 1700000000;

int failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  ++failures;
  std::fprintf(stderr, "word_size_peer (%d-bit): %s\n", kWordSize * 8, what);
}

bool Ok(int32_t result, const char* what) {
  if (result == KHA_OK) return true;
  ++failures;
  std::fprintf(stderr, "word_size_peer (%d-bit): %s returned %d\n", kWordSize * 8, what,
               static_cast<int>(result));
  return false;
}

int RunFollower(const std::string& command) {
  std::string line = "\"" + command + "\" follow";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "word_size_peer: cannot start %s (error %lu)\n", command.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

int Lead(const std::string& follower) {
  if (!Ok(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), "set-up")) return 1;

  KestiHistAdminTuningData tuning{};
  std::strcpy(tuning.ConfigFilePath, kConfigPath);
  tuning.TuningValue1 = kWordSize;
  tuning.TuningValues14To40[26] = -77;
  Ok(PutKestiHistAdminTuningData(&tuning), "tuning put");

  uint16_t repos_slot = 0, repos_number = 0;
  Ok(AddKestiHistAdminOneRepository(kLeadRepository, KHA_STATUS_ACTIVE, &repos_slot, &repos_number),
     "repository add");
  KestiHistAdminRepository repository{};
  Ok(GetKestiHistAdminOneRepository(repos_slot, &repository), "repository get");
  repository.NumberPoints = kLeadPoints;
  repository.PendingNumberPoints = kLeadPoints;
  repository.GlobalThreshold = kLeadThreshold;
  repository.PendingEmptyFilesets = 5;
  Ok(UpdateKestiHistAdminOneRepositoryHeader(0, repos_slot, &repository), "repository update");

  uint16_t fs_number = 0, fs_slot = 0;
  Ok(AddKestiHistAdminOneFileSet(repos_slot, &fs_number, &fs_slot), "file-set add");
  KestiHistAdminFileSet file_set{};
  Ok(GetKestiHistAdminOneFileSet(fs_slot, &file_set), "file-set get");
  std::strcpy(file_set.FilePath, kLeadFilePath);
  file_set.StartTime.Seconds = kLeadStartSeconds;
  file_set.StartTime.Microseconds = 250000;
  file_set.Size = 4096;
  Ok(UpdateKestiHistAdminOneFileSet(0, repos_slot, fs_slot, &file_set), "file-set update");
  if (failures != 0) return 1;

  const int follower_exit = RunFollower(follower);
  Check(follower_exit == 0, "the follower failed");

  // What the follower wrote back.
  Ok(GetKestiHistAdminTuningData(&tuning), "tuning get");
  Check(tuning.TuningValue2 != 0, "the follower left no word size in the tuning block");
  Check(tuning.TuningValue2 != kWordSize, "the follower has this process's word size");
  Check(tuning.TuningValues14To40[26] == -77, "tuning value 40 changed");

  uint16_t slot = 0, number = 0;
  Ok(SearchKestiHistAdminRepositoryByName(kFollowerRepository, &slot, &number), "search");
  Check(slot != 0 && number == repos_number + 1, "the follower's repository is missing");
  if (slot != 0) {
    KestiHistAdminRepository theirs{};
    Ok(GetKestiHistAdminOneRepository(slot, &theirs), "follower repository get");
    Check(theirs.NumberPoints == tuning.TuningValue2 * 1000, "follower repository NumberPoints");
    Check(theirs.Status == KHA_STATUS_NEW, "follower repository Status");
  }
  int16_t capacity = 4;
  KestiHistAdminFileSet sets[4]{};
  uint16_t count = 0;
  Ok(GetKestiHistAdminAllFileSetsForOneRepository(repos_slot, &capacity, sets, &count),
     "file-set list");
  Check(count == 2, "the lead repository should have two file sets");
  Check(std::strcmp(sets[0].FilePath, kLeadFilePath) == 0, "first file set path");
  Check(std::strcmp(sets[1].FilePath, kFollowerFilePath) == 0, "second file set path");
  Check(sets[1].PendingSize == tuning.TuningValue2, "second file set PendingSize");

  uint32_t size = 0;
  uint16_t high = 0, repos = 0, fs_high = 0, file_sets = 0;
  Ok(GetKestiHistAdminHeader(&size, &high, &repos, &fs_high, &file_sets), "header get");
  Check(size == kRegionSize && repos == 2 && file_sets == 2, "header counts");

  Ok(DetachFromKestiHistAdminSharedMemory(), "detach");
  if (failures == 0) {
    std::printf("%d-bit lead and %d-bit follower agree on the region\n", kWordSize * 8,
                tuning.TuningValue2 * 8);
  }
  return failures == 0 ? 0 : 1;
}

int Follow() {
  if (!Ok(AttachToKestiHistAdminSharedMemory(), "attach")) return 1;

  KestiHistAdminTuningData tuning{};
  Ok(GetKestiHistAdminTuningData(&tuning), "tuning get");
  Check(std::strcmp(tuning.ConfigFilePath, kConfigPath) == 0, "tuning ConfigFilePath");
  Check(tuning.TuningValue1 != kWordSize, "the lead has this process's word size");
  Check(tuning.TuningValues14To40[26] == -77, "tuning value 40");

  uint16_t slot = 0, number = 0;
  Ok(SearchKestiHistAdminRepositoryByName("LEAD repository", &slot, &number), "search");
  Check(slot != 0 && number == 1, "the lead's repository is missing");
  KestiHistAdminRepository repository{};
  Ok(GetKestiHistAdminOneRepository(slot, &repository), "repository get");
  Check(std::strcmp(repository.RepositoryName, kLeadRepository) == 0, "repository name");
  Check(repository.NumberPoints == kLeadPoints, "repository NumberPoints");
  Check(repository.GlobalThreshold == kLeadThreshold, "repository GlobalThreshold");
  Check(repository.PendingEmptyFilesets == 5, "repository PendingEmptyFilesets");
  Check(repository.NumberFS == 1, "repository NumberFS");

  uint16_t fs_slot = 0;
  Ok(SearchKestiHistAdminFileSetByNumber(number, 1, &fs_slot), "file-set search");
  KestiHistAdminFileSet file_set{};
  Ok(GetKestiHistAdminOneFileSet(fs_slot, &file_set), "file-set get");
  Check(std::strcmp(file_set.FilePath, kLeadFilePath) == 0, "file set FilePath");
  Check(
      file_set.StartTime.Seconds == kLeadStartSeconds && file_set.StartTime.Microseconds == 250000,
      "file set StartTime");
  Check(file_set.Size == 4096, "file set Size");
  Check(GetKestiHistAdminCurrentFileSetForOneRepository(slot) == 1, "current file set");

  // Write back: a repository, a second file set, this word size.
  uint16_t my_slot = 0, my_number = 0;
  Ok(AddKestiHistAdminOneRepository(kFollowerRepository, KHA_STATUS_NEW, &my_slot, &my_number),
     "repository add");
  KestiHistAdminRepository mine{};
  mine.Status = KHA_STATUS_NEW;
  mine.NumberPoints = kWordSize * 1000;
  Ok(UpdateKestiHistAdminOneRepositoryHeader(0, my_slot, &mine), "repository update");
  uint16_t new_number = 0, new_slot = 0;
  Ok(AddKestiHistAdminOneFileSet(slot, &new_number, &new_slot), "file-set add");
  KestiHistAdminFileSet added{};
  added.RecordStatus = KHA_STATUS_ACTIVE;
  std::strcpy(added.FilePath, kFollowerFilePath);
  added.PendingSize = kWordSize;
  Ok(UpdateKestiHistAdminOneFileSet(0, slot, new_slot, &added), "file-set update");
  tuning.TuningValue2 = kWordSize;
  Ok(PutKestiHistAdminTuningData(&tuning), "tuning put");

  Ok(DetachFromKestiHistAdminSharedMemory(), "detach");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Names of this run's own, shared with the follower through the
  // environment, so that no real region is touched.
  if (std::getenv("KESTIHISTADMIN_NAME_PREFIX") == nullptr) {
    const std::string prefix = "khawordsize" + std::to_string(GetCurrentProcessId()) + "_";
    _putenv_s("KESTIHISTADMIN_NAME_PREFIX", prefix.c_str());
  }
  if (argc == 3 && std::strcmp(argv[1], "lead") == 0) return Lead(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "follow") == 0) return Follow();
  std::fprintf(stderr, "usage: word_size_peer lead PEER_COMMAND | word_size_peer follow\n");
  return 2;
}
