// The record operations of the library next to the machine's floor, in
// one process run: the lock, a read and a change of one record by slot,
// the search by name, the flush, and reads and changes from two processes
// at once. The names say which is which: Ours/... through the exported
// interface, Floor/... the same work on a bare mutex and mapping.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_contended.h"
#include "bench/bench_floor.h"
#include "bench/bench_records.h"
#include "bench/bench_region.h"
#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "region/slot_hints.h"

namespace kha::bench {
namespace {

constexpr std::size_t kRecordSize = KHA_REPOSITORY_RECORD_SIZE;

// Offset of repository slot k in a view of `size` bytes.
std::size_t SlotOffset(std::size_t size, int k) {
  return size - static_cast<std::size_t>(k) * kRecordSize;
}

void TableSizes(benchmark::internal::Benchmark* b) {
  b->Arg(kSmallTable)->Arg(kMediumTable)->Arg(kLargeTable);
}

// ---- the lock ------------------------------------------------------------

void Floor_Lock(benchmark::State& state) {
  BareMutex mutex;
  for (auto _ : state) {
    mutex.Lock();
    mutex.Unlock();
  }
}
BENCHMARK(Floor_Lock);

void Floor_KernelLock(benchmark::State& state) {
  BareKernelLock lock;
  for (auto _ : state) {
    lock.Lock();
    lock.Unlock();
  }
}
BENCHMARK(Floor_KernelLock);

void Ours_Lock(benchmark::State& state) {
  FilledRegion region(1);
  for (auto _ : state) {
    LockHistAdminMutex();
    UnlockHistAdminMutex();
  }
}
BENCHMARK(Ours_Lock);

// The same lock without the look at the journal that every fresh take
// makes (a build without the journal).
void Ours_LockNoJournal(benchmark::State& state) {
  FilledRegion region(1);
  UseJournalForBenchmarks(false);
  for (auto _ : state) {
    LockHistAdminMutex();
    UnlockHistAdminMutex();
  }
  UseJournalForBenchmarks(true);
}
BENCHMARK(Ours_LockNoJournal);

// ---- copy of one record and msync of a view -------------------------------

void Floor_Copy(benchmark::State& state) {
  BareView view(RegionSizeFor(kSmallTable));
  unsigned char buffer[kRecordSize];
  for (auto _ : state) {
    std::memcpy(buffer, view.At(SlotOffset(RegionSizeFor(kSmallTable), 1)), kRecordSize);
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Floor_Copy);

void Floor_Msync(benchmark::State& state) {
  BareView view(RegionSizeFor(static_cast<int>(state.range(0))));
  for (auto _ : state) view.Flush();
}
BENCHMARK(Floor_Msync)->Apply(TableSizes);

void Ours_Flush(benchmark::State& state) {
  FilledRegion region(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    LockHistAdminMutex();
    benchmark::DoNotOptimize(FlushHistAdminView());
    UnlockHistAdminMutex();
  }
}
BENCHMARK(Ours_Flush)->Apply(TableSizes);

// ---- read one record by slot ---------------------------------------------

void Floor_ReadBySlot(benchmark::State& state) {
  const std::size_t size = RegionSizeFor(static_cast<int>(state.range(0)));
  BareMutex mutex;
  BareView view(size);
  unsigned char buffer[kRecordSize];
  for (auto _ : state) {
    mutex.Lock();
    std::memcpy(buffer, view.At(SlotOffset(size, 1)), kRecordSize);
    mutex.Unlock();
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(Floor_ReadBySlot)->Apply(TableSizes);

void Ours_ReadBySlot(benchmark::State& state) {
  FilledRegion region(static_cast<int>(state.range(0)));
  KestiHistAdminRepository record;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetKestiHistAdminOneRepository(1, &record));
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(Ours_ReadBySlot)->Apply(TableSizes);

void Ours_ReadBySlotNoJournal(benchmark::State& state) {
  FilledRegion region(static_cast<int>(state.range(0)));
  UseJournalForBenchmarks(false);
  KestiHistAdminRepository record;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetKestiHistAdminOneRepository(1, &record));
    benchmark::DoNotOptimize(record);
  }
  UseJournalForBenchmarks(true);
}
BENCHMARK(Ours_ReadBySlotNoJournal)->Apply(TableSizes);

// ---- change one record by slot -------------------------------------------

void Floor_ChangeBySlot(benchmark::State& state) {
  const std::size_t size = RegionSizeFor(static_cast<int>(state.range(0)));
  BareMutex mutex;
  BareView view(size);
  KestiHistAdminRepository record = RepositoryValue(1);
  for (auto _ : state) {
    record.NumberPoints++;
    mutex.Lock();
    std::memcpy(view.At(SlotOffset(size, 1)), &record, kRecordSize);
    view.Flush();
    mutex.Unlock();
  }
}
BENCHMARK(Floor_ChangeBySlot)->Apply(TableSizes);

void Ours_ChangeBySlot(benchmark::State& state) {
  FilledRegion region(static_cast<int>(state.range(0)));
  KestiHistAdminRepository record = RepositoryValue(1);
  for (auto _ : state) {
    record.PendingNumberPoints++;
    benchmark::DoNotOptimize(UpdateKestiHistAdminOneRepositoryHeader(1, 1, &record));
  }
}
BENCHMARK(Ours_ChangeBySlot)->Apply(TableSizes);

// The same change with nothing saved for undo (a build without the journal).
void Ours_ChangeBySlotNoJournal(benchmark::State& state) {
  FilledRegion region(static_cast<int>(state.range(0)));
  UseJournalForBenchmarks(false);
  KestiHistAdminRepository record = RepositoryValue(1);
  for (auto _ : state) {
    record.PendingNumberPoints++;
    benchmark::DoNotOptimize(UpdateKestiHistAdminOneRepositoryHeader(1, 1, &record));
  }
  UseJournalForBenchmarks(true);
}
BENCHMARK(Ours_ChangeBySlotNoJournal)->Apply(TableSizes);

// ---- search by name --------------------------------------------------------
// The name sought is that of the last slot, spelled in the other case: the
// whole table is compared before it is found.

bool SameNameByteByByte(const char* a, const char* b) {
  for (std::size_t i = 0; i < KHA_NAME_FIELD_SIZE; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
  return true;
}

void Floor_NameLoop(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  FilledRegion region(count);
  const std::string name = RepositoryNameOtherCase(count);
  auto* base = reinterpret_cast<const unsigned char*>(HistAdminHeader());
  const std::size_t size = RegionSizeFor(count);
  for (auto _ : state) {
    int found = 0;
    for (int k = 1; k <= count; ++k) {
      const auto* record =
          reinterpret_cast<const KestiHistAdminRepository*>(base + SlotOffset(size, k));
      if (record->SlotUsage == 1 && SameNameByteByByte(name.c_str(), record->RepositoryName)) {
        found = k;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(Floor_NameLoop)->Apply(TableSizes);

void Ours_SearchByName(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  FilledRegion region(count);
  const std::string name = RepositoryNameOtherCase(count);
  uint16_t slot = 0;
  uint16_t number = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SearchKestiHistAdminRepositoryByName(name.c_str(), &slot, &number));
  }
  if (slot != count) state.SkipWithError("the search found the wrong slot");
}
BENCHMARK(Ours_SearchByName)->Apply(TableSizes);

// ---- many adds under one hold ----------------------------------------------
// What a load does: n file sets added to one repository while the mutex is
// held throughout, into an emptied table, with the free-slot hints of a
// load. Reported per file set.

void Ours_AddFileSetsUnderOneHold(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  UsePrivateObjectNames();
  const uint32_t size = RegionSizeFor(1, count);
  if (SetupAndAttachToKestiHistAdminSharedMemory(size) != KHA_OK) {
    state.SkipWithError("no region");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    PutKestiHistAdminHeader(size, 0, 0, 0, 0);
    state.ResumeTiming();
    LockHistAdminMutex();
    const FreeSlotHintScope scope;
    uint16_t slot = 0;
    uint16_t number = 0;
    AddKestiHistAdminOneRepository("Repository_00001", KHA_STATUS_ACTIVE, &slot, &number);
    for (int k = 0; k < count; ++k) {
      uint16_t file_set_number = 0;
      uint16_t file_set_slot = 0;
      AddKestiHistAdminOneFileSet(slot, &file_set_number, &file_set_slot);
    }
    UnlockHistAdminMutex();  // the scope ends after the hold: no harm, it is forgotten
  }
  uint16_t file_sets = 0;
  GetKestiHistAdminHeader(nullptr, nullptr, nullptr, nullptr, &file_sets);
  if (file_sets != count) state.SkipWithError("not every file set was added");
  while (DetachFromKestiHistAdminSharedMemory() == KHA_OK) {
  }
}
BENCHMARK(Ours_AddFileSetsUnderOneHold)->Arg(kMediumTable)->Arg(kLargeTable);

// The memory those adds must touch, and nothing else: the slot fields of
// n fresh file-set records and the link from the one before, in a mapping
// of the same size, no lock, no flush.
void Floor_AddFileSetsUnderOneHold(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  BareView view(RegionSizeFor(1, count));
  for (auto _ : state) {
    KestiHistAdminFileSet* previous = nullptr;
    for (int k = 1; k <= count; ++k) {
      auto* record = reinterpret_cast<KestiHistAdminFileSet*>(view.At(
          KHA_FILESET_TABLE_OFFSET + static_cast<std::size_t>(k - 1) * KHA_FILESET_RECORD_SIZE));
      record->RecordStatus = KHA_STATUS_ACTIVE;
      record->SlotUsage = 1;
      record->Index = static_cast<int16_t>(k);
      record->ReposIndex = 1;
      record->NextIndex = 0;
      if (previous != nullptr) previous->NextIndex = static_cast<int16_t>(k);
      previous = record;
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Floor_AddFileSetsUnderOneHold)->Arg(kMediumTable)->Arg(kLargeTable);

// ---- two processes at once -----------------------------------------------
// Each process reads one record and changes it, over and over, each on a
// slot of its own. The floor does the same two copies and the msync of
// the change under a bare process-shared mutex, and nothing else.

void Floor_Contended(benchmark::State& state) {
  const std::size_t size = RegionSizeFor(kSmallTable);
  BareMutex mutex;
  BareView view(size);
  RunContended(state, [&](int process) {
    KestiHistAdminRepository record;
    mutex.Lock();
    std::memcpy(&record, view.At(SlotOffset(size, process + 1)), kRecordSize);
    mutex.Unlock();
    benchmark::DoNotOptimize(record);
    record.PendingNumberPoints++;
    mutex.Lock();
    std::memcpy(view.At(SlotOffset(size, process + 1)), &record, kRecordSize);
    view.Flush();
    mutex.Unlock();
  });
}
BENCHMARK(Floor_Contended)->UseRealTime();

void Ours_Contended(benchmark::State& state) {
  FilledRegion region(kSmallTable);
  RunContended(state, [&](int process) {
    KestiHistAdminRepository record;
    const auto slot = static_cast<uint16_t>(process + 1);
    benchmark::DoNotOptimize(GetKestiHistAdminOneRepository(slot, &record));
    record.PendingNumberPoints++;
    benchmark::DoNotOptimize(UpdateKestiHistAdminOneRepositoryHeader(1, slot, &record));
  });
}
BENCHMARK(Ours_Contended)->UseRealTime();

}  // namespace
}  // namespace kha::bench

BENCHMARK_MAIN();
