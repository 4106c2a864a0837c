// A hostile writer in the same process: one thread keeps rewriting the
// region's header and records without ever taking the mutex, as a process
// that ignores it would, while other threads call every exported
// operation with arguments of their own. Whatever the writer does, no
// caller may read or write outside the view (AddressSanitizer watches it
// to the byte, see heap_view_platform.h) or crash.
//
// The writer favours what a reader must take once per operation: it
// swings RegionSize between the whole view and a size of two slots, and
// throws the high-water marks about, so that a scan that reads the header
// twice sees two different regions.
//
// Usage: hostile_writer [seconds] (default 20). Exit status 0 when every
// thread got through.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "heap_view_platform.h"
#include "kestihistadmin.h"
#include "region/process_state.h"

namespace {

// Room for a few dozen records of each table.
constexpr uint32_t kRegionSize = 692 + 40 * 600 + 30 * 1144;
constexpr int kCallers = 3;

std::atomic<bool> g_stop{false};

std::byte* View() { return kha::HistAdminProcess().view.load(); }
std::size_t ViewLength() { return kha::HistAdminProcess().view_length.load(); }

void Populate() {
  uint16_t slot = 0, number = 0, fs_number = 0, fs_slot = 0;
  for (int r = 0; r < 12; ++r) {
    const std::string name = "Repository" + std::to_string(r);
    if (AddKestiHistAdminOneRepository(name.c_str(), 1 + r % 3, &slot, &number) != KHA_OK) break;
    for (int f = 0; f < 3; ++f) (void)AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot);
  }
}

// Stores `value` into the view at `offset` as a plain store of its width:
// torn or not, it is what another process could write at any moment.
template <typename T>
void Store(std::size_t offset, T value) {
  std::memcpy(View() + offset, &value, sizeof value);
}

void Writer(unsigned seed) {
  std::mt19937 random(seed);
  const auto length = static_cast<uint32_t>(ViewLength());
  const uint32_t small = 692 + 2 * 1144;
  while (!g_stop.load(std::memory_order_relaxed)) {
    switch (random() % 8) {
      case 0:
      case 1:
      case 2:  // RegionSize: the whole view, then two slots, back and forth
        for (int i = 0; i < 64; ++i) Store<uint32_t>(0, i % 2 == 0 ? length : small);
        break;
      case 3:  // a high-water mark anywhere from -4 to beyond the view
        Store<int16_t>(4 + 4 * (random() % 2), static_cast<int16_t>(random() % 80) - 4);
        break;
      case 4:  // a count
        Store<uint16_t>(6 + 4 * (random() % 2), static_cast<uint16_t>(random()));
        break;
      case 5:  // RegionSize: anything at all
        Store<uint32_t>(0, static_cast<uint32_t>(random()));
        break;
      case 6: {  // a slot field of some record: chains, counts, usage
        const std::size_t offset = 692 + random() % (length - 692 - 2);
        Store<int16_t>(offset, static_cast<int16_t>(random() % 90) - 5);
        break;
      }
      default:  // a sane header again, so that the callers get work done
        Store<uint32_t>(0, length);
        Store<int16_t>(4, 12);
        Store<int16_t>(8, 36);
        break;
    }
  }
}

