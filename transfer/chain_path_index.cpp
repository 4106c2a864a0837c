#include "transfer/chain_path_index.h"

#include <cstring>
#include <new>

#include "region/layout.h"
#include "region/region_view.h"
#include "tables/chain.h"
#include "tables/name_compare.h"
#include "tables/repository_table.h"
#include "transfer/historian_paths.h"

namespace kha {
namespace {

RepositoryRecord ReadRepository(uint16_t repository_slot) {
  RepositoryRecord repository;
  std::memset(&repository, 0, sizeof(repository));
  (void)GetOneRepository(repository_slot, &repository);
  return repository;
}

void ConvertPendingPath(const FileSetRecord& file_set, char* converted) {
  char path[kPathFieldSize];
  CopyPathField(path, file_set.PendingFilePath);
  ConvertPathForComparison(path, converted);
}

}  // namespace

int16_t FindFirstFileSetByConvertedPath(uint16_t repository_slot, const char* converted) {
  const RepositoryRecord repository = ReadRepository(repository_slot);
  int16_t found = 0;
  ForEachFileSetInChain(repository, [&](int16_t slot, const FileSetRecord& file_set, int32_t) {
    char local[kPathFieldSize];
    ConvertPendingPath(file_set, local);
    if (!PathEquals(converted, local)) return true;
    found = slot;
    return false;
  });
  return found;
}

void ChainPathIndex::Forget() {
  built_ = false;
  extendable_ = false;
  first_slot_by_path_.Clear();
  visited_.clear();
}

bool ChainPathIndex::Build() {
  Forget();
  try {
    visited_.assign(static_cast<std::size_t>(kMaxSlot) + 1, false);
    const RepositoryRecord repository = ReadRepository(repository_slot_);
    bool repeated = false;
    int16_t last = 0;
    walked_ = ForEachFileSetInChain(repository,
                                    [&](int16_t slot, const FileSetRecord& file_set, int32_t) {
                                      char local[kPathFieldSize];
                                      ConvertPendingPath(file_set, local);
                                      first_slot_by_path_.Insert(local, slot);
                                      if (visited_[static_cast<std::size_t>(slot)]) repeated = true;
                                      visited_[static_cast<std::size_t>(slot)] = true;
                                      last = slot;
                                      return true;
                                    });
    last_slot_ = last;
    extendable_ = !repeated && walked_ == repository.NumberFS && last == repository.LastFS;
    built_ = true;
  } catch (const std::bad_alloc&) {
    Forget();
    usable_ = false;
  }
  return built_;
}

int16_t ChainPathIndex::FindFirst(const char* converted) {
  if (usable_ && (built_ || Build())) {
    return first_slot_by_path_.Find(converted);
  }
  return FindFirstFileSetByConvertedPath(repository_slot_, converted);
}

void ChainPathIndex::NoteAppended(int16_t slot, const char* converted) {
  if (!built_) return;  // the next search walks the chain afresh anyway
  // The append set the old last file set's NextIndex (or FirstFS) to the
  // new slot; a fresh walk sees the old chain followed by it only if the
  // chain was whole and the new slot was not already part of it.
  const RepositoryRecord* repository = RepositoryInTable(static_cast<int32_t>(repository_slot_));
  const bool extends =
      extendable_ && repository != nullptr && slot >= 1 &&
      !visited_[static_cast<std::size_t>(slot)] && repository->NumberFS == walked_ + 1 &&
      repository->LastFS == slot &&
      (walked_ == 0 ? repository->FirstFS == slot : NextFileSetIndex(last_slot_) == slot);
  if (!extends) {
    Forget();
    return;
  }
  try {
    first_slot_by_path_.Insert(converted, slot);
    visited_[static_cast<std::size_t>(slot)] = true;
    ++walked_;
    last_slot_ = slot;
  } catch (const std::bad_alloc&) {
    Forget();
    usable_ = false;
  }
}

}  // namespace kha
