// A process killed at every store of a writing operation, in the real
// code. A child attaches, makes itself traceable, stops, runs one exported
// operation and stops again. The parent single-steps it and compares the
// region's bytes after each instruction: every step that changed them is
// a store into the region. Then, from a region rebuilt to the same bytes,
// the operation runs again in a new child for each crash point and is
// killed there (SIGKILL): right after each store, on the last instruction
// before each store, and at points of the stretch after the last store
// (flush, unlock). Crash points are counted in stores seen, and in
// instructions only from the last store on, so that a lock or a system
// call taking another path does not move them. The parent is the next
// taker of the mutex and must see exactly the state from before the
// operation or exactly the one after it: header, tuning block, every slot
// of both tables, every byte of the region.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "figures.h"
#include "region/region_view.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/watchdog.h"
#include "whole_states.h"

namespace kha::test::reliability {
namespace {

// Operation-index scene-args...: runs the operation between two stops.
int TracedOperation(const std::vector<std::string>& args) {
  if (args.empty()) return 2;
  DieWithParent();
  const std::size_t index = std::stoul(args[0]);
  const Scene scene = Scene::FromArgs(args, 1);
  if (index >= WritingOperations().size() || !scene.made) return 2;
  const Inputs& inputs = TheInputs();
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) return 5;
  ::raise(SIGSTOP);
  const int32_t result = WritingOperations()[index].run(scene, inputs);
  ::raise(SIGSTOP);
  return result == KHA_OK ? 0 : 6;
}
KHA_CHILD_ROLE("traced-operation", TracedOperation);

// One traced child, stopped in front of the operation.
class Traced {
 public:
  enum class Step { kStepped, kEnded, kGone };

  Traced(std::size_t operation, const Scene& scene) {
    std::vector<std::string> args = scene.Args();
    args.insert(args.begin(), std::to_string(operation));
    pid_ = static_cast<pid_t>(SpawnChildRole("traced-operation", args));
    if (pid_ > 0 && Wait() && WIFSTOPPED(status_) && WSTOPSIG(status_) == SIGSTOP) started_ = true;
  }
  ~Traced() {
    if (alive_) Kill();
  }
  Traced(const Traced&) = delete;
  Traced& operator=(const Traced&) = delete;

  bool Started() const { return started_; }

