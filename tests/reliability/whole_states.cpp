#include "whole_states.h"

#include <cstring>
#include <random>
#include <string>

#include "region/region_view.h"
#include "support/region_fixture.h"

namespace kha::test::reliability {
namespace {

// Bytes of `seed` everywhere; each path a zero-terminated string of
// letters of its own length, so that every field differs between seeds.
template <typename Record>
void Fill(Record* record, uint32_t seed) {
  std::mt19937 random(seed);
  auto* bytes = reinterpret_cast<unsigned char*>(record);
  for (std::size_t i = 0; i < sizeof(Record); ++i) bytes[i] = static_cast<unsigned char>(random());
}

void FillPath(char* field, uint32_t seed) {
  std::mt19937 random(seed);
  const std::size_t length = 20 + random() % 200;
  for (std::size_t i = 0; i < length; ++i) field[i] = static_cast<char>('a' + random() % 26);
  std::memset(field + length, 0, KHA_PATH_FIELD_SIZE - length);
}

KestiHistAdminRepository MakeRepository(uint32_t seed) {
  KestiHistAdminRepository record;
  Fill(&record, seed);
  FillPath(record.FilePath, seed + 1);
  FillPath(record.PendingFilePath, seed + 2);
  FillPath(record.BackupFilePath, seed + 3);
  FillPath(record.PendingBackupFilePath, seed + 4);
  return record;
}

KestiHistAdminFileSet MakeFileSet(uint32_t seed) {
  KestiHistAdminFileSet record;
  Fill(&record, seed);
  FillPath(record.FilePath, seed + 1);
  FillPath(record.PendingFilePath, seed + 2);
  return record;
}

KestiHistAdminTuningData MakeTuning(uint32_t seed) {
  KestiHistAdminTuningData record;
  Fill(&record, seed);
  return record;
}

constexpr uint32_t kAlphaSeed = 1000, kAlphaSecondFileSetSeed = 2000, kTuningSeed = 3000;

bool AddRepository(const char* name, uint32_t seed, uint16_t* slot) {
  uint16_t number = 0;
  const KestiHistAdminRepository record = MakeRepository(seed);
  return AddKestiHistAdminOneRepository(name, KHA_STATUS_ACTIVE, slot, &number) == KHA_OK &&
         UpdateKestiHistAdminOneRepositoryHeader(0, *slot, &record) == KHA_OK;
}

bool AddFileSet(uint16_t repository, uint32_t seed, uint16_t* slot) {
  uint16_t number = 0;
  const KestiHistAdminFileSet record = MakeFileSet(seed);
  return AddKestiHistAdminOneFileSet(repository, &number, slot) == KHA_OK &&
         UpdateKestiHistAdminOneFileSet(0, repository, *slot, &record) == KHA_OK;
}

int32_t AddFileSetTo(uint16_t repository) {
  uint16_t number = 0, slot = 0;
  return AddKestiHistAdminOneFileSet(repository, &number, &slot);
}

int32_t AddDelta() {
  uint16_t slot = 0, number = 0;
  return AddKestiHistAdminOneRepository("Delta", KHA_STATUS_NEW, &slot, &number);
}

void Append(State* state, std::string name, int32_t code, const void* bytes, std::size_t size) {
  std::string value(reinterpret_cast<const char*>(&code), sizeof code);
  if (code == KHA_OK) value.append(static_cast<const char*>(bytes), size);
  state->emplace_back(std::move(name), std::move(value));
}

}  // namespace

std::vector<std::string> Scene::Args() const {
  return {std::to_string(alpha), std::to_string(gamma), std::to_string(alpha_second_file_set)};
}

Scene Scene::FromArgs(const std::vector<std::string>& args, std::size_t first) {
  Scene scene;
  if (args.size() < first + 3) return scene;
  scene.alpha = static_cast<uint16_t>(std::stoi(args[first]));
  scene.gamma = static_cast<uint16_t>(std::stoi(args[first + 1]));
  scene.alpha_second_file_set = static_cast<uint16_t>(std::stoi(args[first + 2]));
  scene.made = true;
  return scene;
}

Scene FreshRegion(bool free_slots) {
  DetachCompletely();  // the last detach removes the old region
  Scene scene;
  if (SetupAndAttachToKestiHistAdminSharedMemory(kWholeStateRegionSize) != KHA_OK) return scene;
  const KestiHistAdminTuningData tuning = MakeTuning(kTuningSeed);
  uint16_t beta = 0, gone = 0, slot = 0;
  bool made = PutKestiHistAdminTuningData(&tuning) == KHA_OK &&
              AddRepository("Alpha", kAlphaSeed, &scene.alpha) &&
              AddRepository("Beta", 1100, &beta) && AddFileSet(beta, 1200, &slot) &&
              AddFileSet(scene.alpha, 1300, &slot) &&
              AddFileSet(scene.alpha, kAlphaSecondFileSetSeed, &scene.alpha_second_file_set) &&
              AddFileSet(scene.alpha, 1400, &slot) && AddRepository("Gamma", 1500, &scene.gamma);
  if (free_slots) {
    made = made && AddRepository("Gone", 1600, &gone) && AddFileSet(gone, 1700, &slot) &&
           DeleteKestiHistAdminOneRepository(gone) == KHA_OK;
  }
  scene.made = made;
  return scene;
}

const Inputs& TheInputs() {
  static const Inputs inputs{MakeRepository(100), MakeRepository(kAlphaSeed),
                             MakeFileSet(200),    MakeFileSet(kAlphaSecondFileSetSeed),
                             MakeTuning(300),     MakeTuning(kTuningSeed)};
  return inputs;
}

const std::vector<WritingOperation>& WritingOperations() {
  using S = const Scene&;
  using I = const Inputs&;
  static const std::vector<WritingOperation> operations = {
      {"add file set (reused slot)", true, [](S s, I) { return AddFileSetTo(s.alpha); }},
      {"add file set (carved slot)", false, [](S s, I) { return AddFileSetTo(s.alpha); }},
      {"add file set (empty repository)", false, [](S s, I) { return AddFileSetTo(s.gamma); }},
      {"delete file set 1 of 3", false,
       [](S s, I) { return DeleteKestiHistAdminOneFileSetForOneRepository(s.alpha, 1); }},
      {"delete file set 2 of 3", false,
       [](S s, I) { return DeleteKestiHistAdminOneFileSetForOneRepository(s.alpha, 2); }},
      {"delete file set 3 of 3", false,
       [](S s, I) { return DeleteKestiHistAdminOneFileSetForOneRepository(s.alpha, 3); }},
      {"delete all file sets of a repository", false,
       [](S s, I) { return DeleteKestiHistAdminAllFileSetForOneRepository(s.alpha); }},
      {"delete a repository with its chain", false,
       [](S s, I) { return DeleteKestiHistAdminOneRepository(s.alpha); }},
      {"add repository (reused slot)", true, [](S, I) { return AddDelta(); }},
      {"add repository (carved slot)", false, [](S, I) { return AddDelta(); }},
      {"update repository header, mode 0", false,
       [](S s, I in) {
         return UpdateKestiHistAdminOneRepositoryHeader(0, s.alpha, &in.repository);
       }},
      {"update repository header, mode 1", false,
       [](S s, I in) {
         return UpdateKestiHistAdminOneRepositoryHeader(1, s.alpha, &in.repository);
       }},
      {"update file set, mode 0", false,
       [](S s, I in) {
         return UpdateKestiHistAdminOneFileSet(0, s.alpha, s.alpha_second_file_set, &in.file_set);
       }},
      {"update file set, mode 1", false,
       [](S s, I in) {
         return UpdateKestiHistAdminOneFileSet(1, s.alpha, s.alpha_second_file_set, &in.file_set);
       }},
      {"put tuning block", false, [](S, I in) { return PutKestiHistAdminTuningData(&in.tuning); }},
      {"put header (tables emptied)", false,
       [](S, I) { return PutKestiHistAdminHeader(kWholeStateRegionSize, 0, 0, 0, 0); }},
  };
  return operations;
}

State TakeState() {
  State state;
  LockHistAdminMutex();
  KestiHistAdminRegionHeader header{};
  const int32_t code = GetKestiHistAdminHeader(
      &header.RegionSize, reinterpret_cast<uint16_t*>(&header.ReposHighWater), &header.NumberRepos,
      reinterpret_cast<uint16_t*>(&header.FSHighWater), &header.NumberFileSets);
  Append(&state, "header", code, &header, sizeof header);
  KestiHistAdminTuningData tuning{};
  Append(&state, "tuning block", GetKestiHistAdminTuningData(&tuning), &tuning, sizeof tuning);
  constexpr uint32_t kRoom = kWholeStateRegionSize - KHA_FILESET_TABLE_OFFSET;
  for (uint16_t slot = 1; slot <= kRoom / KHA_REPOSITORY_RECORD_SIZE; ++slot) {
    KestiHistAdminRepository record{};
    Append(&state, "repository slot " + std::to_string(slot),
           GetKestiHistAdminOneRepository(slot, &record), &record, sizeof record);
  }
  for (uint16_t slot = 1; slot <= kRoom / KHA_FILESET_RECORD_SIZE; ++slot) {
    KestiHistAdminFileSet record{};
    Append(&state, "file-set slot " + std::to_string(slot),
           GetKestiHistAdminOneFileSet(slot, &record), &record, sizeof record);
  }
  const RegionHeader* base = HistAdminHeader();
  Append(&state, "raw region bytes", base == nullptr ? KHA_NOT_MAPPED : KHA_OK, base,
         kWholeStateRegionSize);
  UnlockHistAdminMutex();
  return state;
}

std::string Differences(const State& a, const State& b) {
  if (a.size() != b.size()) return "the number of parts";
  std::string names;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].second != b[i].second) names += (names.empty() ? "" : ", ") + a[i].first;
  }
  return names;
}

}  // namespace kha::test::reliability
