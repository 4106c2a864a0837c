/*
 * drell: the history configuration path library. Reports where config.dat
 * and tune.dat are, with their time stamps, the repository names of the
 * configuration, and normalises paths.
 *
 * Every function returns 0 on success and any other value on failure.
 */
#ifndef DRELL_H
#define DRELL_H

#include <stdint.h>

#if defined(_WIN32)
#define DRELL_CALL __cdecl
#if defined(DRELL_STATIC)
#define DRELL_API
#elif defined(DRELL_BUILDING)
#define DRELL_API __declspec(dllexport)
#else
#define DRELL_API __declspec(dllimport)
#endif
#else
#define DRELL_CALL
#define DRELL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define DRELL_PATH_SIZE 256
#define DRELL_NAME_SIZE 32
#define DRELL_TIMESTAMP_SIZE 8

/* The path of config.dat (256-byte buffer) and its 8-byte time stamp. */
DRELL_API int DRELL_CALL getConfigPathAndTimestamp(char* path, void* timestamp);
/* The same for tune.dat. */
DRELL_API int DRELL_CALL getTuningPathAndTimestamp(char* path, void* timestamp);
/* The name of repository `repository_index` of `source` (0: running
 * historian, 1: configuration files) into a 32-byte buffer. */
DRELL_API int DRELL_CALL get_repos_name(int source, int repository_index, char* name);
/* Normalises the path in place (mode 1); never writes beyond 256 bytes. */
DRELL_API int DRELL_CALL fixHistoryFilePath(char* path, int length, int mode);
/* Turns a network path naming this machine into its local path, into a
 * 256-byte buffer; any other path is copied as it is. */
DRELL_API int DRELL_CALL ConvertUNC2LocalPath(const char* path, char* local_path);

#ifdef __cplusplus
}
#endif

#endif /* DRELL_H */
