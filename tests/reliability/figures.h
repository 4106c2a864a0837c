// Sizes and figures of the reliability suite.
//
// Every test runs at its CI size unless KHA_RELIABILITY_SIZE=full asks for
// the long run by hand; single sizes can be overridden one by one with
// KHA_RELIABILITY_<NAME> (e.g. KHA_RELIABILITY_KILLS=300). Every test
// prints its figures as lines
//   FIGURE <suite>.<name> = <value>   (<what it must be>)
// so that a run's figures can be collected with grep.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kha::test::reliability {

inline bool FullSize() {
  const char* size = std::getenv("KHA_RELIABILITY_SIZE");
  return size != nullptr && std::string(size) == "full";
}

// `ci` or `full` by the size chosen, unless KHA_RELIABILITY_<name> is set.
inline int64_t Size(const char* name, int64_t ci, int64_t full) {
  const std::string variable = std::string("KHA_RELIABILITY_") + name;
  if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
    return std::strtoll(value, nullptr, 10);
  }
  return FullSize() ? full : ci;
}

inline void Figure(const char* suite, const char* name, double value, const char* bound) {
  std::printf("FIGURE %s.%s = %.6g   (%s)\n", suite, name, value, bound);
  std::fflush(stdout);
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace kha::test::reliability
