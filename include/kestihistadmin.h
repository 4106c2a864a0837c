/*
 * kestihistadmin: the history administration library.
 *
 * One machine-wide table of history repositories and their archive file
 * sets, plus a block of tuning data, lives in a named shared-memory region
 * (the HistAdmin region). Every process that uses the library attaches to
 * it; one named, re-entrant, cross-process mutex keeps it consistent.
 *
 * This is the whole public interface: C, callable from C and C++.
 *
 * Conventions
 * - Every function that can fail returns a result code: 0 (KHA_OK) on
 *   success, one of the negative KHA_* codes below on failure.
 *   GetKestiHistAdminErrorMessage turns any code into its English message.
 * - Every function that touches the region takes the HistAdmin mutex,
 *   does its work and releases it. LockHistAdminMutex/UnlockHistAdminMutex
 *   let a caller group several calls; the mutex is re-entrant per thread.
 * - Records are copied whole between the region and the caller's buffers,
 *   in the packed layouts below. Callers own every buffer they pass.
 * - Slot numbers are 1-based; 0 means "no slot".
 * - A process that is not attached gets KHA_NOT_MAPPED (-2004) from every
 *   operation that has a result code, 0 from those returning a count or a
 *   flag, and nothing at all happens to any region.
 * - Each function below lists every code it returns besides 0; set-up,
 *   attach, detach, the operations that change the region, the loads and
 *   the save may also return KHA_NO_MEMORY (-2005) when the process runs
 *   out of memory. Nothing is ever thrown across this interface.
 * - The reason of the operating system: when set-up, attach, detach or an
 *   operation that changes the region (and so ends with a flush) fails at
 *   a kernel-object step (-2005 to -2014), the function leaves the OS
 *   error number of that step in errno (POSIX) or as the thread's last
 *   error (Windows, GetLastError) when it returns; after any other failure
 *   of these functions it leaves 0 there. After a success the value there
 *   means nothing.
 *
 * Caveats
 * - Every operation that changes the region is all or nothing for every
 *   other process. A holder of the mutex that dies (a process ended, or a
 *   thread that ends holding it) in the middle of an operation leaves an
 *   undo journal open beside the region; the next process to take the
 *   mutex with the region mapped puts back the bytes that operation had
 *   changed before it goes on, so the others see the region as it was
 *   before that operation. Operations that had finished stay, also those
 *   of a load or a save that the holder was in the middle of (each step
 *   of a load is an operation of its own). A region with no operation in
 *   flight is never touched. Changes made by a process of a build without
 *   the journal are left as that process left them.
 * - An operation that cannot record its undo (the journal full, which
 *   normal use never makes it, or a journal of another build's layout)
 *   changes nothing and returns KHA_NO_SPACE (-2022).
 * - The region lives while any process holds it; when the last process
 *   detaches (or dies), it is gone.
 */
#ifndef KESTIHISTADMIN_H
#define KESTIHISTADMIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
/* Every export uses the C calling convention on Windows too. */
#define KHA_CALL __cdecl
#if defined(KESTIHISTADMIN_STATIC)
#define KESTIHISTADMIN_API
#elif defined(KESTIHISTADMIN_BUILDING)
#define KESTIHISTADMIN_API __declspec(dllexport)
#else
#define KESTIHISTADMIN_API __declspec(dllimport)
#endif
#else
#define KHA_CALL
#if defined(KESTIHISTADMIN_BUILDING) && !defined(KESTIHISTADMIN_STATIC)
#define KESTIHISTADMIN_API __attribute__((visibility("default")))
#else
#define KESTIHISTADMIN_API
#endif
#endif

#ifdef __cplusplus
#define KHA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define KHA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ------------------------------------------------------------------------
 * Result codes. The values are part of the interface and never change.
 * Codes marked reserved have a message but no function returns them; they
 * keep their numbers so that no other meaning is ever given to them.
 * "Flush codes" below are what the flush that ends every change of the
 * region returns: -2003 (no section handle) or -2014 (flush failed); the
 * change has been made in the region either way.
 * ---------------------------------------------------------------------- */