void Caller(unsigned seed) {
  std::mt19937 random(seed);
  KestiHistAdminRepository repository{};
  KestiHistAdminFileSet file_set{};
  KestiHistAdminTuningData tuning{};
  std::vector<KestiHistAdminRepository> repositories(64);
  std::vector<KestiHistAdminFileSet> file_sets(64);
  char message[KHA_MESSAGE_BUFFER_SIZE];
  uint16_t a = 0, b = 0, c = 0, d = 0;
  uint32_t size = 0;
  const auto slot = [&] { return static_cast<uint16_t>(random() % 48); };
  while (!g_stop.load(std::memory_order_relaxed)) {
    const std::string name = "Repository" + std::to_string(random() % 14);
    const auto capacity = static_cast<int16_t>(random() % 65);
    switch (random() % 30) {
      case 0:
        SearchKestiHistAdminRepositoryByName(name.c_str(), &a, &b);
        break;
      case 1:
        SearchKestiHistAdminRepositoryByNumber(slot(), &a);
        break;
      case 2:
        GetKestiHistAdminOneRepository(slot(), &repository);
        break;
      case 3:
        AddKestiHistAdminOneRepository(name.c_str(), 1, &a, &b);
        break;
      case 4:
        UpdateKestiHistAdminOneRepositoryHeader(random() % 2, slot(), &repository);
        break;
      case 5:
        DeleteKestiHistAdminOneRepository(slot());
        break;
      case 6:
        GetKestiHistAdminNumberOfRepositoriesToSave();
        break;
      case 7:
        GetKestiHistAdminAllRepositories(&capacity, repositories.data(), &a);
        break;
      case 8:
        DeleteKestiHistAdminAllFileSetForOneRepository(slot());
        break;
      case 9:
        AddKestiHistAdminOneFileSet(slot(), &a, &b);
        break;
      case 10:
        UpdateKestiHistAdminOneFileSet(random() % 2, slot(), slot(), &file_set);
        break;
      case 11:
        GetKestiHistAdminOneFileSet(slot(), &file_set);
        break;
      case 12:
        SearchKestiHistAdminFileSetByNumber(slot(), slot() % 5, &a);
        break;
      case 13:
        DeleteKestiHistAdminOneFileSetForOneRepository(slot(), slot() % 5);
        break;
      case 14:
        CheckKestiHistAdminAllFileSetsForAFilePath(slot(), slot(), "/h/x", &a, &b);
        break;
      case 15:
        GetKestiHistAdminAllFileSetsForOneRepository(slot(), &capacity, file_sets.data(), &a);
        break;
      case 16:
        RepositoryHasOneActiveFileSet(slot());
        break;
      case 17:
        GetKestiHistAdminCurrentFileSetForOneRepository(slot());
        break;
      case 18:
        GetKestiHistAdminHeader(&size, &a, &b, &c, &d);
        break;
      case 19:
        PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1, -1, -1);
        break;
      case 20:
        GetKestiHistAdminTuningData(&tuning);
        PutKestiHistAdminTuningData(&tuning);
        break;
      case 21:
        PrintKestiHistAdminAllRepository();
        break;
      case 22:
        SaveKestiHistAdminToConfig();
        break;
      case 23:
        LoadFromConfigIntoKestiHistAdmin();
        break;
      case 24:
        LoadFromMarnIntoKestiHistAdmin();
        break;
      case 25: {
        uint32_t room = sizeof message;
        GetKestiHistAdminErrorMessage(-2000 - static_cast<int32_t>(random() % 60), message, &room);
        break;
      }
      case 26:  // a second attachment of this process, and its end
        if (AttachToKestiHistAdminSharedMemory() == KHA_OK) DetachFromKestiHistAdminSharedMemory();
        break;
      case 27:
        if (SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize) == KHA_OK) {
          DetachFromKestiHistAdminSharedMemory();
        }
        break;
      default:  // several operations under one hold
        LockHistAdminMutex();
        SearchKestiHistAdminRepositoryByName(name.c_str(), &a, &b);
        GetKestiHistAdminAllRepositories(&capacity, repositories.data(), &c);
        GetKestiHistAdminAllFileSetsForOneRepository(a, &capacity, file_sets.data(), &d);
        UnlockHistAdminMutex();
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  static kha::fuzz::HeapViewPlatform platform(kha::platform::OsPlatform());
  kha::platform::SetActivePlatform(&platform);
  // Names of this process's own, and a configuration directory of its own
  // for the loads and the save (empty at first: they fail until a save
  // has written the files).
  const std::string prefix = "khahostile" + std::to_string(static_cast<long>(::getpid())) + "_";
  ::setenv(kha::platform::kNamePrefixVariable, prefix.c_str(), 1);
  char directory[] = "/tmp/khahostile.XXXXXX";
  if (::mkdtemp(directory) == nullptr) return 2;
  ::setenv("KESTI_HISTORY_CONFIG_DIR", directory, 1);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
  if (SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize) != KHA_OK) return 2;
  Populate();

  std::vector<std::thread> threads;
  threads.emplace_back(Writer, 1u);
  for (int i = 0; i < kCallers; ++i) threads.emplace_back(Caller, 100u + static_cast<unsigned>(i));
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  g_stop = true;
  for (std::thread& thread : threads) thread.join();
  if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) return 1;
  for (const char* file : {"config.dat", "tune.dat"}) {
    (void)std::remove((std::string(directory) + "/" + file).c_str());
  }
  (void)::rmdir(directory);
  std::fprintf(stderr, "hostile_writer: %d s, %d callers, clean\n", seconds, kCallers);
  return 0;
}
