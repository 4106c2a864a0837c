// Which threads of this process are inside a take or a release of the
// HistAdmin mutex handle right now. The handle is closed only once no
// other thread is (CloseHistAdminMutex): a thread waiting for the mutex
// while another detaches must not find its handle gone under it.
//
// A take and a release are the hot path of every exported call, so a
// thread marks itself with plain stores to a record of its own, without a
// locked instruction. The closer, which is rare, pays instead: after it
// has taken the handle out of the process state, it has the OS make every
// thread's earlier stores visible to it (a process-wide barrier), and
// only then reads the marks. A thread that marked itself before the
// barrier is seen; one that marks itself later finds no handle. Where the
// OS has no such barrier, each thread fences its own mark.
#pragma once

namespace kha {

// Decides, before the process's first handle exists, how marks are made
// visible: by the OS's process-wide barrier, or by each thread's fence.
void PrepareMutexCallMarks() noexcept;

// Marks the calling thread inside a take or release for its scope; the
// handle is read from the process state after the mark.
class MutexCall {
 public:
  MutexCall() noexcept;
  ~MutexCall();
  MutexCall(const MutexCall&) = delete;
  MutexCall& operator=(const MutexCall&) = delete;
};

// For the closer, once the handle is out of the process state: returns
// when no other thread is inside a take or release. False when the OS's
// barrier failed, so that nobody's mark can be trusted: the handle must
// then be left open.
bool WaitForOtherThreadsMutexCalls() noexcept;

// In the child of fork: the parent's other threads are not the child's.
void ForgetOtherThreadsMutexCalls() noexcept;

}  // namespace kha
