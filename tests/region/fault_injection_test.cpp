// Every failure path of set-up, attach, detach and flush, made to happen by
// failing the operating-system calls behind them, with what the process
// still holds afterwards and the OS reason the caller is left with.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/lifecycle.h"
#include "support/fault_platform.h"
#include "support/fault_sweep.h"
#include "support/os_error.h"
#include "support/region_fixture.h"

namespace {

using kha::platform::Call;
using kha::platform::kInjectedError;
using kha::platform::OsFailure;
using kha::platform::Step;
using kha::test::CallKeepingOsError;
using kha::test::DetachCompletely;
using kha::test::ResultAndError;
using kha::test::RunFaultSweep;
using kha::test::ScopedFaultPlatform;

constexpr uint32_t kSize = 100000;

// Another holder of both objects, as another process would be: the region
// stays alive while the tests attach and detach around it.
class OtherHolder {
 public:
  explicit OtherHolder(uint32_t size = kSize) {
    auto& os = kha::platform::OsPlatform();
    if (const auto mutex = os.CreateMutex(kha::platform::kHistAdminMutexName); mutex.ok()) {
      mutex_ = mutex.value();
    }
    if (const auto section = os.CreateSection(kha::platform::kHistAdminSectionName, size);
        section.ok()) {
      section_ = section.value();
    }
  }
  ~OtherHolder() {
    auto& os = kha::platform::OsPlatform();
    if (section_ != nullptr) os.CloseSection(section_);
    if (mutex_ != nullptr) os.CloseMutex(mutex_);
  }
  bool Holds() const { return mutex_ != nullptr && section_ != nullptr; }

 private:
  kha::platform::MutexObject* mutex_ = nullptr;
  kha::platform::SectionObject* section_ = nullptr;
};

// Attached: the mutex, the region's section and the journal's, both mapped.
void ExpectAttachedHolding(const ScopedFaultPlatform& faults) {
  EXPECT_EQ(faults->OpenMutexes(), 1);
  EXPECT_EQ(faults->OpenSections(), 2);
  EXPECT_EQ(faults->MappedViews(), 2);
}

// Every call of set-up or attach failed in turn (a failed lock or unlock
// is not examined, so those runs succeed), with no region yet and while
// another process holds one. After a failure nothing may be held and the
// caller has the injected OS error; after a success exactly one attach is
// held, which is given back. Set-up: create mutex, lock, create section,
// its size, map, then the journal: open (none yet), create, map; unlock.
// Attach: open mutex, lock, open section, map, then the journal, which the
// other holder did not make: open, create, map; unlock.
TEST(FaultInjection, SweepsFailWithAPromisedCodeAndHoldNothing) {
  const std::set<int32_t> setup_codes = {KHA_OK, KHA_CREATE_MUTEX_FAILED, KHA_CREATE_MAPPING_FAILED,
                                         KHA_MAP_VIEW_FAILED};
  const struct {
    const char* what;
    bool another_holds;
    std::function<int32_t()> operation;
    std::set<int32_t> promised;
    std::size_t runs_that_failed;
  } sweeps[] = {
      {"set-up, no region yet", false,
       [] { return SetupAndAttachToKestiHistAdminSharedMemory(kSize); }, setup_codes, 9},
      {"set-up, another process holds the region", true,
       [] { return SetupAndAttachToKestiHistAdminSharedMemory(kSize); }, setup_codes, 9},
      {"attach",
       true,
       [] { return AttachToKestiHistAdminSharedMemory(); },
       {KHA_OK, KHA_OPEN_MUTEX_FAILED, KHA_OPEN_MAPPING_FAILED, KHA_MAP_VIEW_FAILED,
        KHA_CREATE_MAPPING_FAILED},
       8},
  };
  for (const auto& sweep : sweeps) {
    SCOPED_TRACE(sweep.what);
    std::optional<OtherHolder> other;
    if (sweep.another_holds) {
      ASSERT_TRUE(other.emplace().Holds());
    }
    ScopedFaultPlatform faults;
    const auto after = [&](int, int32_t result, bool) {
      if (result == KHA_OK) {
        ExpectAttachedHolding(faults);
        EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
      }
      EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
      EXPECT_TRUE(faults.HoldsNothing());
    };
    EXPECT_EQ(RunFaultSweep(faults, {.promised = sweep.promised,
                                     .operation = sweep.operation,
                                     .after = after,
                                     .leaves_os_error = true})
                  .size(),
              sweep.runs_that_failed);
  }
}

TEST(FaultInjection, RefusedSetupsHoldNothing) {
  ScopedFaultPlatform faults;
  // Below the header and the tuning block: nothing is made, so no attach
  // finds a region.
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(691), KHA_NO_SPACE);
  EXPECT_TRUE(faults.HoldsNothing());
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(0), KHA_NO_SPACE);
  EXPECT_TRUE(faults.HoldsNothing());
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  {
    // Another process made the section smaller than asked: the region may
    // not claim bytes that do not exist.
    OtherHolder other(kSize / 2);
    ASSERT_TRUE(other.Holds());
    // No OS reason: the OS did what was asked.
    EXPECT_EQ(CallKeepingOsError([] { return SetupAndAttachToKestiHistAdminSharedMemory(kSize); },
                                 kInjectedError),
              ResultAndError(KHA_CREATE_MAPPING_FAILED, 0));
    EXPECT_TRUE(faults.HoldsNothing());
    EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
    // Asking for no more than exists works, and a bigger section keeps
    // its size while the header says what was asked.
    EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize / 4), KHA_OK);
    uint32_t size = 0;
    EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_OK);
    EXPECT_EQ(size, kSize / 4);
    EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  }
  EXPECT_TRUE(faults.HoldsNothing());
}

