// A stand-in for the historian's two libraries (marnuser and drell) for the
// transfer tests and benchmarks. It serves scripted configurations (the
// running historian's, source 0, and that of the configuration files,
// source 1, as marn_read_hist_config last read them), records every call
// with its arguments, builds the configuration that a save puts into it,
// and makes any chosen call fail.
//
// A name or path that does not fit the library's buffer (32 bytes for a
// name, 256 for a path) fills the buffer without a terminator. Paths:
// fixHistoryFilePath turns '/' into '\'; ConvertUNC2LocalPath turns
// "\\HISTSERVER\<d>$\rest" (server name in any case) into "<d>:\rest" and
// copies every other path as it is.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "historian/config/history_config.h"
#include "historian/marnuser.h"

namespace kha::test {

// A configuration of the double, in the stand-in library's own records.
struct DoubleConfiguration {
  std::vector<historian::RepositoryConfig> repositories;
  historian::TuningConfig tuning;
  // marn_get_number_repositories reports the number of repositories, or
  // this count when set (e.g. a negative one); marn_get_number_arcs of
  // repository i the number of its file sets, or reported_arc_counts[i].
  std::optional<int16_t> reported_repository_count;
  std::map<int, int16_t> reported_arc_counts;
};

struct DoubleCall {
  std::string function;
  std::string arguments;  // the arguments, space-separated, as the double read them
  std::string Line() const { return function + "(" + arguments + ")"; }
};

class HistorianDouble {
 public:
  static HistorianDouble& Instance();

  // Forgets everything: configurations, calls, failures, hooks.
  void Reset();

  DoubleConfiguration running;   // source 0
  DoubleConfiguration files;     // config.dat and tune.dat as they are on disk
  DoubleConfiguration read;      // source 1: what marn_read_hist_config last read
  DoubleConfiguration built;     // what the save has put since marn_free_hist_config
  bool built_is_set_up = false;  // marn_init_hist_config succeeded since the free
  // Which tuning marn_get_tuning_data reports: the running historian's
  // until marn_read_hist_config, then the files'.
  bool tuning_from_files = false;

  std::string config_path = "C:\\kesti\\dat\\config.dat";
  std::string tune_path = "C:\\kesti\\dat\\tune.dat";
  std::array<uint8_t, 8> config_timestamp{1, 2, 3, 4, 5, 6, 7, 8};
  std::array<uint8_t, 8> tune_timestamp{8, 7, 6, 5, 4, 3, 2, 1};

  // Calls, in order. Recording can be switched off (benchmarks).
  bool record_calls = true;
  std::vector<DoubleCall> calls;
  std::vector<std::string> Lines(const std::string& function = "") const;  // "": every call
  int Count(const std::string& function) const;

  // Failures: the nth call (1-based) of a function, or every call whose
  // recorded arguments satisfy a predicate.
  void FailNth(const std::string& function, int nth);
  void FailWhen(const std::string& function, std::function<bool(const std::string&)> predicate);

  // Called at the start of every call of the library, with the function's
  // name (e.g. to look at the HistAdmin mutex from another thread).
  std::function<void(const std::string&)> on_call;

  // Used by the double's functions.
  bool Enter(const std::string& function, const std::string& arguments);
  DoubleConfiguration* Source(int source);

 private:
  std::map<std::string, int> counts_;
  std::map<std::string, std::vector<int>> fail_nth_;
  std::map<std::string, std::function<bool(const std::string&)>> fail_when_;
};

}  // namespace kha::test
