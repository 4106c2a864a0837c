// The records every benchmark of the comparison works on: the same names
// and the same 1144-byte values, whether they sit in a HistAdmin region,
// in an LMDB environment or in an SQLite database.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestihistadmin.h"

namespace kha::bench {

// The table sizes the comparison runs at.
inline constexpr int kSmallTable = 100;
inline constexpr int kMediumTable = 1000;
inline constexpr int kLargeTable = 10000;

// Names share a long prefix, as a plant's repository names do, so a
// comparison cannot decide on the first byte.
inline std::string RepositoryName(int k) {
  char name[KHA_NAME_FIELD_SIZE];
  std::snprintf(name, sizeof name, "Repository_%05d", k);
  return name;
}

// The same name as a caller might type it: every letter's case flipped.
inline std::string RepositoryNameOtherCase(int k) {
  std::string name = RepositoryName(k);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

// The name as the case-insensitive peers key it: small letters.
inline std::string FoldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// A filled repository record: name, status, paths and settings.
inline KestiHistAdminRepository RepositoryValue(int k) {
  KestiHistAdminRepository record{};
  std::snprintf(record.RepositoryName, sizeof record.RepositoryName, "%s",
                RepositoryName(k).c_str());
  record.Status = KHA_STATUS_ACTIVE;
  std::snprintf(record.FilePath, sizeof record.FilePath, "/var/lib/historian/%05d/", k);
  std::snprintf(record.PendingFilePath, sizeof record.PendingFilePath, "/var/lib/historian/%05d/",
                k);
  std::snprintf(record.BackupFilePath, sizeof record.BackupFilePath, "/srv/backup/%05d/", k);
  std::snprintf(record.PendingBackupFilePath, sizeof record.PendingBackupFilePath,
                "/srv/backup/%05d/", k);
  record.NumberPoints = record.PendingNumberPoints = 5000 + k;
  record.QueueSize = record.PendingQueueSize = 64;
  record.GlobalFileSetSize = 100;
  record.GlobalThreshold = record.PendingGlobalThreshold = 80.0f;
  record.GlobalTimeSpan = record.PendingGlobalTimeSpan = 86400;
  record.CacheSize = record.PendingCacheSize = 256;
  record.InsertSize = record.PendingInsertSize = 16;
  record.EmptyFilesets = record.PendingEmptyFilesets = 2;
  record.SlotUsage = 1;
  record.Index = static_cast<int16_t>(k);
  record.ReposNumber = static_cast<uint16_t>(k);
  return record;
}

}  // namespace kha::bench
