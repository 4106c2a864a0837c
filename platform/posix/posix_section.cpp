// The HistAdmin section on POSIX: a shared-memory object mapped whole.
#include <sys/mman.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/posix/posix_objects.h"

namespace kha::platform::posix {

SectionObject* AcquireSection(const char* windows_name, Disposition disposition, uint32_t size,
                              mode_t mode) {
  // The name first: its allocation may throw, and nothing is held yet.
  const std::string name = PosixObjectName(windows_name);
  auto* section = new (std::nothrow) SectionObject();
  if (section == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  // A new section reads as all zeros, as a fresh page-file section does.
  if (!AcquireSharedObject(name, disposition, size, mode, nullptr, &section->object)) {
    delete section;
    return nullptr;
  }
  return section;
}

void* MapSection(SectionObject* section, size_t* length) {
  void* view = ::mmap(nullptr, section->object.size, PROT_READ | PROT_WRITE, MAP_SHARED,
                      section->object.fd, 0);
  if (view == MAP_FAILED) return nullptr;
  *length = section->object.size;
  return view;
}

void ReleaseSection(SectionObject* section) {
  if (section == nullptr) return;
  ReleaseSharedObject(&section->object);
  delete section;
}

}  // namespace kha::platform::posix
