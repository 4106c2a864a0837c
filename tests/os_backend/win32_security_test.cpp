// Windows only: both HistAdmin objects carry a present but null DACL, so
// that every account on the machine may use them.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "kestihistadmin.h"
#include "platform/object_names.h"
#include "platform/platform.h"
#include "support/region_fixture.h"

namespace {

// True when the object named `name` has a present, null DACL.
bool HasNullDacl(HANDLE object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD result = GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, &dacl, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  const bool present = GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                       (control & SE_DACL_PRESENT) != 0;
  LocalFree(descriptor);
  return present && dacl == nullptr;
}

class Win32Security : public kha::test::RegionTest {};

TEST_F(Win32Security, BothObjectsHaveANullDacl) {
  const std::string mutex_name = kha::platform::ObjectName(kha::platform::kHistAdminMutexName);
  const std::string section_name = kha::platform::ObjectName(kha::platform::kHistAdminSectionName);
  HANDLE mutex = OpenMutexA(READ_CONTROL | SYNCHRONIZE, FALSE, mutex_name.c_str());
  ASSERT_NE(mutex, nullptr);
  HANDLE section = OpenFileMappingA(READ_CONTROL | FILE_MAP_READ, FALSE, section_name.c_str());
  ASSERT_NE(section, nullptr);
  EXPECT_TRUE(HasNullDacl(mutex));
  EXPECT_TRUE(HasNullDacl(section));
  CloseHandle(section);
  CloseHandle(mutex);
}

}  // namespace
