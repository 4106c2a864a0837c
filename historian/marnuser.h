/*
 * marnuser: the historian's configuration library, as kestihistadmin calls
 * it. It holds the history configuration in memory, reads the running
 * historian's configuration (source 0) and reads and writes config.dat
 * and tune.dat (source 1: what marn_read_hist_config last read).
 *
 * Every function returns 0 on success and any other value on failure.
 * Indexes are 0-based. Path buffers are 256 bytes.
 */
#ifndef MARNUSER_H
#define MARNUSER_H

#include <stdint.h>

#if defined(_WIN32)
#define MARN_CALL __cdecl
#if defined(MARNUSER_STATIC)
#define MARNUSER_API
#elif defined(MARNUSER_BUILDING)
#define MARNUSER_API __declspec(dllexport)
#else
#define MARNUSER_API __declspec(dllimport)
#endif
#else
#define MARN_CALL
#define MARNUSER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define MARN_SOURCE_RUNNING 0 /* the running historian's configuration */
#define MARN_SOURCE_CONFIG 1  /* what marn_read_hist_config last read */
#define MARN_PATH_SIZE 256

/* A time pair: seconds, then microseconds. */
typedef struct marn_time {
  int32_t seconds;
  int32_t microseconds;
} marn_time;

/* Reads config.dat and tune.dat into the library (source 1). */
MARNUSER_API int MARN_CALL marn_read_hist_config(void);
/* Writes the library's configuration to config.dat and tune.dat. */
MARNUSER_API int MARN_CALL marn_write_hist_config(void);
/* Empties the library's configuration (before a new one is put). */
MARNUSER_API int MARN_CALL marn_free_hist_config(void);
/* Sets up an empty configuration of `number_repositories` repositories,
 * repository i with file_set_counts[i] arcs. */
MARNUSER_API int MARN_CALL marn_init_hist_config(int number_repositories,
                                                 const int16_t* file_set_counts);

MARNUSER_API int MARN_CALL marn_get_number_repositories(int source, int16_t* count);
MARNUSER_API int MARN_CALL marn_get_number_arcs(int source, int repository_index, int16_t* count);

/* List R, get form. `reserved` is always null. */
MARNUSER_API int MARN_CALL marn_get_rep_data(int source, int repository_index, void* reserved,
                                             char* file_path, char* backup_file_path,
                                             int32_t* number_points, int16_t* file_set_count,
                                             int32_t* queue_size, int32_t* global_file_set_size,
                                             float* global_threshold, int32_t* global_time_span,
                                             int32_t* past_time, int32_t* future_time,
                                             int32_t* cache_size, int32_t* insert_size,
                                             int32_t* empty_file_sets);

/* List R, put form: repository `save_index` of the configuration set up by
 * marn_init_hist_config; *file_set_count arcs follow for it. */
MARNUSER_API int MARN_CALL marn_put_rep_data(int save_index, const char* repository_name,
                                             const char* file_path, const char* backup_file_path,
                                             const int32_t* number_points,
                                             const int16_t* file_set_count,
                                             const int32_t* queue_size,
                                             const int32_t* global_file_set_size,
                                             const float* global_threshold,
                                             const int32_t* global_time_span,
                                             const int32_t* past_time, const int32_t* future_time,
                                             const int32_t* cache_size, const int32_t* insert_size,
                                             const int32_t* empty_file_sets);

/* List A, get form. */
MARNUSER_API int MARN_CALL marn_get_arc_data(int source, int repository_index, int arc_index,
                                             int16_t* history_status, char* file_path,
                                             marn_time* start_time, marn_time* end_time,
                                             int32_t* size, float* threshold, int32_t* time_span);

/* List A, put form. */
MARNUSER_API int MARN_CALL marn_put_arc_data(int save_index, int arc_index,
                                             const int16_t* history_status, const char* file_path,
                                             const marn_time* start_time,
                                             const marn_time* end_time, const int32_t* size,
                                             const float* threshold, const int32_t* time_span);

/* List T: tuning values 1 and 2 (each in a 32-bit integer), a null,
 * values 3 to 11 (32-bit), 12 and 13 (16-bit), a null, values 14 to 40
 * (32-bit): 42 arguments. The get reads what the library holds (the
 * running historian's tuning, or what marn_read_hist_config read). */
#define MARN_TUNING_ARGS(T32, T16)                                                           \
  T32 *t1, T32 *t2, void *reserved1, T32 *t3, T32 *t4, T32 *t5, T32 *t6, T32 *t7, T32 *t8,  \
      T32 *t9, T32 *t10, T32 *t11, T16 *t12, T16 *t13, void *reserved2, T32 *t14, T32 *t15, \
      T32 *t16, T32 *t17, T32 *t18, T32 *t19, T32 *t20, T32 *t21, T32 *t22, T32 *t23,       \
      T32 *t24, T32 *t25, T32 *t26, T32 *t27, T32 *t28, T32 *t29, T32 *t30, T32 *t31,       \
      T32 *t32, T32 *t33, T32 *t34, T32 *t35, T32 *t36, T32 *t37, T32 *t38, T32 *t39, T32 *t40

MARNUSER_API int MARN_CALL marn_get_tuning_data(MARN_TUNING_ARGS(int32_t, int16_t));
MARNUSER_API int MARN_CALL marn_put_tuning_data(MARN_TUNING_ARGS(const int32_t, const int16_t));

#ifdef __cplusplus
}
#endif

#endif /* MARNUSER_H */
