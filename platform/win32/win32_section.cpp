// The HistAdmin section on Windows: a named section backed by the page
// file, mapped whole for reading and writing.
#include <string>

#include "platform/object_names.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"

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

SectionObject* CreateNamedSection(const char* name, uint32_t size, SecurityDescriptor* sd) {
  const std::string object_name = PrefixedObjectName(name);
  SECURITY_ATTRIBUTES attributes = AttributesFor(sd);
  return AsSection(::CreateFileMappingA(INVALID_HANDLE_VALUE, sd != nullptr ? &attributes : nullptr,
                                        kPageReadWrite, 0, size, object_name.c_str()));
}

SectionObject* OpenNamedSection(const char* name) {
  const std::string object_name = PrefixedObjectName(name);
  return AsSection(::OpenFileMappingA(kMapForWriting, FALSE, object_name.c_str()));
}

uint64_t MappedSectionSize(SectionObject* section) {
  size_t length = 0;
  void* view = MapWholeSection(section, &length);
  if (view == nullptr) return 0;
  UnmapWholeView(view);
  return length;
}

void* MapWholeSection(SectionObject* section, size_t* length) {
  void* view = ::MapViewOfFile(HandleOf(section), kMapForWriting, 0, 0, 0);
  if (view == nullptr) return nullptr;
  const size_t mapped = ViewLength(view);
  if (mapped == 0) {
    ::UnmapViewOfFile(view);
    return nullptr;
  }
  *length = mapped;
  return view;
}

bool FlushWholeView(void* view) { return ::FlushViewOfFile(view, 0) != FALSE; }

bool UnmapWholeView(void* view) { return ::UnmapViewOfFile(view) != FALSE; }

void CloseNamedSection(SectionObject* section) {
  if (section != nullptr) ::CloseHandle(HandleOf(section));
}

}  // namespace kha::platform::win32
