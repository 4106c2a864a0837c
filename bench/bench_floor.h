// The machine's floor for the operations of the comparison: a bare robust,
// recursive, process-shared pthread mutex (the cheapest lock between
// processes there is), a shared mapping of the same size as a region, and,
// for reference, a bare kernel file lock; nothing of the library in
// between.
#pragma once

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kha::bench {

[[noreturn]] inline void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

// A pthread mutex with the attributes of the HistAdmin mutex, in memory
// that forked children share.
class BareMutex {
 public:
  BareMutex() {
    void* memory = ::mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) Fail("mmap");
    mutex_ = static_cast<pthread_mutex_t*>(memory);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(mutex_, &attributes) != 0) Fail("pthread_mutex_init");
    pthread_mutexattr_destroy(&attributes);
  }
  ~BareMutex() {
    pthread_mutex_destroy(mutex_);
    ::munmap(mutex_, sizeof(pthread_mutex_t));
  }
  BareMutex(const BareMutex&) = delete;
  BareMutex& operator=(const BareMutex&) = delete;

  void Lock() {
    if (pthread_mutex_lock(mutex_) == EOWNERDEAD) pthread_mutex_consistent(mutex_);
  }
  void Unlock() { pthread_mutex_unlock(mutex_); }

 private:
  pthread_mutex_t* mutex_ = nullptr;
};

// An open-file-description lock on byte 0 of a file in /dev/shm, taken
// and let go with a system call each: what a lock kept by the kernel
// costs. A forked child opens the file again: a description shared with
// the parent would share its lock too.
class BareKernelLock {
 public:
  BareKernelLock() {
    fd_ = ::mkstemp(path_);
    if (fd_ < 0) Fail("mkstemp");
    pid_ = ::getpid();
  }
  ~BareKernelLock() {
    ::close(fd_);
    if (::getpid() == creator_) ::unlink(path_);
  }
  BareKernelLock(const BareKernelLock&) = delete;
  BareKernelLock& operator=(const BareKernelLock&) = delete;

  void Lock() { Set(F_WRLCK, F_OFD_SETLKW); }
  void Unlock() { Set(F_UNLCK, F_OFD_SETLK); }

 private:
  void Set(short type, int command) {
    if (::getpid() != pid_) {
      ::close(fd_);
      fd_ = ::open(path_, O_RDWR);
      if (fd_ < 0) Fail("open");
      pid_ = ::getpid();
    }
    struct flock request {};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_len = 1;
    if (::fcntl(fd_, command, &request) != 0) Fail("fcntl");
  }
  char path_[32] = "/dev/shm/kha-bench-lock-XXXXXX";
  int fd_ = -1;
  pid_t pid_ = 0;
  pid_t creator_ = ::getpid();
};

// A shared-memory object of `size` bytes, mapped whole and touched, as a
// region's view is; its name is gone as soon as it is mapped.
class BareView {
 public:
  explicit BareView(std::size_t size) : size_(size) {
    const std::string name = "/kha_bench_view_" + std::to_string(::getpid());
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) Fail("shm_open");
    ::shm_unlink(name.c_str());
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) Fail("ftruncate");
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (memory == MAP_FAILED) Fail("mmap");
    base_ = static_cast<unsigned char*>(memory);
    std::memset(base_, 0x5A, size);
  }
  ~BareView() { ::munmap(base_, size_); }
  BareView(const BareView&) = delete;
  BareView& operator=(const BareView&) = delete;

  unsigned char* At(std::size_t offset) { return base_ + offset; }
  void Flush() {
    if (::msync(base_, size_, MS_ASYNC) != 0) Fail("msync");
  }

 private:
  unsigned char* base_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kha::bench
