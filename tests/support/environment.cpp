#include "support/environment.h"

#include <cstdlib>

namespace kha::test {

#if defined(_WIN32)

void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

void UnsetEnvironment(const char* name) { _putenv_s(name, ""); }

#else

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void UnsetEnvironment(const char* name) { unsetenv(name); }

#endif

}  // namespace kha::test
