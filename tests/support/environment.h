// The test process's environment, changed the same way on every system;
// children started afterwards inherit it.
#pragma once

#include <string>

namespace kha::test {

void SetEnvironment(const char* name, const std::string& value);
// Removes `name`; on Windows, setting a variable to "" removes it as well.
void UnsetEnvironment(const char* name);

}  // namespace kha::test
