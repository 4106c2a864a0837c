#include "region/process_state.h"

namespace kha {

ProcessState& HistAdminProcess() {
  // Never destroyed: other libraries' exit handlers may still call in.
  static ProcessState* state = new ProcessState();
  return *state;
}

}  // namespace kha