struct StepFailure {
  Call call;
  Step step;  // where inside the call it fails
  int32_t expected;
};

// Fails each step once, each with an error number of its own, and expects
// its code, that number left for the caller, and nothing held.
void ExpectEachStepsCode(ScopedFaultPlatform& faults, const std::vector<StepFailure>& steps,
                         const std::function<int32_t()>& operation) {
  int error = 100;
  for (const StepFailure& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.step));
    ++error;
    faults->FailNth(step.call, 1, OsFailure{step.step, error});
    const auto [result, left] = CallKeepingOsError(operation);
    EXPECT_EQ(result, step.expected);
    if (step.expected != KHA_OK) {
      EXPECT_EQ(left, error);
    }
    faults->Reset();
    DetachCompletely();
    EXPECT_TRUE(faults.HoldsNothing());
  }
}

TEST(FaultInjection, EachSetupStepReportsItsOwnCodeAndOsError) {
  const std::vector<StepFailure> steps = {
      // A create fails at a descriptor step on Windows only, but the core
      // maps each such step to its code on every system.
      {Call::kCreateMutex, Step::kAllocateDescriptor, KHA_NO_MEMORY},
      {Call::kCreateMutex, Step::kInitializeDescriptor, KHA_INIT_SECURITY_FAILED},
      {Call::kCreateMutex, Step::kSetNullDacl, KHA_SET_SECURITY_FAILED},
      {Call::kCreateMutex, Step::kCreateMutex, KHA_CREATE_MUTEX_FAILED},
      // The mutex is closed again when the section cannot be created.
      {Call::kCreateSection, Step::kAllocateDescriptor, KHA_NO_MEMORY},
      {Call::kCreateSection, Step::kSetNullDacl, KHA_SET_SECURITY_FAILED},
      {Call::kCreateSection, Step::kCreateSection, KHA_CREATE_MAPPING_FAILED},
      {Call::kSectionSize, Step::kSectionSize, KHA_CREATE_MAPPING_FAILED},
      {Call::kMapView, Step::kMapView, KHA_MAP_VIEW_FAILED},
      // Never a set-up without the mutex; the unlock's outcome is not examined.
      {Call::kLockMutex, Step::kLockMutex, KHA_CREATE_MUTEX_FAILED},
      {Call::kUnlockMutex, Step::kUnlockMutex, KHA_OK},
  };
  ScopedFaultPlatform faults;
  ExpectEachStepsCode(faults, steps,
                      [] { return SetupAndAttachToKestiHistAdminSharedMemory(kSize); });
  // A failure without an OS reason leaves 0, also right after one with a
  // reason.
  faults->FailNth(Call::kMapView, 1);
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_MAP_VIEW_FAILED);
  faults->Reset();
  EXPECT_EQ(
      CallKeepingOsError([] { return DetachFromKestiHistAdminSharedMemory(); }, kInjectedError),
      ResultAndError(KHA_NOT_MAPPED, 0));
}

