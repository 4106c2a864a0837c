#include "mutex_holder.h"

#include <fstream>

#include "region/tools_door.h"
#include "region_names.h"

namespace kha::histadmin {
namespace {

// The name the system gives process `pid`, when it tells one.
std::string ProcessName(int64_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!std::getline(comm, name)) return "";
  return name;
}

}  // namespace

std::optional<std::string> MutexHolderText() {
  const int64_t pid = inspection::MutexHolderProcess(
      RegionObjectName(inspection::FixedObjectName(inspection::RegionObject::kMutex)));
  if (pid < 0) return std::nullopt;
  if (pid == 0) return "";
  std::string text = "process " + std::to_string(pid);
  if (const std::string name = ProcessName(pid); !name.empty()) {
    text += " (" + name + ")";
  } else {
    text += " (no such process: the mutex's bytes name one that has ended)";
  }
  return text;
}

}  // namespace kha::histadmin