enum {
  KHA_OK = 0,
  KHA_ALREADY_EXISTS = -2001,                  /* the section handle is already held */
  KHA_ALREADY_OPEN = -2002,                    /* the section handle is already held (attach) */
  KHA_NOT_OPENED = -2003,                      /* no section handle is held */
  KHA_NOT_MAPPED = -2004,                      /* the region is not mapped in this process */
  KHA_NO_MEMORY = -2005,                       /* an allocation failed */
  KHA_CREATE_MUTEX_FAILED = -2006,             /* the global mutex could not be created */
  KHA_INIT_SECURITY_FAILED = -2007,            /* the security descriptor could not be made */
  KHA_SET_SECURITY_FAILED = -2008,             /* the security descriptor could not be set */
  KHA_OPEN_MUTEX_FAILED = -2009,               /* no global mutex, or it cannot be opened */
  KHA_CREATE_MAPPING_FAILED = -2010,           /* the section could not be created, or too small */
  KHA_OPEN_MAPPING_FAILED = -2011,             /* the section could not be opened */
  KHA_MAP_VIEW_FAILED = -2012,                 /* the view could not be mapped */
  KHA_UNMAP_VIEW_FAILED = -2013,               /* the view could not be unmapped */
  KHA_FLUSH_VIEW_FAILED = -2014,               /* the view could not be flushed */
  KHA_LOAD_TUNING_FAILED = -2015,              /* marn_get_tuning_data failed */
  KHA_CONFIG_PATH_FAILED = -2016,              /* getConfigPathAndTimestamp failed */
  KHA_TUNING_PATH_FAILED = -2017,              /* getTuningPathAndTimestamp failed */
  KHA_MARN_REPOSITORY_COUNT_FAILED = -2018,    /* marn_get_number_repositories failed (running) */
  KHA_MARN_REPOSITORY_NAME_FAILED = -2019,     /* get_repos_name failed (running) */
  KHA_NAME_TOO_LONG = -2020,                   /* a repository name is empty or longer than 30 */
  KHA_REPOSITORY_NOT_FOUND = -2021,            /* no such repository number, or a bad slot */
  KHA_NO_SPACE = -2022,                        /* no room for a new slot, or a size too small, */
                                               /* or no room in the undo journal: nothing changed */
  KHA_MARN_REPOSITORY_HEADER_FAILED = -2023,   /* marn_get_rep_data failed (running) */
  KHA_MARN_FILESET_FAILED = -2024,             /* marn_get_arc_data failed (running) */
  KHA_CONFIG_READ_FAILED = -2025,              /* marn_read_hist_config failed */
  KHA_CONFIG_REPOSITORY_COUNT_FAILED = -2026,  /* marn_get_number_repositories failed (files) */
  KHA_CONFIG_REPOSITORY_NAME_FAILED = -2027,   /* get_repos_name failed (files) */
  KHA_CONFIG_REPOSITORY_HEADER_FAILED = -2028, /* marn_get_rep_data failed (files) */
  KHA_CONFIG_FILESET_FAILED = -2029,           /* marn_get_arc_data failed (files) */
  KHA_SAVE_TUNING_FAILED = -2030,              /* marn_put_tuning_data failed */
  KHA_WRITE_CONFIG_FAILED = -2031,             /* marn_write_hist_config failed */
  KHA_FREE_CONFIG_FAILED = -2032,              /* marn_free_hist_config failed */
  KHA_INIT_CONFIG_FAILED = -2033,              /* marn_init_hist_config failed */
  KHA_SAVE_REPOSITORY_FAILED = -2034,          /* marn_put_rep_data failed */
  KHA_SAVE_FILESET_FAILED = -2035,             /* marn_put_arc_data failed */
  KHA_INVALID_FILESET_NUMBER = -2036,          /* a file-set number or slot that is not valid */
  KHA_FILE_PATH_REQUIRED = -2037,              /* reserved */
  KHA_INVALID_POINTER = -2038,                 /* a required pointer is null */
  KHA_FILE_PATH_IN_USE = -2039,                /* a file set of the repository holds the path */
  KHA_CREATE_FILESET_FAILED = -2040,           /* reserved */
  KHA_BUFFER_TOO_SMALL = -2041,                /* the caller's array is too small */
  KHA_INVALID_FILE_PATH = -2042,               /* reserved */
  KHA_CREATE_DIRECTORY_FAILED = -2043,         /* reserved */
  KHA_TOO_MANY_FILESETS = -2044,               /* reserved */
  KHA_CACHE_BUCKETS_OUT_OF_RANGE = -2045,      /* reserved */
  KHA_BUFFER_SIZE_OUT_OF_RANGE = -2046,        /* reserved */
  KHA_FUTURE_TIME_OUT_OF_RANGE = -2047,        /* reserved */
  KHA_PAST_TIME_OUT_OF_RANGE = -2048,          /* reserved */
  KHA_FILESET_SIZE_OUT_OF_RANGE = -2049,       /* reserved */
  KHA_THRESHOLD_OUT_OF_RANGE = -2050,          /* reserved */
  KHA_TIMESPAN_OUT_OF_RANGE = -2051,           /* reserved */
  KHA_CACHE_SIZE_OUT_OF_RANGE = -2052,         /* reserved */
  KHA_INSERT_SIZE_OUT_OF_RANGE = -2053,        /* reserved */
  KHA_EMPTY_FILESETS_OUT_OF_RANGE = -2054,     /* reserved */
  KHA_FILESET_FOLDER_NUMBER_TOO_LARGE = -2055  /* reserved */
};

