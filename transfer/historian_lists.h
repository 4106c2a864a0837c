// The argument lists that the historian's configuration library exchanges
// (repository list R, arc list A, tuning list T), held in naturally
// aligned values. The region's records are packed, so the library is never
// handed the address of a record field: values are copied between these
// lists and the records instead.
//
// Every path that comes back from the library is cut at 255 bytes, so a
// library that fills a whole 256-byte buffer never leads us to read past
// it. Every path handed to the library ends within its 256 bytes.
#pragma once

#include <cstdint>

#include "historian/marnuser.h"
#include "region/layout.h"

namespace kha {

// List R: a repository's settings.
struct RepositoryList {
  char file_path[kPathFieldSize] = {};
  char backup_file_path[kPathFieldSize] = {};
  int32_t number_points = 0;
  int16_t file_set_count = 0;
  int32_t queue_size = 0;
  int32_t global_file_set_size = 0;
  float global_threshold = 0.0f;
  int32_t global_time_span = 0;
  int32_t past_time = 0;
  int32_t future_time = 0;
  int32_t cache_size = 0;
  int32_t insert_size = 0;
  int32_t empty_file_sets = 0;
};

// List A: one arc (file set).
struct ArcList {
  int16_t history_status = 0;
  char file_path[kPathFieldSize] = {};
  marn_time start_time = {0, 0};
  marn_time end_time = {0, 0};
  int32_t size = 0;
  float threshold = 0.0f;
  int32_t time_span = 0;
};

// List T: the forty tuning values. Values 1 and 2 travel as 32-bit
// integers although the tuning block keeps 16 bits of them.
struct TuningList {
  int32_t value1 = 0;
  int32_t value2 = 0;
  int32_t values3_to_11[9] = {};
  int16_t value12 = 0;
  int16_t value13 = 0;
  int32_t values14_to_40[27] = {};
};

// The library calls, each returning the library's own result (0 is
// success). The get forms leave the list's paths terminated.
int GetRepositoryList(int source, int repository_index, RepositoryList* list);
int PutRepositoryList(int save_index, const char* repository_name, const RepositoryList& list);
int GetArcList(int source, int repository_index, int arc_index, ArcList* list);
int PutArcList(int save_index, int arc_index, const ArcList& list);
int GetTuningList(TuningList* list);
int PutTuningList(const TuningList& list);

// Between list T and the tuning block: values 1 and 2 keep their low 16
// bits on the way in and are widened with their sign on the way out.
void StoreTuningList(const TuningList& list, TuningData* block);
TuningList TuningListOf(const TuningData& block);

}  // namespace kha
