// Kernel-object names as a backend uses them.
#pragma once

#include <string>

namespace kha::platform {

// The name under which the backend creates and opens the object with the
// fixed name `name` ("Global\\KESTICORE_HISTADMIN", ...). The shipped
// library uses the fixed names themselves (fixed_object_names.cpp); the
// library's test build puts a per-test prefix in after "Global\"
// (testing/prefixed_object_names.cpp), so that tests neither collide with
// each other nor touch a real region.
std::string ObjectName(const char* name);

// The part after "Global\" (the whole name when it has no namespace).
std::string ObjectNameWithoutNamespace(const std::string& name);

}  // namespace kha::platform