/* Repository Status and file-set RecordStatus values. */
enum {
  KHA_STATUS_NOT_SAVED = 0, /* neither to be saved nor active */
  KHA_STATUS_ACTIVE = 1,    /* to be saved; a file set is also active */
  KHA_STATUS_MARKED = 2,    /* marked by the configuration load; active file set */
  KHA_STATUS_NEW = 3        /* to be saved, added or changed by the configuration load */
};

/* Modes of UpdateKestiHistAdminOneRepositoryHeader and
 * UpdateKestiHistAdminOneFileSet. Any mode other than 0 acts as 1. */
enum {
  KHA_UPDATE_EVERY_FIELD = 0,   /* write every field a caller may set */
  KHA_UPDATE_KEEP_IN_EFFECT = 1 /* keep the values in effect; write the pending ones and the rest */
};

/* ------------------------------------------------------------------------
 * Region layout. All integers little-endian; strings zero-terminated in
 * their fields. This layout is shared by every process on the machine and
 * by 32- and 64-bit builds: every offset below is a compatibility promise.
 *
 *   offset 0                12              692
 *   +--------------------+------------------+-----------------------------
 *   | region header (12) | tuning (680)     | file-set slot 1, 2, ... ->
 *   +--------------------+------------------+-----------------------------
 *        ... free space ...  <- repository slot 2 | repository slot 1 |
 *   ------------------------------------------------------------------+
 *                                                           RegionSize
 *
 *   file-set slot k   at 692 + (k - 1) * 600
 *   repository slot k at RegionSize - k * 1144
 * ---------------------------------------------------------------------- */
#define KHA_NAME_FIELD_SIZE 32
#define KHA_PATH_FIELD_SIZE 256
#define KHA_MAX_NAME_LENGTH 30
#define KHA_TUNING_OFFSET 12
#define KHA_FILESET_TABLE_OFFSET 692
#define KHA_FILESET_RECORD_SIZE 600
#define KHA_REPOSITORY_RECORD_SIZE 1144
#define KHA_MESSAGE_BUFFER_SIZE 2048

#pragma pack(push, 1)

/* Region header, 12 bytes at offset 0.
 *   0 u32 RegionSize | 4 i16 ReposHighWater | 6 u16 NumberRepos
 *   8 i16 FSHighWater | 10 u16 NumberFileSets */
typedef struct KestiHistAdminRegionHeader {
  uint32_t RegionSize;
  int16_t ReposHighWater;
  uint16_t NumberRepos;
  int16_t FSHighWater;
  uint16_t NumberFileSets;
} KestiHistAdminRegionHeader;

/* A time pair: seconds, then microseconds. */
typedef struct KestiHistAdminTimePair {
  int32_t Seconds;
  int32_t Microseconds;
} KestiHistAdminTimePair;

/* Tuning block, 680 bytes at offset 12. The system only carries the
 * tuning values; their meaning belongs to the historian's library.
 *     0 char[256] ConfigFilePath   | 256 u8[8] ConfigFileTimestamp
 *   264 char[256] TuneFilePath     | 520 u8[8] TuneFileTimestamp
 *   528 i16 value 1 | 530 i16 value 2 | 532 i32[9] values 3..11
 *   568 i16 value 12 | 570 i16 value 13 | 572 i32[27] values 14..40 */
typedef struct KestiHistAdminTuningData {
  char ConfigFilePath[256];
  uint8_t ConfigFileTimestamp[8];
  char TuneFilePath[256];
  uint8_t TuneFileTimestamp[8];
  int16_t TuningValue1;
  int16_t TuningValue2;
  int32_t TuningValues3To11[9];
  int16_t TuningValue12;
  int16_t TuningValue13;
  int32_t TuningValues14To40[27];
} KestiHistAdminTuningData;

