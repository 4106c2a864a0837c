// libFuzzer target: a hostile region. Each input starts from a region with
// a few repositories and file sets, then runs a program of commands read
// from the input: writes of arbitrary bytes anywhere into the header, the
// tuning block and the records, and calls of every exported operation
// with arguments from the input, and journals left open with arbitrary
// entries for the next take of the mutex to roll back. The callers' buffers are sound; only the
// region lies. Any crash, and any read or write outside the view (AddressSanitizer watches it to
// the byte, see heap_view_platform.h) or outside a caller's buffer, is a
// finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "heap_view_platform.h"
#include "kestihistadmin.h"
#include "region/journal_layout.h"
#include "region/process_state.h"

namespace {

// Room for three file sets and two repositories and some free space.
constexpr uint32_t kRegionSize = 692 + 5 * 600 + 3 * 1144;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t Long() { return static_cast<uint32_t>(Word() | (static_cast<uint32_t>(Word()) << 16)); }
  // Up to `limit` bytes copied into `into`; the rest of `into` is left.
  size_t Bytes(void* into, size_t limit) {
    const size_t n = std::min<size_t>(limit, size_ - std::min(at_, size_));
    std::memcpy(into, data_ + at_, n);
    at_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

std::vector<std::byte> g_start;  // the region every input starts from

std::byte* View() { return kha::HistAdminProcess().view.load(); }
size_t ViewLength() { return kha::HistAdminProcess().view_length.load(); }

void Populate() {
  uint16_t slot = 0, number = 0, fs_number = 0, fs_slot = 0;
  AddKestiHistAdminOneRepository("Alpha", 1, &slot, &number);
  for (int i = 0; i < 2; ++i) AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot);
  AddKestiHistAdminOneRepository("Beta", 3, &slot, &number);
  AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot);
}

bool Initialise() {
  static kha::fuzz::HeapViewPlatform platform(kha::platform::OsPlatform());
  kha::platform::SetActivePlatform(&platform);
  // Names of this fuzzing process's own; the dump's output is not wanted.
  const std::string prefix = "khafuzz" + std::to_string(static_cast<long>(::getpid())) + "_";
  ::setenv(kha::platform::kNamePrefixVariable, prefix.c_str(), 1);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return false;
  if (SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize) != KHA_OK) std::abort();
  Populate();
  g_start.assign(View(), View() + ViewLength());
  std::atexit([] { DetachFromKestiHistAdminSharedMemory(); });
  return true;
}