TEST(FaultInjection, EachAttachStepReportsItsOwnCodeAndOsError) {
  OtherHolder other;
  ASSERT_TRUE(other.Holds());
  const std::vector<StepFailure> steps = {
      {Call::kOpenMutex, Step::kOpenMutex, KHA_OPEN_MUTEX_FAILED},
      {Call::kOpenSection, Step::kOpenSection, KHA_OPEN_MAPPING_FAILED},
      {Call::kMapView, Step::kMapView, KHA_MAP_VIEW_FAILED},
      {Call::kLockMutex, Step::kLockMutex, KHA_OPEN_MUTEX_FAILED},
      {Call::kUnlockMutex, Step::kUnlockMutex, KHA_OK},
  };
  ScopedFaultPlatform faults;
  ExpectEachStepsCode(faults, steps, [] { return AttachToKestiHistAdminSharedMemory(); });
}

// A failed wait is refused, never run without the mutex: the operation
// finds no region, a detach keeps the attachment for a later one.
TEST(FaultInjection, AFailedWaitIsRefusedAndAFailedUnlockStillDetaches) {
  ScopedFaultPlatform faults;
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  faults->FailNth(Call::kLockMutex, 1);
  uint32_t size = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_NOT_MAPPED);
  faults->FailNth(Call::kLockMutex, 1);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(size, kSize);
  faults->FailNth(Call::kUnlockMutex, 1);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  faults->Reset();
  EXPECT_TRUE(faults.HoldsNothing());
}

TEST(FaultInjection, DetachWhoseUnmapFailsKeepsTheLoweredCountAndBothHandles) {
  ScopedFaultPlatform faults;
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  faults->FailNth(Call::kUnmapView, 1);
  EXPECT_EQ(CallKeepingOsError([] { return DetachFromKestiHistAdminSharedMemory(); }),
            ResultAndError(KHA_UNMAP_VIEW_FAILED, kInjectedError));
  faults->Reset();
  ExpectAttachedHolding(faults);
  // The count is 0: nothing more to detach, and the held section handle
  // makes a new attach or set-up report it.
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_ALREADY_OPEN);
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_ALREADY_EXISTS);
  ExpectAttachedHolding(faults);
  // Only the internal steps can let go of it now.
  EXPECT_EQ(kha::UnmapHistAdminView(), KHA_OK);
  kha::CloseHistAdminMapping();
  kha::CloseHistAdminMutex();
  EXPECT_TRUE(faults.HoldsNothing());
}