/* File-set record, 600 bytes.
 *     0 i32 RecordStatus   |   4 char[256] FilePath | 260 char[256] PendingFilePath
 *   516 time StartTime     | 524 time EndTime       | 532 i32 ParamSource
 *   536 i32 Size           | 540 i32 PendingSize    | 544 f32 Threshold
 *   548 f32 PendingThreshold | 552 i32 Timespan    | 556 i32 PendingTimespan
 *   560 f32 Percentage     | 564 Spare1 (4) | 568 Spare2 (4) | 572 Spare3 (8)
 *   580 Spare4 (8)         | 588 i32 SlotUsage      | 592 i16 HistoryStatus
 *   594 i16 Index          | 596 i16 ReposIndex     | 598 i16 NextIndex */
typedef struct KestiHistAdminFileSet {
  int32_t RecordStatus;
  char FilePath[256];
  char PendingFilePath[256];
  KestiHistAdminTimePair StartTime;
  KestiHistAdminTimePair EndTime;
  int32_t ParamSource;
  int32_t Size;
  int32_t PendingSize;
  float Threshold;
  float PendingThreshold;
  int32_t Timespan;
  int32_t PendingTimespan;
  float Percentage;
  uint8_t Spare1[4];
  uint8_t Spare2[4];
  uint8_t Spare3[8];
  uint8_t Spare4[8];
  int32_t SlotUsage;
  int16_t HistoryStatus;
  int16_t Index;
  int16_t ReposIndex;
  int16_t NextIndex;
} KestiHistAdminFileSet;

/* Repository record, 1144 bytes. The repository header is every field
 * from Status through PendingEmptyFilesets.
 *      0 char[32] RepositoryName | 32 i32 Status
 *     36 char[256] FilePath      | 292 char[256] PendingFilePath
 *    548 char[256] BackupFilePath | 804 char[256] PendingBackupFilePath
 *   1060 i32 NumberPoints   | 1064 PendingNumberPoints | 1068 QueueSize
 *   1072 PendingQueueSize   | 1076 GlobalFileSetSize   | 1080 f32 GlobalThreshold
 *   1084 f32 PendingGlobalThreshold | 1088 GlobalTimeSpan | 1092 PendingGlobalTimeSpan
 *   1096 FutureTime | 1100 PastTime | 1104 CacheSize | 1108 PendingCacheSize
 *   1112 InsertSize | 1116 PendingInsertSize | 1120 EmptyFilesets
 *   1124 PendingEmptyFilesets | 1128 i32 SlotUsage | 1132 i16 Index
 *   1134 i16 NumberFS | 1136 i16 FirstFS | 1138 i16 LastFS
 *   1140 u16 ReposNumber | 1142 padding (2) */
typedef struct KestiHistAdminRepository {
  char RepositoryName[32];
  int32_t Status;
  char FilePath[256];
  char PendingFilePath[256];
  char BackupFilePath[256];
  char PendingBackupFilePath[256];
  int32_t NumberPoints;
  int32_t PendingNumberPoints;
  int32_t QueueSize;
  int32_t PendingQueueSize;
  int32_t GlobalFileSetSize;
  float GlobalThreshold;
  float PendingGlobalThreshold;
  int32_t GlobalTimeSpan;
  int32_t PendingGlobalTimeSpan;
  int32_t FutureTime;
  int32_t PastTime;
  int32_t CacheSize;
  int32_t PendingCacheSize;
  int32_t InsertSize;
  int32_t PendingInsertSize;
  int32_t EmptyFilesets;
  int32_t PendingEmptyFilesets;
  int32_t SlotUsage;
  int16_t Index;
  int16_t NumberFS;
  int16_t FirstFS;
  int16_t LastFS;
  uint16_t ReposNumber;
  uint8_t Padding[2];
} KestiHistAdminRepository;

#pragma pack(pop)

