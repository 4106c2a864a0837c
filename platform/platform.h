// The operating-system calls behind the HistAdmin region: a named,
// re-entrant, cross-process mutex and a named shared-memory section with
// its view. One backend per OS (platform/posix, platform/win32), picked by
// CMake; the core calls only this interface and never the OS itself.
//
// Every call goes through ActivePlatform(), so a test can put a decorator
// in front of the OS backend and make any call fail (see fault_injection.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kha::platform {

// Opaque per-backend objects. A handle stays valid until its Close call.
struct MutexObject;
struct SectionObject;
struct SecurityDescriptor;

enum class LockOutcome {
  kTaken,      // the calling thread now holds the mutex
  kAbandoned,  // taken over from an owner that died while holding it
  kFailed,     // not taken
};

class Platform {
 public:
  virtual ~Platform() = default;

  // A descriptor that gives every account on the machine full access to
  // the objects created with it. Allocate returns null when out of memory.
  virtual SecurityDescriptor* AllocateSecurityDescriptor() = 0;
  virtual bool InitializeSecurityDescriptor(SecurityDescriptor* sd) = 0;
  virtual bool SetNullDacl(SecurityDescriptor* sd) = 0;
  virtual void FreeSecurityDescriptor(SecurityDescriptor* sd) = 0;

  // Create opens the object when the name already names a live one, as
  // CreateMutexA does. Both return null on failure (Open: also when no
  // live object has that name).
  virtual MutexObject* CreateMutex(const char* name, SecurityDescriptor* sd) = 0;
  virtual MutexObject* OpenMutex(const char* name) = 0;
  // Waits without time-out. Re-entrant for the holding thread.
  virtual LockOutcome LockMutex(MutexObject* mutex) = 0;
  virtual bool UnlockMutex(MutexObject* mutex) = 0;
  virtual void CloseMutex(MutexObject* mutex) = 0;

  // Create opens the section when the name already names a live one; the
  // section then keeps its size, whatever `size` asks for.
  virtual SectionObject* CreateSection(const char* name, uint32_t size, SecurityDescriptor* sd) = 0;
  virtual SectionObject* OpenSection(const char* name) = 0;
  // Size of the section in bytes, as mapping it whole would give.
  virtual uint64_t SectionSize(SectionObject* section) = 0;
  // Maps the whole section for reading and writing; null on failure.
  // `length` receives the number of bytes mapped.
  virtual void* MapView(SectionObject* section, size_t* length) = 0;
  virtual bool FlushView(void* view, size_t length) = 0;
  virtual bool UnmapView(void* view, size_t length) = 0;
  virtual void CloseSection(SectionObject* section) = 0;
};

// The backend of this OS.
Platform& OsPlatform();

// Has `prepare` run in the forking thread before every later fork(), and
// `parent` and `child` after it, in the parent and in the child's one
// thread. Handlers registered earlier run their `prepare` later, and their
// `parent` and `child` earlier, than those registered after them; the
// backend's own (a child holds none of its parent's holds) come first.
// Nothing happens on a system without fork.
void RunAroundFork(void (*prepare)(), void (*parent)(), void (*child)());

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

// Tests only: installs `platform` (null restores the OS backend). Not safe
// while another thread is inside the library.
void SetActivePlatform(Platform* platform);

// The fixed kernel-object names, in the system's own (Windows) spelling.
inline constexpr const char kHistAdminMutexName[] = "Global\\KESTICORE_HISTADMIN_MUTEX";
inline constexpr const char kHistAdminSectionName[] = "Global\\KESTICORE_HISTADMIN";
// The undo journal beside the region, a section of its own.
inline constexpr const char kHistAdminJournalName[] = "Global\\KESTICORE_HISTADMIN_JOURNAL";

// Environment variable with a prefix put in front of the object names
// (after "Global\"). Only tests set it, so that they neither collide with
// each other nor touch a real region; unset, the names are the fixed ones.
inline constexpr const char kNamePrefixVariable[] = "KESTIHISTADMIN_NAME_PREFIX";

}  // namespace kha::platform