  // One instruction. kEnded: the operation has returned (second stop).
  Step StepOne() {
    if (::ptrace(PTRACE_SINGLESTEP, pid_, nullptr, nullptr) != 0 || !Wait()) return Step::kGone;
    if (!WIFSTOPPED(status_)) return Step::kGone;
    return WSTOPSIG(status_) == SIGTRAP   ? Step::kStepped
           : WSTOPSIG(status_) == SIGSTOP ? Step::kEnded
                                          : Step::kGone;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    while (alive_ && Wait()) {
    }
  }
  // Lets an ended child go and run to its exit, untraced (a leak checker
  // at its exit traces it itself); its exit code (0: the operation
  // succeeded).
  int Finish() {
    ::ptrace(PTRACE_DETACH, pid_, nullptr, nullptr);
    while (alive_ && Wait()) {
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

 private:
  bool Wait() {
    if (::waitpid(pid_, &status_, 0) != pid_) return alive_ = false;
    if (WIFEXITED(status_) || WIFSIGNALED(status_)) alive_ = false;
    return alive_;
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool alive_ = true;
  bool started_ = false;
};

// Watches the region's bytes in this process's own view of it.
class StoreCounter {
 public:
  StoreCounter()
      : base_(reinterpret_cast<const char*>(HistAdminHeader())),
        last_(base_, base_ + kWholeStateRegionSize) {}
  // True when the last step changed the region.
  bool Changed() {
    if (std::memcmp(base_, last_.data(), last_.size()) == 0) return false;
    std::memcpy(last_.data(), base_, last_.size());
    return true;
  }

 private:
  const char* base_;
  std::vector<char> last_;
};

// The instructions of one run up to each store, and up to the end.
struct Trace {
  bool ok = false;
  std::vector<int64_t> store_steps;  // step number (from 1) of each store
  int64_t end_step = 0;
};

Trace TraceOperation(std::size_t operation, const Scene& scene) {
  Trace trace;
  Traced child(operation, scene);
  if (!child.Started()) return trace;
  StoreCounter stores;
  for (int64_t step = 1;; ++step) {
    const Traced::Step outcome = child.StepOne();
    if (outcome == Traced::Step::kGone) return trace;
    if (outcome == Traced::Step::kEnded) {
      trace.end_step = step;
      break;
    }
    if (stores.Changed()) trace.store_steps.push_back(step);
  }
  trace.ok = child.Finish() == 0;
  return trace;
}

// A crash point: `stores` stores seen, then `steps` more instructions.
enum class Where { kAfterStore, kBeforeStore, kAfterLastStore };
struct CrashPoint {
  int64_t stores;
  int64_t steps;
  Where where;
};

// Runs the operation in a new child up to `point` and kills it there.
// False when the child ended or vanished before it got there.
bool KillAt(std::size_t operation, const Scene& scene, CrashPoint point) {
  Traced child(operation, scene);
  if (!child.Started()) return false;
  StoreCounter stores;
  for (int64_t seen = 0; seen < point.stores;) {
    if (child.StepOne() != Traced::Step::kStepped) return false;
    if (stores.Changed()) ++seen;
  }
  for (int64_t s = 0; s < point.steps; ++s) {
    if (child.StepOne() != Traced::Step::kStepped) return false;
    if (stores.Changed()) break;  // a store came sooner than in the first run
  }
  child.Kill();
  return true;
}

// After each store; on the last instruction before each store (when
// there is one after the store before it); at a quarter, half and three
// quarters of the stretch after the last store.
std::vector<CrashPoint> CrashPoints(const Trace& trace) {
  std::vector<CrashPoint> points;
  const auto stores = static_cast<int64_t>(trace.store_steps.size());
  int64_t previous = 0;
  for (int64_t k = 1; k <= stores; ++k) {
    const int64_t step = trace.store_steps[static_cast<std::size_t>(k - 1)];
    if (step - previous > 1) points.push_back({k - 1, step - previous - 1, Where::kBeforeStore});
    points.push_back({k, 0, Where::kAfterStore});
    previous = step;
  }
  const int64_t tail = trace.end_step - previous - 1;
  for (int64_t quarter = 1; quarter <= 3; ++quarter) {
    if (tail * quarter / 4 > 0)
      points.push_back({stores, tail * quarter / 4, Where::kAfterLastStore});
  }
  return points;
}

// Under a sanitizer every instruction costs several, and the stepping with
// it: there only every fifth crash point is tried, unless
// KHA_RELIABILITY_STORE_KILL_EVERY says otherwise.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t kEveryByDefault = 5;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int64_t kEveryByDefault = 5;
#else
constexpr int64_t kEveryByDefault = 1;
#endif
#else
constexpr int64_t kEveryByDefault = 1;
#endif

TEST(StoreKill, EveryCrashPointOfEveryWritingOperationLeavesTheOldOrTheNewState) {
  const std::vector<WritingOperation>& operations = WritingOperations();
  const int64_t every = std::max<int64_t>(1, Size("STORE_KILL_EVERY", kEveryByDefault, 1));
  int64_t stores_total = 0, mixed = 0, not_reached = 0;
  int64_t tried[3] = {0, 0, 0};  // by Where
  const auto start = std::chrono::steady_clock::now();
  std::printf("%-38s %6s %6s %6s %6s %6s\n", "operation", "stores", "steps", "points", "mixed",
              "s");
  for (std::size_t op = 0; op < operations.size(); ++op) {
    const WritingOperation& operation = operations[op];
    const auto op_start = std::chrono::steady_clock::now();
    Watchdog watchdog(operation.name, std::chrono::seconds(120));
    Scene scene = FreshRegion(operation.free_slots);
    ASSERT_TRUE(scene.made) << operation.name;
    const State old_state = TakeState();
    ASSERT_EQ(operation.run(scene, TheInputs()), KHA_OK) << operation.name;
    const State new_state = TakeState();
    ASSERT_NE(Differences(old_state, new_state), "") << operation.name << " changes nothing";

    scene = FreshRegion(operation.free_slots);
    const Trace trace = TraceOperation(op, scene);
    ASSERT_TRUE(trace.ok) << operation.name << ": the traced run failed (can this process trace?)";
    ASSERT_EQ(Differences(TakeState(), new_state), "") << operation.name << ": traced run";
    ASSERT_FALSE(trace.store_steps.empty()) << operation.name;

    int64_t op_mixed = 0, op_tried = 0;
    const std::vector<CrashPoint> points = CrashPoints(trace);
    for (std::size_t i = 0; i < points.size(); i += static_cast<std::size_t>(every)) {
      const CrashPoint& point = points[i];
      scene = FreshRegion(operation.free_slots);
      ASSERT_TRUE(scene.made);
      if (!KillAt(op, scene, point)) {
        ++not_reached;
        ADD_FAILURE() << operation.name << ": crash point " << point.stores << "+" << point.steps
                      << " not reached";
        continue;
      }
      ++tried[static_cast<int>(point.where)];
      ++op_tried;
      const State seen = TakeState();
      const std::string from_old = Differences(seen, old_state);
      const std::string from_new = Differences(seen, new_state);
      if (!from_old.empty() && !from_new.empty()) {
        ++op_mixed;
        ADD_FAILURE() << operation.name << ", killed after store " << point.stores << " + "
                      << point.steps
                      << " instructions: neither old nor new\n  differs from old in: " << from_old
                      << "\n  differs from new in: " << from_new;
      }
    }
    std::printf("%-38s %6zu %6lld %6lld %6lld %6.1f\n", operation.name, trace.store_steps.size(),
                static_cast<long long>(trace.end_step), static_cast<long long>(op_tried),
                static_cast<long long>(op_mixed), SecondsSince(op_start));
    stores_total += static_cast<int64_t>(trace.store_steps.size());
    mixed += op_mixed;
  }
  DetachCompletely();
  Figure("store_kill", "operations", static_cast<double>(operations.size()), "information");
  Figure("store_kill", "stores_found", static_cast<double>(stores_total), "information");
  Figure("store_kill", "crash_points_after_a_store", static_cast<double>(tried[0]), "information");
  Figure("store_kill", "crash_points_before_a_store", static_cast<double>(tried[1]), "information");
  Figure("store_kill", "crash_points_after_the_last_store", static_cast<double>(tried[2]),
         "information");
  Figure("store_kill", "crash_points_not_reached", static_cast<double>(not_reached), "must be 0");
  Figure("store_kill", "neither_old_nor_new", static_cast<double>(mixed), "must be 0");
  Figure("store_kill", "seconds", SecondsSince(start), "information");
  EXPECT_EQ(mixed, 0);
}

}  // namespace
}  // namespace kha::test::reliability