#define KHA_CHECK_FIELD(type, field, offset, size)                        \
  KHA_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " offset"); \
  KHA_STATIC_ASSERT(sizeof(((type*)0)->field) == (size), #type "." #field " size")

KHA_STATIC_ASSERT(sizeof(KestiHistAdminRegionHeader) == 12, "region header size");
KHA_CHECK_FIELD(KestiHistAdminRegionHeader, RegionSize, 0, 4);
KHA_CHECK_FIELD(KestiHistAdminRegionHeader, ReposHighWater, 4, 2);
KHA_CHECK_FIELD(KestiHistAdminRegionHeader, NumberRepos, 6, 2);
KHA_CHECK_FIELD(KestiHistAdminRegionHeader, FSHighWater, 8, 2);
KHA_CHECK_FIELD(KestiHistAdminRegionHeader, NumberFileSets, 10, 2);

KHA_STATIC_ASSERT(sizeof(KestiHistAdminTimePair) == 8, "time pair size");

KHA_STATIC_ASSERT(sizeof(KestiHistAdminTuningData) == 680, "tuning block size");
KHA_CHECK_FIELD(KestiHistAdminTuningData, ConfigFilePath, 0, 256);
KHA_CHECK_FIELD(KestiHistAdminTuningData, ConfigFileTimestamp, 256, 8);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuneFilePath, 264, 256);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuneFileTimestamp, 520, 8);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValue1, 528, 2);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValue2, 530, 2);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValues3To11, 532, 36);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValue12, 568, 2);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValue13, 570, 2);
KHA_CHECK_FIELD(KestiHistAdminTuningData, TuningValues14To40, 572, 108);

KHA_STATIC_ASSERT(sizeof(KestiHistAdminFileSet) == 600, "file-set record size");
KHA_CHECK_FIELD(KestiHistAdminFileSet, RecordStatus, 0, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, FilePath, 4, 256);
KHA_CHECK_FIELD(KestiHistAdminFileSet, PendingFilePath, 260, 256);
KHA_CHECK_FIELD(KestiHistAdminFileSet, StartTime, 516, 8);
KHA_CHECK_FIELD(KestiHistAdminFileSet, EndTime, 524, 8);
KHA_CHECK_FIELD(KestiHistAdminFileSet, ParamSource, 532, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Size, 536, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, PendingSize, 540, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Threshold, 544, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, PendingThreshold, 548, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Timespan, 552, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, PendingTimespan, 556, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Percentage, 560, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Spare1, 564, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Spare2, 568, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Spare3, 572, 8);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Spare4, 580, 8);
KHA_CHECK_FIELD(KestiHistAdminFileSet, SlotUsage, 588, 4);
KHA_CHECK_FIELD(KestiHistAdminFileSet, HistoryStatus, 592, 2);
KHA_CHECK_FIELD(KestiHistAdminFileSet, Index, 594, 2);
KHA_CHECK_FIELD(KestiHistAdminFileSet, ReposIndex, 596, 2);
KHA_CHECK_FIELD(KestiHistAdminFileSet, NextIndex, 598, 2);

KHA_STATIC_ASSERT(sizeof(KestiHistAdminRepository) == 1144, "repository record size");
KHA_CHECK_FIELD(KestiHistAdminRepository, RepositoryName, 0, 32);
KHA_CHECK_FIELD(KestiHistAdminRepository, Status, 32, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, FilePath, 36, 256);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingFilePath, 292, 256);
KHA_CHECK_FIELD(KestiHistAdminRepository, BackupFilePath, 548, 256);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingBackupFilePath, 804, 256);
KHA_CHECK_FIELD(KestiHistAdminRepository, NumberPoints, 1060, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingNumberPoints, 1064, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, QueueSize, 1068, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingQueueSize, 1072, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, GlobalFileSetSize, 1076, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, GlobalThreshold, 1080, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingGlobalThreshold, 1084, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, GlobalTimeSpan, 1088, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingGlobalTimeSpan, 1092, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, FutureTime, 1096, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PastTime, 1100, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, CacheSize, 1104, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingCacheSize, 1108, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, InsertSize, 1112, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingInsertSize, 1116, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, EmptyFilesets, 1120, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, PendingEmptyFilesets, 1124, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, SlotUsage, 1128, 4);
KHA_CHECK_FIELD(KestiHistAdminRepository, Index, 1132, 2);
KHA_CHECK_FIELD(KestiHistAdminRepository, NumberFS, 1134, 2);
KHA_CHECK_FIELD(KestiHistAdminRepository, FirstFS, 1136, 2);
KHA_CHECK_FIELD(KestiHistAdminRepository, LastFS, 1138, 2);
KHA_CHECK_FIELD(KestiHistAdminRepository, ReposNumber, 1140, 2);
KHA_CHECK_FIELD(KestiHistAdminRepository, Padding, 1142, 2);

/* ------------------------------------------------------------------------
 * Messages
 * ---------------------------------------------------------------------- */

/* Writes the message of `code` into `buffer`. On entry *length is the size
 * of the buffer, terminator included. If the message fits, it is copied
 * whole and *length becomes its length + 1; otherwise the first
 * *length - 1 characters are copied, terminated, and *length is left as it
 * was. A null buffer or length, or a length of 0, writes nothing. Touches
 * neither the region nor the mutex. */