// An exception inside set-up or attach (the backends turn a failed
// allocation of an object's name into a failure of their own, so this is
// the last line) is reported as -2005, never thrown at the C caller, and
// leaves no hold of the mutex and no handle behind: thrown at the mutex's
// create or open, and at the section's, with the mutex taken.
TEST(FaultInjection, AnExceptionInsideIsReportedAndLeavesNothingHeld) {
  OtherHolder other;  // keeps the region alive for the attaches
  ASSERT_TRUE(other.Holds());
  ScopedFaultPlatform faults;
  for (const bool setup : {true, false}) {
    for (const int nth : {1, 3}) {
      SCOPED_TRACE(testing::Message() << (setup ? "set-up" : "attach") << ", call " << nth);
      faults->ThrowNthOfAny(nth);
      EXPECT_EQ(setup ? SetupAndAttachToKestiHistAdminSharedMemory(kSize)
                      : AttachToKestiHistAdminSharedMemory(),
                KHA_NO_MEMORY);
      faults->Reset();
      EXPECT_TRUE(faults.HoldsNothing());
      EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
      // No hold of this thread is left over: another thread gets the mutex.
      ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
      std::thread([] {
        LockHistAdminMutex();
        UnlockHistAdminMutex();
      }).join();
      EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
    }
  }
}

TEST(FaultInjection, HeaderPutKeepsWhatItSkipsAndARefusedOneWritesNothingNorFlushes) {
  ScopedFaultPlatform faults;
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, 2, 1, 3, 2), KHA_OK);
  ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1, -1, -1), KHA_OK);  // all kept
  const int flushes = faults->Calls(Call::kFlushView);
  // A size beyond the view, and one below the header and tuning block.
  EXPECT_EQ(PutKestiHistAdminHeader(kSize + 4096 * 8, 0, 0, 0, 0), KHA_NO_SPACE);
  EXPECT_EQ(PutKestiHistAdminHeader(691, 0, 0, 0, 0), KHA_NO_SPACE);
  EXPECT_EQ(faults->Calls(Call::kFlushView), flushes);
  uint32_t size = 0;
  uint16_t rhw = 0, nr = 0, fhw = 0, nfs = 0;
  ASSERT_EQ(GetKestiHistAdminHeader(&size, &rhw, &nr, &fhw, &nfs), KHA_OK);
  EXPECT_EQ(size, kSize);
  EXPECT_EQ(rhw, 2);
  EXPECT_EQ(nr, 1);
  EXPECT_EQ(fhw, 3);
  EXPECT_EQ(nfs, 2);
  // The largest header that fits is accepted: the tables meet exactly.
  const int16_t file_sets = static_cast<int16_t>((kSize - 692 - 2 * 1144) / 600);
  EXPECT_EQ(PutKestiHistAdminHeader(692 + 2 * 1144 + static_cast<uint32_t>(file_sets) * 600, 2, 0,
                                    file_sets, 0),
            KHA_OK);
  DetachCompletely();
}

TEST(FaultInjection, FailedFlushIsReportedAfterTheWrite) {
  ScopedFaultPlatform faults;
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  KestiHistAdminTuningData tuning{};
  tuning.TuningValue1 = 42;
  faults->FailNth(Call::kFlushView, 1);
  EXPECT_EQ(CallKeepingOsError([&] { return PutKestiHistAdminTuningData(&tuning); }),
            ResultAndError(KHA_FLUSH_VIEW_FAILED, kInjectedError));
  faults->FailNth(Call::kFlushView, 1);
  EXPECT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, 7, -1, -1), KHA_FLUSH_VIEW_FAILED);
  faults->Reset();
  KestiHistAdminTuningData out{};
  ASSERT_EQ(GetKestiHistAdminTuningData(&out), KHA_OK);
  EXPECT_EQ(out.TuningValue1, 42);
  uint16_t repos = 0;
  ASSERT_EQ(GetKestiHistAdminHeader(nullptr, nullptr, &repos, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(repos, 7);
  EXPECT_EQ(faults->Calls(Call::kFlushView), 2);
  // Reads never flush.
  ASSERT_EQ(GetKestiHistAdminTuningData(&out), KHA_OK);
  EXPECT_EQ(faults->Calls(Call::kFlushView), 2);
  DetachCompletely();
  EXPECT_TRUE(faults.HoldsNothing());
}

}  // namespace
