// A client of the region that calls every exported operation in a random
// mix, as administration tools in many processes would: adds, deletes,
// updates, searches and lists of repositories and file sets, header and
// tuning accessors, lifecycle calls that only raise and lower the attach
// count, and groups of operations under LockHistAdminMutex nested up to
// four deep. Slots are found and used inside one group, as a careful
// caller does; some operations use slots remembered from earlier groups,
// or any slot number up to just beyond the carved-out ones, as a careless
// caller would, and must still leave the tables consistent.
//
// It counts every result code that the operation could not have returned,
// and, when asked, tuning blocks read torn (each put writes one byte value
// over all 680 bytes, so any read of mixed bytes saw a put in progress).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/verify/region_verifier.h"

namespace kha::test::reliability {

struct ClientCounts {
  int64_t operations = 0;
  int64_t unexpected_results = 0;
  int64_t torn_tuning_reads = 0;
  int64_t violations = 0;
  double longest_operation_seconds = 0;
  std::string first_problem;  // the first unexpected result or violation, for the log
};

class RandomClient {
 public:
  // `check_tuning`: only when nothing else writes the tuning block;
  // `dump`: also print the region dump now and then.
  RandomClient(uint64_t seed, bool check_tuning, bool dump);

  // One random operation or group of operations; counts one operation.
  void Step();
  // Runs the invariant checker under the lock and counts its findings.
  void Verify();

  const ClientCounts& Counts() const { return counts_; }

 private:
  void Operation(int depth);
  void Group(int depth);
  void Expect(const char* what, int32_t result, std::initializer_list<int32_t> allowed);
  std::string Name();
  uint16_t FindRepository();
  int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

  std::mt19937_64 random_;
  bool check_tuning_;
  bool dump_;
  uint16_t remembered_repository_ = 0;
  uint16_t remembered_file_set_ = 0;
  ClientCounts counts_;
};

// Counts handed from a child process to its parent through a file.
bool WriteCounts(const std::string& path, const ClientCounts& counts);
// Adds the counts in `path` to `counts`; false when there are none.
bool ReadCounts(const std::string& path, ClientCounts* counts);
void Add(ClientCounts* total, const ClientCounts& counts);

// Runs `threads` clients (seeds `seed` * 1000 + thread) of `operations`
// operations each in this process; each verifies the region every
// thousand operations and at its end. The counts of all of them.
ClientCounts RunClients(int64_t threads, int64_t operations, uint64_t seed, bool dump);

// Prints the figures of a run of clients that took `seconds` and expects it
// clean: `operations` done, no violation (none in `final_check` either),
// no unexpected result, no torn tuning read, and both tables used.
void ExpectCleanRun(const char* suite, const ClientCounts& total, int64_t operations,
                    const std::vector<verify::Violation>& final_check, double seconds);

// Prints, as information, how full the tables were left, and tells
// whether both tables were used at all: a run whose adds all failed would
// pass its checks without proving anything.
bool ReportTables(const char* suite);

}  // namespace kha::test::reliability