KESTIHISTADMIN_API void KHA_CALL GetKestiHistAdminErrorMessage(int32_t code, char* buffer,
                                                               uint32_t* length);

/* ------------------------------------------------------------------------
 * Region lifecycle and locking
 * ---------------------------------------------------------------------- */

/* Server side: creates (or opens) the mutex and the section of `size`
 * bytes, maps it, opens (or creates) and maps the undo journal beside it
 * and writes an empty region header. If this process is already attached,
 * only raises its attach count (the size is ignored).
 * Errors: -2005..-2008 (mutex, or the journal's security descriptor),
 * -2010 (section or journal, or an existing section smaller than `size`),
 * -2012 (view of either), -2022 (size below 692 bytes). Nothing is held
 * after a failure. */
KESTIHISTADMIN_API int32_t KHA_CALL SetupAndAttachToKestiHistAdminSharedMemory(uint32_t size);

/* Client side: opens the existing mutex and section and maps the view;
 * opens (or, for a region set up by a build without one, creates) and
 * maps the undo journal. Errors: -2009 (no region), -2011, -2012, and for
 * the journal -2005, -2007, -2008, -2010, -2012. Nothing is held after a
 * failure. */
KESTIHISTADMIN_API int32_t KHA_CALL AttachToKestiHistAdminSharedMemory(void);

/* Lowers the attach count; at 0 unmaps the view and closes the handles.
 * Errors: -2004 (not attached), -2013 (unmap failed: count stays lowered,
 * handles stay held). */
KESTIHISTADMIN_API int32_t KHA_CALL DetachFromKestiHistAdminSharedMemory(void);

/* Takes / releases the HistAdmin mutex (re-entrant for the holding
 * thread). Do nothing when the process is not attached. Never report. A
 * wait that fails (the OS refuses it) is never a hold without the mutex:
 * until the thread has released that hold every operation returns -2004,
 * and a set-up returns -2006, an attach -2009. */
KESTIHISTADMIN_API void KHA_CALL LockHistAdminMutex(void);
KESTIHISTADMIN_API void KHA_CALL UnlockHistAdminMutex(void);

/* Copies the header fields into the non-null out pointers (a null one is
 * skipped). Errors: -2004. */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminHeader(uint32_t* RegionSize,
                                                            uint16_t* ReposHighWater,
                                                            uint16_t* NumberRepos,
                                                            uint16_t* FSHighWater,
                                                            uint16_t* NumberFileSets);

/* Writes the header fields, skipping RegionSize 0xFFFFFFFF and 16-bit
 * values of -1, then flushes. No high-water mark or count is checked:
 * keeping the tables apart and inside the region is the caller's duty
 * (where they are not, operations still touch nothing outside the view).
 * Errors: -2004; -2022 (a RegionSize below 692 bytes or larger than the
 * mapped view: nothing written); flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL PutKestiHistAdminHeader(uint32_t RegionSize,
                                                            int16_t ReposHighWater,
                                                            int16_t NumberRepos,
                                                            int16_t FSHighWater,
                                                            int16_t NumberFileSets);

/* Copies the 680-byte tuning block (KestiHistAdminTuningData) out of /
 * into the region. A null buffer copies nothing (the put still flushes).
 * Errors: -2004; the put also flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminTuningData(void* tuning);
KESTIHISTADMIN_API int32_t KHA_CALL PutKestiHistAdminTuningData(const void* tuning);

/* ------------------------------------------------------------------------
 * Repository table. `slot` is a repository slot number, `number` a
 * ReposNumber. Records are KestiHistAdminRepository (1144 bytes).
 * A slot outside 1..ReposHighWater, or one whose record lies outside the
 * view, is refused with -2021 and nothing is read or written.
 * ---------------------------------------------------------------------- */

/* Finds the first repository in use (lowest slot) whose name equals `name`
 * ignoring ASCII case. Both outputs are set to 0 first; nothing found is
 * result 0 with slot 0. Errors: -2004; -2020 (name empty or longer than
 * 30); -2038 (a null pointer). */
KESTIHISTADMIN_API int32_t KHA_CALL SearchKestiHistAdminRepositoryByName(const char* name,
                                                                         uint16_t* slot,
                                                                         uint16_t* number);

/* Finds the first repository in use with ReposNumber `number`; slot 0 if
 * none. Errors: -2004; -2038 (a null pointer). */
KESTIHISTADMIN_API int32_t KHA_CALL SearchKestiHistAdminRepositoryByNumber(uint16_t number,
                                                                           uint16_t* slot);

