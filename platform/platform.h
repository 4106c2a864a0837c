// The operating-system calls behind the HistAdmin region, in the region's
// own terms: a named, re-entrant, cross-process mutex and a named
// shared-memory section with its view. One backend per OS (platform/posix,
// platform/win32), picked by CMake; the core calls only this interface and
// never the OS itself.
//
// Every fallible call says, when it fails, which step failed and the OS
// error number behind it (errno on POSIX, GetLastError on Windows), so
// that the reason can reach the person who sees the failure. How an object
// is made usable by every account is each backend's own business.
//
// Every call goes through ActivePlatform(), so that the library's test
// build can put a decorator in front of the OS backend
// (testing/set_active_platform.h); the shipped library has no way to.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kha::platform {

// Opaque per-backend objects. A handle stays valid until its Close call.
struct MutexObject;
struct SectionObject;

// The steps that can fail, each with its own result code in the core.
enum class Step {
  // Windows only: the security descriptor of a creation (heap block,
  // initialisation, null DACL).
  kAllocateDescriptor,
  kInitializeDescriptor,
  kSetNullDacl,
  kCreateMutex,
  kOpenMutex,
  kLockMutex,
  kUnlockMutex,
  kCreateSection,
  kOpenSection,
  kSectionSize,
  kMapView,
  kFlushView,
  kUnmapView,
};

// Why a call failed: the step and the OS error number (errno on POSIX,
// GetLastError on Windows; 0 only when the OS gave none).
struct OsFailure {
  Step step;
  int error;
};

// What a fallible call gives back: its value, or the failure.
template <typename T>
class [[nodiscard]] OsResult {
 public:
  OsResult(T value) : value_(value) {}                            // NOLINT: implicit by design
  OsResult(OsFailure failure) : failure_(failure), ok_(false) {}  // NOLINT
  bool ok() const { return ok_; }
  T value() const { return value_; }
  OsFailure failure() const { return failure_; }

 private:
  T value_{};
  OsFailure failure_{};
  bool ok_ = true;
};

// A call that gives nothing back but may fail.
template <>
class [[nodiscard]] OsResult<void> {
 public:
  OsResult() = default;
  OsResult(OsFailure failure) : failure_(failure), ok_(false) {}  // NOLINT
  bool ok() const { return ok_; }
  OsFailure failure() const { return failure_; }

 private:
  OsFailure failure_{};
  bool ok_ = true;
};

enum class LockOutcome {
  kTaken,      // the calling thread now holds the mutex
  kAbandoned,  // taken over from an owner that died while holding it
  kFailed,     // not taken: only inside a backend; LockMutex reports a failure instead
};

// A mapped view: where it starts and how many bytes it spans.
struct View {
  void* address = nullptr;
  size_t length = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Create makes the object usable by every account on the machine, and
  // opens it when the name already names a live one. Open fails when no
  // live object has that name.
  virtual OsResult<MutexObject*> CreateMutex(const char* name) = 0;
  virtual OsResult<MutexObject*> OpenMutex(const char* name) = 0;
  // Waits without time-out. Re-entrant for the holding thread: kTaken or
  // kAbandoned. A mutex that cannot be made usable again is a failure.
  virtual OsResult<LockOutcome> LockMutex(MutexObject* mutex) = 0;
  // Lets go of one hold of the calling thread; a failure when it holds none.
  virtual OsResult<void> UnlockMutex(MutexObject* mutex) = 0;
  virtual void CloseMutex(MutexObject* mutex) = 0;

  // As for the mutex; a section that already exists keeps its size,
  // whatever `size` asks for.
  virtual OsResult<SectionObject*> CreateSection(const char* name, uint32_t size) = 0;
  virtual OsResult<SectionObject*> OpenSection(const char* name) = 0;
  // Size of the section in bytes, as mapping it whole would give.
  virtual OsResult<uint64_t> SectionSize(SectionObject* section) = 0;
  // Maps the whole section for reading and writing.
  virtual OsResult<View> MapView(SectionObject* section) = 0;
  // Starts writing the whole view back; a view no longer mapped fails.
  virtual OsResult<void> FlushView(View view) = 0;
  virtual OsResult<void> UnmapView(View view) = 0;
  virtual void CloseSection(SectionObject* section) = 0;
};

// For the backends: runs a create or an open and turns an allocation it
// cannot make (the object's name, its record) into a failure of `step`
// with `error`, the OS's own "not enough memory", so that nothing is
// thrown at the core.
template <typename T, typename Acquire>
OsResult<T> AcquiringWithoutThrow(Step step, int error, Acquire&& acquire) noexcept {
  try {
    return acquire();
  } catch (...) {
    return OsFailure{step, error};
  }
}

// The backend of this OS.
Platform& OsPlatform();

// Leaves `error` where the caller of an export finds the reason of a
// failure: errno on POSIX, the thread's last error (SetLastError) on
// Windows.
void LeaveOsError(int error);

// Has `prepare` run in the forking thread before every later fork(), and
// `parent` and `child` after it, in the parent and in the child's one
// thread. Handlers registered earlier run their `prepare` later, and their
// `parent` and `child` earlier, than those registered after them; the
// backend's own (a child holds none of its parent's holds) come first.
// Nothing happens on a system without fork.
void RunAroundFork(void (*prepare)(), void (*parent)(), void (*child)());

// Has `end(value)` called when the calling thread ends, for the one
// `end` function of the program that uses this (the first call's). It
// must not touch the thread's thread-locals: where they are emulated,
// their storage may be gone by then. False when the OS offers no such
// call.
bool CallAtThreadEnd(void (*end)(void*), void* value);

// A barrier across every thread of this process, for a rare writer that
// must see what the other threads stored before it (with only compiler
// barriers of their own): ProcessBarrier returns once every thread has
// passed a full memory barrier. StartProcessBarriers is called once
// before the first; false when the OS offers no such barrier, and
// ProcessBarrier false when it failed.
bool StartProcessBarriers();
bool ProcessBarrier();

namespace detail {
// The installed platform; null until first use, then the OS backend
// unless a test installed another.
extern constinit std::atomic<Platform*> g_active_platform;
Platform& InstallOsPlatform();
}  // namespace detail

// What the core calls: the OS backend unless a test installed another.
// Inline: every lock and unlock goes through it.
inline Platform& ActivePlatform() {
  Platform* active = detail::g_active_platform.load(std::memory_order_acquire);
  return active != nullptr ? *active : detail::InstallOsPlatform();
}

// The fixed kernel-object names, in the system's own (Windows) spelling.
inline constexpr const char kHistAdminMutexName[] = "Global\\KESTICORE_HISTADMIN_MUTEX";
inline constexpr const char kHistAdminSectionName[] = "Global\\KESTICORE_HISTADMIN";
// The undo journal beside the region, a section of its own.
inline constexpr const char kHistAdminJournalName[] = "Global\\KESTICORE_HISTADMIN_JOURNAL";

}  // namespace kha::platform
