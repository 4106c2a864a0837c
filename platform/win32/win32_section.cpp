// The HistAdmin section on Windows: a named section backed by the page
// file, mapped whole for reading and writing.
#include <string>

#include "platform/object_names.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"
#include "platform/win32/win32_security.h"

namespace kha::platform::win32 {
namespace {

constexpr DWORD kPageReadWrite = 0x04;
constexpr DWORD kMapForWriting = 0x0002;  // includes reading

// Bytes that the view at `view` spans, as the memory manager reports them
// (the section's size rounded up to whole pages); 0 if unknown.
size_t ViewLength(void* view) {
  MEMORY_BASIC_INFORMATION information{};
  if (::VirtualQuery(view, &information, sizeof information) != sizeof information) return 0;
  return information.RegionSize;
}

}  // namespace

OsResult<SectionObject*> CreateNamedSection(const char* name, uint32_t size) {
  const std::string object_name = ObjectName(name);
  const OsResult<HANDLE> created =
      CreateWithOpenAccess(Step::kCreateSection, [&](SECURITY_ATTRIBUTES* attributes) {
        return ::CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, kPageReadWrite, 0, size,
                                    object_name.c_str());
      });
  if (!created.ok()) return created.failure();
  return AsSection(created.value());
}

OsResult<SectionObject*> OpenNamedSection(const char* name) {
  const std::string object_name = ObjectName(name);
  HANDLE handle = ::OpenFileMappingA(kMapForWriting, FALSE, object_name.c_str());
  if (handle == nullptr) return FailureAt(Step::kOpenSection);
  return AsSection(handle);
}

// The section's own size is not to be had from its handle: the size of a
// whole view of it is.
OsResult<uint64_t> MappedSectionSize(SectionObject* section) {
  const OsResult<View> view = MapWholeSection(section);
  if (!view.ok()) return OsFailure{Step::kSectionSize, view.failure().error};
  (void)UnmapWholeView(view.value());
  return static_cast<uint64_t>(view.value().length);
}

OsResult<View> MapWholeSection(SectionObject* section) {
  void* address = ::MapViewOfFile(HandleOf(section), kMapForWriting, 0, 0, 0);
  if (address == nullptr) return FailureAt(Step::kMapView);
  const size_t length = ViewLength(address);
  if (length == 0) {
    const OsFailure failure = FailureAt(Step::kMapView);
    ::UnmapViewOfFile(address);
    return failure;
  }
  return View{address, length};
}

OsResult<void> FlushWholeView(View view) {
  if (::FlushViewOfFile(view.address, 0) == FALSE) return FailureAt(Step::kFlushView);
  return {};
}

OsResult<void> UnmapWholeView(View view) {
  if (::UnmapViewOfFile(view.address) == FALSE) return FailureAt(Step::kUnmapView);
  return {};
}

void CloseNamedSection(SectionObject* section) {
  if (section != nullptr) ::CloseHandle(HandleOf(section));
}

}  // namespace kha::platform::win32