/* Copies the record of `slot`, in use or not. Errors: -2004; -2021;
 * -2038 (a null record). */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminOneRepository(uint16_t slot, void* record);

/* Adds a repository with `name` and `status` in the lowest free slot (or a
 * newly carved one), numbered one more than the largest number in use.
 * Only the name, status and slot fields are written; fill the header with
 * UpdateKestiHistAdminOneRepositoryHeader. Errors: -2004; -2020 (name
 * empty or longer than 30); -2022 (no free slot and no room for one);
 * -2038 (a null pointer); flush codes (the repository has been added). */
KESTIHISTADMIN_API int32_t KHA_CALL AddKestiHistAdminOneRepository(const char* name, int32_t status,
                                                                   uint16_t* slot,
                                                                   uint16_t* number);

/* Writes the repository header of `record` into `slot`.
 * KHA_UPDATE_EVERY_FIELD writes every header field; KHA_UPDATE_KEEP_IN_EFFECT
 * (or any mode other than 0) keeps the seven values in effect
 * (NumberPoints, QueueSize, GlobalThreshold, GlobalTimeSpan, CacheSize,
 * InsertSize, EmptyFilesets). Errors: -2004; -2021; -2038 (a null
 * record); flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL UpdateKestiHistAdminOneRepositoryHeader(int32_t mode,
                                                                            uint16_t slot,
                                                                            const void* record);

/* Frees all file sets of the repository in `slot`, then the slot itself.
 * A slot not in use changes nothing (result 0, no flush). Errors: -2004;
 * -2021; flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL DeleteKestiHistAdminOneRepository(uint16_t slot);

/* Number of repositories in use whose Status is 1 or 3 (0 if not attached). */
KESTIHISTADMIN_API int16_t KHA_CALL GetKestiHistAdminNumberOfRepositoriesToSave(void);

/* Copies the repositories in use, lowest slot first, into `records` (room
 * for *capacity records) and sets *count to the number in use. Errors:
 * -2004; -2038 (a null capacity or count, or null records with room for
 * some); -2041 when more are in use than *capacity (the first *capacity
 * records are copied). */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminAllRepositories(const int16_t* capacity,
                                                                     void* records,
                                                                     uint16_t* count);

/* Frees every file set of the repository in `slot`; the repository stays
 * in use with an empty chain. Errors: -2004; -2021; flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL DeleteKestiHistAdminAllFileSetForOneRepository(uint16_t slot);

/* ------------------------------------------------------------------------
 * File-set table. A file-set number is the 1-based position of a file set
 * in its repository's chain. Records are KestiHistAdminFileSet (600 bytes).
 * A bad repository slot is refused with -2021, a bad file-set slot with
 * -2036; nothing is read or written then.
 * ---------------------------------------------------------------------- */

/* Appends a new file set (RecordStatus 1) to the chain of `reposSlot`.
 * Outputs: its number in the chain and its slot. Errors: -2004; -2021;
 * -2022 (no free slot and no room for one); -2038 (a null output);
 * flush codes (both outputs are 0 then). */
KESTIHISTADMIN_API int32_t KHA_CALL AddKestiHistAdminOneFileSet(uint16_t reposSlot,
                                                                uint16_t* fileSetNumber,
                                                                uint16_t* fileSetSlot);

/* Writes `record` into `fileSetSlot`. KHA_UPDATE_EVERY_FIELD writes every
 * field a caller may set; KHA_UPDATE_KEEP_IN_EFFECT (or any mode other
 * than 0) keeps StartTime, EndTime, Size, Threshold, Timespan and
 * HistoryStatus. `reposSlot` is accepted and not used. Errors: -2004;
 * -2036; -2038 (a null record); flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL UpdateKestiHistAdminOneFileSet(int32_t mode, uint16_t reposSlot,
                                                                   uint16_t fileSetSlot,
                                                                   const void* record);

/* Copies the record of `fileSetSlot`, in use or not. Errors: -2004;
 * -2036; -2038 (a null record). */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminOneFileSet(uint16_t fileSetSlot,
                                                                void* record);

/* Finds the slot of file set `fileSetNumber` of the repository numbered
 * `reposNumber`. Number 0 gives slot 0. Errors: -2004; -2021 (no such
 * repository); -2036 (number beyond NumberFS); -2038 (a null output). */
KESTIHISTADMIN_API int32_t KHA_CALL SearchKestiHistAdminFileSetByNumber(uint16_t reposNumber,
                                                                        uint16_t fileSetNumber,
                                                                        uint16_t* fileSetSlot);

