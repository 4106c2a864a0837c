#include "transfer/folded_path_table.h"

#include <cstring>

#include "region/ascii_case.h"

namespace kha {

FoldedPathTable::Key FoldedPathTable::Fold(const char* path) {
  Key key;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  std::size_t length = 0;
  for (; length < sizeof key.bytes && path[length] != '\0'; ++length) {
    const char c = FoldAsciiCase(path[length]);
    key.bytes[length] = c;
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  key.length = static_cast<uint16_t>(length);
  key.hash = hash;
  return key;
}

std::size_t FoldedPathTable::Probe(const Key& key) const {
  const std::size_t mask = entries_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(key.hash) & mask;; i = (i + 1) & mask) {
    const Entry& entry = entries_[i];
    if (entry.offset == kEmpty) return i;
    // An empty path stores no bytes: the key store may have no data at all.
    if (entry.hash == key.hash && entry.length == key.length &&
        (key.length == 0 || std::memcmp(keys_.data() + entry.offset, key.bytes, key.length) == 0)) {
      return i;
    }
  }
}

void FoldedPathTable::Grow() {
  std::vector<Entry> old(entries_.empty() ? 64 : entries_.size() * 2);
  old.swap(entries_);
  const std::size_t mask = entries_.size() - 1;
  for (const Entry& entry : old) {
    if (entry.offset == kEmpty) continue;
    std::size_t i = static_cast<std::size_t>(entry.hash) & mask;
    while (entries_[i].offset != kEmpty) i = (i + 1) & mask;
    entries_[i] = entry;
  }
}

void FoldedPathTable::Insert(const char* path, int16_t slot) {
  if ((count_ + 1) * 2 > entries_.size()) Grow();
  const Key key = Fold(path);
  Entry& entry = entries_[Probe(key)];
  if (entry.offset != kEmpty) return;  // the first slot noted stays
  const std::size_t offset = keys_.size();
  keys_.insert(keys_.end(), key.bytes, key.bytes + key.length);
  entry = Entry{key.hash, static_cast<uint32_t>(offset), key.length, slot};
  ++count_;
}

int16_t FoldedPathTable::Find(const char* path) const {
  if (entries_.empty()) return 0;
  const Entry& entry = entries_[Probe(Fold(path))];
  return entry.offset == kEmpty ? int16_t{0} : entry.slot;
}

void FoldedPathTable::Clear() {
  entries_.clear();
  keys_.clear();
  count_ = 0;
}

}  // namespace kha
