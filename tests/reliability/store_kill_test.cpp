// A process killed at every store of a writing operation, in the real
// code. A child attaches, makes itself traceable, stops, runs one exported
// operation and stops again. The parent single-steps it once and compares
// the region's bytes after each instruction: every step that changed them
// is a store into the region; it watches the journal's state word the
// same way. Then, from a region rebuilt to the same bytes, the operation
// runs again in a new child for each crash point: on each store and right
// after it, on and after each change of the journal's state, and in the
// stretch after the last store (flush, release). The child is run to the
// traced instruction's address on a software breakpoint that counts how
// often the instruction had started before, single-stepped from there
// along the traced addresses, the region is checked to be as traced, and
// the child is killed (SIGKILL). The parent is the next taker
// of the mutex and must see exactly the state from before the operation
// or exactly the one after it: header, tuning block, every slot of both
// tables, every byte of the region.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/personality.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "figures.h"
#include "region/journal.h"
#include "region/region_view.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/watchdog.h"
#include "whole_states.h"

namespace kha::test::reliability {
namespace {

// The index of no writing operation: the child only takes the mutex and
// lets it go, as the next taker after a dead holder does.
constexpr std::size_t kTakeOnly = 1000;

// Operation-index scene-args...: runs the operation between two stops.
int TracedOperation(const std::vector<std::string>& args) {
  if (args.empty()) return 2;
  DieWithParent();
  const std::size_t index = std::stoul(args[0]);
  const Scene scene = Scene::FromArgs(args, 1);
  if ((index >= WritingOperations().size() && index != kTakeOnly) || !scene.made) return 2;
  const Inputs& inputs = TheInputs();
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) return 5;
  ::raise(SIGSTOP);
  int32_t result = KHA_OK;
  if (index == kTakeOnly) {
    LockHistAdminMutex();
    UnlockHistAdminMutex();
  } else {
    result = WritingOperations()[index].run(scene, inputs);
  }
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
  // The address of the instruction the child runs next.
  uint64_t NextInstruction() {
    user_regs_struct registers{};
    return ::ptrace(PTRACE_GETREGS, pid_, nullptr, &registers) == 0 ? registers.rip : 0;
  }
  // Runs on until the instruction at `address` is about to start for the
  // (starts + 1)-th time. False when the operation ended first.
  //
  // A software breakpoint (int3 written over the instruction's first
  // byte) counts the arrivals: each start of the instruction executes it
  // once, exactly as single-stepping saw each start in the traced run. A
  // hardware breakpoint is not used: some hosts of our kind do not pass
  // debug-register breakpoints to a guest at all, and on others the
  // kernel may drop hits of a breakpoint (it is a perf event, and those
  // are throttled), so that arrivals were miscounted.
  bool RunToStart(uint64_t address, int64_t starts) {
    errno = 0;
    const long original =
        ::ptrace(PTRACE_PEEKTEXT, pid_, reinterpret_cast<void*>(address), nullptr);
    if (errno != 0) return false;
    const long trap = (original & ~0xffL) | 0xcc;
    for (int64_t arrivals = 0;; ++arrivals) {
      if (!PokeText(address, trap) || ::ptrace(PTRACE_CONT, pid_, nullptr, nullptr) != 0 ||
          !Wait() || !WIFSTOPPED(status_) || WSTOPSIG(status_) != SIGTRAP) {
        return false;
      }
      // Stopped after the int3: back in front of the instruction, whole.
      if (NextInstruction() != address + 1 || !PokeText(address, original) ||
          !SetNextInstruction(address)) {
        return false;
      }
      if (arrivals == starts) return true;
      // Over the instruction, every round of a repeated string one
      // included, before the breakpoint goes back.
      do {
        if (StepOne() != Step::kStepped) return false;
      } while (NextInstruction() == address);
    }
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
  bool PokeText(uint64_t address, long word) {
    return ::ptrace(PTRACE_POKETEXT, pid_, reinterpret_cast<void*>(address),
                    reinterpret_cast<void*>(word)) == 0;
  }
  bool SetNextInstruction(uint64_t address) {
    user_regs_struct registers{};
    if (::ptrace(PTRACE_GETREGS, pid_, nullptr, &registers) != 0) return false;
    registers.rip = address;
    return ::ptrace(PTRACE_SETREGS, pid_, nullptr, &registers) == 0;
  }
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

const char* RegionBytes() { return reinterpret_cast<const char*>(HistAdminHeader()); }

// One run single-stepped: for every instruction run, its address and how
// many times it had started before (-1 for the next round of a repeated
// string instruction, which does not start anew); the steps that stored
// into the region, and the region after each store.
struct Trace {
  struct Step {
    uint64_t address;
    int64_t starts;
  };
  bool ok = false;
  std::vector<Step> steps;                 // steps[t - 1]: the instruction step t runs
  std::vector<int64_t> store_steps;        // the step of each store
  std::vector<int64_t> journal_steps;      // the steps that changed the journal's state word
  std::vector<std::vector<char>> regions;  // regions[k]: after k stores
};

Trace TraceOperation(Traced& child) {
  Trace trace;
  if (!child.Started()) return trace;
  trace.regions.emplace_back(RegionBytes(), RegionBytes() + kWholeStateRegionSize);
  std::unordered_map<uint64_t, int64_t> starts;
  const JournalHeader* journal = UsableJournal();
  const auto journal_state = [journal] {
    return journal == nullptr ? 0 : LoadJournalWord(*journal, kJournalStateOffset);
  };
  uint32_t last_journal_state = journal_state();
  for (int64_t step = 1;; ++step) {
    const uint64_t address = child.NextInstruction();
    const bool repeated = !trace.steps.empty() && trace.steps.back().address == address;
    trace.steps.push_back({address, repeated ? -1 : starts[address]++});
    const Traced::Step outcome = child.StepOne();
    if (outcome == Traced::Step::kGone) return trace;
    if (outcome == Traced::Step::kEnded) break;
    if (std::memcmp(RegionBytes(), trace.regions.back().data(), kWholeStateRegionSize) != 0) {
      trace.store_steps.push_back(step);
      trace.regions.emplace_back(RegionBytes(), RegionBytes() + kWholeStateRegionSize);
    }
    if (journal_state() != last_journal_state) {
      last_journal_state = journal_state();
      trace.journal_steps.push_back(step);
    }
  }
  trace.ok = child.Finish() == 0;
  return trace;
}

// A crash point: the child is about to run instruction `step` of the
// trace, `stores` stores done.
enum class Where { kAfterStore, kBeforeStore, kAfterLastStore, kAroundJournalState };
struct CrashPoint {
  int64_t step;
  int64_t stores;
  Where where;
};

// On the instruction of each store and on the one after it; the same
// around each change of the journal's state word (an entry made visible,
// the journal closed); at a quarter, half and three quarters of the
// stretch after the last store. One point per instruction.
std::vector<CrashPoint> CrashPoints(const Trace& trace) {
  std::vector<CrashPoint> points;
  const auto stores = static_cast<int64_t>(trace.store_steps.size());
  const auto stores_before = [&trace](int64_t step) {
    return static_cast<int64_t>(
        std::lower_bound(trace.store_steps.begin(), trace.store_steps.end(), step) -
        trace.store_steps.begin());
  };
  for (int64_t k = 1; k <= stores; ++k) {
    const int64_t step = trace.store_steps[static_cast<std::size_t>(k - 1)];
    points.push_back({step, k - 1, Where::kBeforeStore});
    points.push_back({step + 1, k, Where::kAfterStore});
  }
  const int64_t last = stores == 0 ? 0 : trace.store_steps.back();
  const int64_t tail = static_cast<int64_t>(trace.steps.size()) - last - 1;
  for (int64_t quarter = 1; quarter <= 3; ++quarter) {
    if (tail * quarter / 4 > 0) {
      points.push_back({last + 1 + tail * quarter / 4, stores, Where::kAfterLastStore});
    }
  }
  for (const int64_t step : trace.journal_steps) {
    points.push_back({step, stores_before(step), Where::kAroundJournalState});
    points.push_back({step + 1, stores_before(step + 1), Where::kAroundJournalState});
  }
  std::stable_sort(points.begin(), points.end(),
                   [](const CrashPoint& a, const CrashPoint& b) { return a.step < b.step; });
  points.erase(
      std::unique(points.begin(), points.end(),
                  [](const CrashPoint& a, const CrashPoint& b) { return a.step == b.step; }),
      points.end());
  return points;
}

// Runs the operation in `child` to `point` (on a breakpoint at the
// last instruction start up to it, then single steps) and kills it there.
// False when it did not get there with the region as traced.
bool KillAt(Traced& child, const Trace& trace, CrashPoint point) {
  int64_t anchor = point.step;
  while (anchor > 1 && trace.steps[static_cast<std::size_t>(anchor - 1)].starts < 0) --anchor;
  const Trace::Step& start = trace.steps[static_cast<std::size_t>(anchor - 1)];
  if (!child.Started() || !child.RunToStart(start.address, start.starts)) return false;
  for (int64_t step = anchor; step < point.step; ++step) {
    if (child.StepOne() != Traced::Step::kStepped ||
        child.NextInstruction() != trace.steps[static_cast<std::size_t>(step)].address) {
      return false;
    }
  }
  const bool as_traced =
      std::memcmp(RegionBytes(), trace.regions[static_cast<std::size_t>(point.stores)].data(),
                  kWholeStateRegionSize) == 0;
  child.Kill();
  return as_traced;
}

// Under a sanitizer every instruction costs several, and a copy is made
// of many more stores: there only every fifth crash point is tried, unless
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
  int64_t tried[4] = {0, 0, 0, 0};  // by Where
  const auto start = std::chrono::steady_clock::now();
  // Without address-space randomisation every child runs each instruction
  // at the same address, where the breakpoints of the kills find it.
  const int persona = ::personality(0xffffffff);
  ASSERT_NE(::personality(static_cast<unsigned long>(persona) | ADDR_NO_RANDOMIZE), -1);
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
    Traced traced(op, scene);
    const Trace trace = TraceOperation(traced);
    ASSERT_TRUE(trace.ok) << operation.name << ": the traced run failed (can this process trace?)";
    ASSERT_EQ(Differences(TakeState(), new_state), "") << operation.name << ": traced run";
    ASSERT_FALSE(trace.store_steps.empty()) << operation.name;

    int64_t op_mixed = 0, op_tried = 0;
    const std::vector<CrashPoint> points = CrashPoints(trace);
    for (std::size_t i = 0; i < points.size(); i += static_cast<std::size_t>(every)) {
      const CrashPoint& point = points[i];
      scene = FreshRegion(operation.free_slots);
      ASSERT_TRUE(scene.made);
      Traced child(op, scene);
      if (!KillAt(child, trace, point)) {
        ++not_reached;
        ADD_FAILURE() << operation.name << ": crash point at step " << point.step
                      << " not reached as traced";
        continue;
      }
      ++tried[static_cast<int>(point.where)];
      ++op_tried;
      const State seen = TakeState();
      const std::string from_old = Differences(seen, old_state);
      const std::string from_new = Differences(seen, new_state);
      if (!from_old.empty() && !from_new.empty()) {
        ++op_mixed;
        ADD_FAILURE() << operation.name << ", killed at step " << point.step << " after "
                      << point.stores
                      << " stores: neither old nor new\n  differs from old in: " << from_old
                      << "\n  differs from new in: " << from_new;
      }
    }
    std::printf("%-38s %6zu %6lld %6lld %6lld %6.1f\n", operation.name, trace.store_steps.size(),
                static_cast<long long>(trace.steps.size()), static_cast<long long>(op_tried),
                static_cast<long long>(op_mixed), SecondsSince(op_start));
    stores_total += static_cast<int64_t>(trace.store_steps.size());
    mixed += op_mixed;
  }
  DetachCompletely();
  ::personality(static_cast<unsigned long>(persona));
  Figure("store_kill", "operations", static_cast<double>(operations.size()), "information");
  Figure("store_kill", "stores_found", static_cast<double>(stores_total), "information");
  Figure("store_kill", "crash_points_after_a_store", static_cast<double>(tried[0]), "information");
  Figure("store_kill", "crash_points_before_a_store", static_cast<double>(tried[1]), "information");
  Figure("store_kill", "crash_points_after_the_last_store", static_cast<double>(tried[2]),
         "information");
  Figure("store_kill", "crash_points_around_the_journal_state", static_cast<double>(tried[3]),
         "information");
  Figure("store_kill", "crash_points_not_reached", static_cast<double>(not_reached), "must be 0");
  Figure("store_kill", "neither_old_nor_new", static_cast<double>(mixed), "must be 0");
  Figure("store_kill", "seconds", SecondsSince(start), "information");
  EXPECT_EQ(mixed, 0);
}

// A taker killed while it rolls a dead holder's operation back: for each
// operation, its holder is killed after half of its stores, then a taker
// is traced through its rollback and killed after each of its stores in
// turn; the taker after it must still find the old state (or the new one).
TEST(StoreKill, ATakerKilledInItsRollbackLeavesItWholeToTheNext) {
  const std::vector<WritingOperation>& operations = WritingOperations();
  const int64_t every = std::max<int64_t>(1, Size("STORE_KILL_EVERY", kEveryByDefault, 1));
  const int persona = ::personality(0xffffffff);
  ASSERT_NE(::personality(static_cast<unsigned long>(persona) | ADDR_NO_RANDOMIZE), -1);
  int64_t points_total = 0, mixed = 0, not_reached = 0;
  for (std::size_t op = 0; op < operations.size(); ++op) {
    const WritingOperation& operation = operations[op];
    Watchdog watchdog(operation.name, std::chrono::seconds(120));
    Scene scene = FreshRegion(operation.free_slots);
    const State old_state = TakeState();
    ASSERT_EQ(operation.run(scene, TheInputs()), KHA_OK) << operation.name;
    const State new_state = TakeState();
    scene = FreshRegion(operation.free_slots);
    Trace holder;
    {
      Traced traced(op, scene);
      holder = TraceOperation(traced);
    }
    ASSERT_TRUE(holder.ok && !holder.store_steps.empty()) << operation.name;
    const auto half = static_cast<int64_t>((holder.store_steps.size() + 1) / 2);
    const CrashPoint died{holder.store_steps[static_cast<std::size_t>(half - 1)] + 1, half,
                          Where::kAfterStore};
    // A taker attached and stopped in front of its take, then the same
    // dead holder, before every run of a taker.
    const auto taker_after_dead_holder = [&]() -> std::unique_ptr<Traced> {
      scene = FreshRegion(operation.free_slots);
      if (!scene.made) return nullptr;
      auto taker = std::make_unique<Traced>(kTakeOnly, scene);
      Traced dying(op, scene);
      return KillAt(dying, holder, died) ? std::move(taker) : nullptr;
    };
    std::unique_ptr<Traced> first = taker_after_dead_holder();
    ASSERT_TRUE(first) << operation.name;
    const Trace taker = TraceOperation(*first);
    first.reset();
    ASSERT_TRUE(taker.ok) << operation.name;
    ASSERT_EQ(Differences(TakeState(), old_state), "") << operation.name << ": rollback";
    ASSERT_FALSE(taker.store_steps.empty()) << operation.name << ": the taker rolled nothing back";
    for (std::size_t k = 1; k <= taker.store_steps.size(); k += static_cast<std::size_t>(every)) {
      std::unique_ptr<Traced> child = taker_after_dead_holder();
      ASSERT_TRUE(child) << operation.name;
      if (!KillAt(*child, taker,
                  {taker.store_steps[k - 1] + 1, static_cast<int64_t>(k), Where::kAfterStore})) {
        ++not_reached;
        ADD_FAILURE() << operation.name << ": taker's store " << k << " not reached as traced";
        continue;
      }
      ++points_total;
      const State seen = TakeState();
      if (!Differences(seen, old_state).empty() && !Differences(seen, new_state).empty()) {
        ++mixed;
        ADD_FAILURE() << operation.name << ": taker killed after its store " << k
                      << " of its rollback: neither old nor new; differs from old in "
                      << Differences(seen, old_state);
      }
    }
  }
  DetachCompletely();
  ::personality(static_cast<unsigned long>(persona));
  Figure("store_kill", "takers_killed_in_their_rollback", static_cast<double>(points_total),
         "information");
  Figure("store_kill", "takers_not_reached", static_cast<double>(not_reached), "must be 0");
  Figure("store_kill", "neither_old_nor_new_after_a_killed_taker", static_cast<double>(mixed),
         "must be 0");
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(not_reached, 0);
}

}  // namespace
}  // namespace kha::test::reliability