/* Deletes file set `fileSetNumber` of `reposSlot`; later numbers close up.
 * Number 0 deletes nothing (and still flushes). Errors: -2004; -2021;
 * -2036 (number beyond NumberFS); flush codes. */
KESTIHISTADMIN_API int32_t KHA_CALL DeleteKestiHistAdminOneFileSetForOneRepository(
    uint16_t reposSlot, uint16_t fileSetNumber);

/* Checks whether `path` may be used by a file set of `reposSlot`, leaving
 * out `skipSlot` (0: none). -2039 if a file set with RecordStatus other
 * than 0 holds the path (ignoring ASCII case). Otherwise the outputs name
 * a file set with RecordStatus 0 that can take the path (0, 0 for none).
 * Errors: -2004; -2021; -2038 (a null pointer); -2039. */
KESTIHISTADMIN_API int32_t KHA_CALL CheckKestiHistAdminAllFileSetsForAFilePath(
    uint16_t reposSlot, uint16_t skipSlot, const char* path, uint16_t* fileSetSlot,
    uint16_t* fileSetNumber);

/* Copies the file sets of `reposSlot` in chain order into `records`.
 * Errors: -2004; -2021; -2038 (a null capacity or count, or null records
 * with room for some); -2041 when NumberFS exceeds *capacity (*count =
 * NumberFS, nothing copied). */
KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminAllFileSetsForOneRepository(
    uint16_t reposSlot, const int16_t* capacity, void* records, uint16_t* count);

/* 1 if a file set of `reposSlot` has RecordStatus 1 or 2, else 0 (also
 * for a bad slot or a process not attached). */
KESTIHISTADMIN_API int32_t KHA_CALL RepositoryHasOneActiveFileSet(uint16_t reposSlot);

/* Number of the first open file set (StartTime seconds not 0, EndTime
 * seconds 0) of `reposSlot`; 0 for none, a bad slot or a process not
 * attached. */
KESTIHISTADMIN_API int16_t KHA_CALL GetKestiHistAdminCurrentFileSetForOneRepository(
    uint16_t reposSlot);

/* ------------------------------------------------------------------------
 * Configuration transfer (through the historian's marnuser and drell).
 * Each holds the mutex for its whole run, library calls included.
 *
 * The loads walk the historian's repositories one by one. A failure
 * inside one repository (its arc count, its name, its header, a file set
 * of it, or no room left in the region) ends that repository only: what
 * was loaded of it so far stays, the walk goes on with the next one, and
 * the load still returns 0. A 0 therefore says that the tuning block and
 * the list of repositories were read, not that every repository arrived
 * whole; compare the region with the historian's configuration to know.
 * ---------------------------------------------------------------------- */

/* Empties the tables and fills them, and the tuning block, from the
 * running historian. Errors, each ending the load: -2015, -2016, -2017
 * (the tuning block and the files' paths; the region is untouched); -2004
 * (not attached); -2022 (a RegionSize the view does not hold);
 * flush codes; -2018 (the repository count: the tables are empty then). */
KESTIHISTADMIN_API int32_t KHA_CALL LoadFromMarnIntoKestiHistAdmin(void);

/* Merges config.dat and tune.dat into the region. Errors, each ending the
 * load: -2025 (the files could not be read: the region is untouched);
 * -2015, -2016, -2017 (as above); -2004; flush codes; -2026 (the
 * repository count: the marks of the merge are already set). */
KESTIHISTADMIN_API int32_t KHA_CALL LoadFromConfigIntoKestiHistAdmin(void);

/* Writes the tuning block and every repository and file set to be saved
 * (status 1 or 3) to config.dat and tune.dat. The region is not changed.
 * Only the last step, the library's write, touches the files. Errors:
 * -2004; -2030; -2032; -2005 (no memory for the two lists); -2033;
 * -2034, -2035 (the first repository or file set the library refuses
 * ends the save); -2031 (the write). */
KESTIHISTADMIN_API int32_t KHA_CALL SaveKestiHistAdminToConfig(void);

/* ------------------------------------------------------------------------
 * Diagnostics
 * ---------------------------------------------------------------------- */

/* Prints every repository in use and its file sets to standard output.
 * Prints nothing when the process is not attached. */
KESTIHISTADMIN_API void KHA_CALL PrintKestiHistAdminAllRepository(void);

#ifdef __cplusplus
}
#endif

#endif /* KESTIHISTADMIN_H */
