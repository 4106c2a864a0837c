#include "transfer/historian_lists.h"

#include <cstring>

#include "transfer/historian_paths.h"

namespace kha {

int GetRepositoryList(int source, int repository_index, RepositoryList* list) {
  const int result = marn_get_rep_data(
      source, repository_index, nullptr, list->file_path, list->backup_file_path,
      &list->number_points, &list->file_set_count, &list->queue_size, &list->global_file_set_size,
      &list->global_threshold, &list->global_time_span, &list->past_time, &list->future_time,
      &list->cache_size, &list->insert_size, &list->empty_file_sets);
  TerminatePath(list->file_path);
  TerminatePath(list->backup_file_path);
  return result;
}

int PutRepositoryList(int save_index, const char* repository_name, const RepositoryList& list) {
  return marn_put_rep_data(save_index, repository_name, list.file_path, list.backup_file_path,
                           &list.number_points, &list.file_set_count, &list.queue_size,
                           &list.global_file_set_size, &list.global_threshold,
                           &list.global_time_span, &list.past_time, &list.future_time,
                           &list.cache_size, &list.insert_size, &list.empty_file_sets);
}

int GetArcList(int source, int repository_index, int arc_index, ArcList* list) {
  const int result = marn_get_arc_data(source, repository_index, arc_index, &list->history_status,
                                       list->file_path, &list->start_time, &list->end_time,
                                       &list->size, &list->threshold, &list->time_span);
  TerminatePath(list->file_path);
  return result;
}

int PutArcList(int save_index, int arc_index, const ArcList& list) {
  return marn_put_arc_data(save_index, arc_index, &list.history_status, list.file_path,
                           &list.start_time, &list.end_time, &list.size, &list.threshold,
                           &list.time_span);
}

int GetTuningList(TuningList* list) {
  int32_t* a = list->values3_to_11;
  int32_t* b = list->values14_to_40;
  return marn_get_tuning_data(
      &list->value1, &list->value2, nullptr, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7],
      &a[8], &list->value12, &list->value13, nullptr, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
      &b[6], &b[7], &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15], &b[16], &b[17],
      &b[18], &b[19], &b[20], &b[21], &b[22], &b[23], &b[24], &b[25], &b[26]);
}

int PutTuningList(const TuningList& list) {
  const int32_t* a = list.values3_to_11;
  const int32_t* b = list.values14_to_40;
  return marn_put_tuning_data(
      &list.value1, &list.value2, nullptr, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7],
      &a[8], &list.value12, &list.value13, nullptr, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6],
      &b[7], &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15], &b[16], &b[17], &b[18],
      &b[19], &b[20], &b[21], &b[22], &b[23], &b[24], &b[25], &b[26]);
}

void StoreTuningList(const TuningList& list, TuningData* block) {
  block->TuningValue1 = static_cast<int16_t>(list.value1);
  block->TuningValue2 = static_cast<int16_t>(list.value2);
  std::memcpy(block->TuningValues3To11, list.values3_to_11, sizeof(list.values3_to_11));
  block->TuningValue12 = list.value12;
  block->TuningValue13 = list.value13;
  std::memcpy(block->TuningValues14To40, list.values14_to_40, sizeof(list.values14_to_40));
}

TuningList TuningListOf(const TuningData& block) {
  TuningList list;
  list.value1 = block.TuningValue1;
  list.value2 = block.TuningValue2;
  std::memcpy(list.values3_to_11, block.TuningValues3To11, sizeof(list.values3_to_11));
  list.value12 = block.TuningValue12;
  list.value13 = block.TuningValue13;
  std::memcpy(list.values14_to_40, block.TuningValues14To40, sizeof(list.values14_to_40));
  return list;
}

}  // namespace kha