void Run(Input& in) {
  KestiHistAdminRepository repository;
  KestiHistAdminFileSet file_set;
  KestiHistAdminTuningData tuning;
  std::vector<KestiHistAdminRepository> repositories(8);
  std::vector<KestiHistAdminFileSet> file_sets(8);
  char name[40];
  uint16_t a = 0, b = 0, c = 0, d = 0;
  uint32_t size = 0;
  int depth = 0;
  for (int steps = 0; steps < 64 && !in.Empty(); ++steps) {
    const uint8_t command = in.Byte();
    switch (command % 26) {
      case 0:
      case 1:
      case 2: {  // arbitrary bytes into the region
        const size_t offset = in.Word() % ViewLength();
        const size_t length = std::min<size_t>(in.Byte() % 33, ViewLength() - offset);
        in.Bytes(View() + offset, length);
        break;
      }
      case 3:  // one 16-bit field of the header
        std::memcpy(View() + 4 + 2 * (in.Byte() % 4), &(a = in.Word()), 2);
        break;
      case 4: {
        std::memset(name, 0, sizeof name);
        in.Bytes(name, in.Byte() % 34);
        SearchKestiHistAdminRepositoryByName(name, &a, &b);
        break;
      }
      case 5:
        SearchKestiHistAdminRepositoryByNumber(in.Word(), &a);
        break;
      case 6:
        GetKestiHistAdminOneRepository(in.Word(), &repository);
        break;
      case 7: {
        std::memset(name, 0, sizeof name);
        in.Bytes(name, in.Byte() % 34);
        AddKestiHistAdminOneRepository(name, static_cast<int32_t>(in.Byte()), &a, &b);
        break;
      }
      case 8:
        in.Bytes(&repository, sizeof repository);
        UpdateKestiHistAdminOneRepositoryHeader(in.Byte(), in.Word(), &repository);
        break;
      case 9:
        DeleteKestiHistAdminOneRepository(in.Word());
        break;
      case 10:
        GetKestiHistAdminNumberOfRepositoriesToSave();
        break;
      case 11: {
        const auto capacity = static_cast<int16_t>(in.Byte() % 9);
        GetKestiHistAdminAllRepositories(&capacity, repositories.data(), &a);
        break;
      }
      case 12:
        DeleteKestiHistAdminAllFileSetForOneRepository(in.Word());
        break;
      case 13:
        AddKestiHistAdminOneFileSet(in.Word(), &a, &b);
        break;
      case 14:
        in.Bytes(&file_set, sizeof file_set);
        UpdateKestiHistAdminOneFileSet(in.Byte(), in.Word(), in.Word(), &file_set);
        break;
      case 15:
        GetKestiHistAdminOneFileSet(in.Word(), &file_set);
        break;
      case 16:
        SearchKestiHistAdminFileSetByNumber(in.Word(), in.Word(), &a);
        break;
      case 17:
        DeleteKestiHistAdminOneFileSetForOneRepository(in.Word(), in.Word());
        break;
      case 18: {
        char path[300];
        std::memset(path, 0, sizeof path);
        in.Bytes(path, in.Byte());
        CheckKestiHistAdminAllFileSetsForAFilePath(in.Word(), in.Word(), path, &a, &b);
        break;
      }
      case 19: {
        const auto capacity = static_cast<int16_t>(in.Byte() % 9);
        GetKestiHistAdminAllFileSetsForOneRepository(in.Word(), &capacity, file_sets.data(), &a);
        break;
      }
      case 20:
        RepositoryHasOneActiveFileSet(in.Word());
        GetKestiHistAdminCurrentFileSetForOneRepository(in.Word());
        break;
      case 21:
        GetKestiHistAdminHeader(&size, &a, &b, &c, &d);
        PutKestiHistAdminHeader(in.Long(), static_cast<int16_t>(in.Word()),
                                static_cast<int16_t>(in.Word()), static_cast<int16_t>(in.Word()),
                                static_cast<int16_t>(in.Word()));
        break;
      case 22:
        in.Bytes(&tuning, sizeof tuning);
        PutKestiHistAdminTuningData(&tuning);
        GetKestiHistAdminTuningData(&tuning);
        break;
      case 23:
        PrintKestiHistAdminAllRepository();
        break;
      case 24:
        if (depth < 4 && in.Byte() % 2 == 0) {
          LockHistAdminMutex();
          ++depth;
        } else if (depth > 0) {
          UnlockHistAdminMutex();
          --depth;
        }
        break;
      default: {
        // A journal that a dead holder left open, with arbitrary entries:
        // the next fresh take replays what lies inside the journal and the
        // view, and nothing else.
        std::byte* journal = kha::HistAdminProcess().journal.load();
        const size_t length = kha::HistAdminProcess().journal_length.load();
        if (journal == nullptr || depth > 0 || length < kha::kJournalHeaderSize + 512) break;
        in.Bytes(journal + kha::kJournalHeaderSize, 512);
        const uint32_t state = in.Long();
        std::memcpy(journal + kha::kJournalStateOffset, &state, sizeof state);
        LockHistAdminMutex();
        UnlockHistAdminMutex();
        break;
      }
    }
  }
  while (depth-- > 0) UnlockHistAdminMutex();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Initialise();
  if (!ready) return 0;
  std::memcpy(View(), g_start.data(), g_start.size());
  Input in(data, size);
  Run(in);
  return 0;
}
