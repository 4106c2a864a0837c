// The shipped library's object names: the fixed ones, nothing else.
#include "platform/object_names.h"

namespace kha::platform {

std::string ObjectName(const char* name) { return name; }

}  // namespace kha::platform
