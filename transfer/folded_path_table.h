// Paths compared ignoring the case of ASCII letters, each with the first
// file-set slot noted for it: the table behind the path index of a load.
// Open addressing over one array of small entries, with the folded paths
// kept one after another in a single buffer, so that a lookup allocates
// nothing and touches one entry and one key, however many paths there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kha {

class FoldedPathTable {
 public:
  // Notes `slot` for `path` (terminated within 256 bytes, or cut there),
  // unless the path has a slot already. May throw std::bad_alloc.
  void Insert(const char* path, int16_t slot);

  // The slot noted for `path`, whatever the case of its ASCII letters; 0
  // when none is.
  int16_t Find(const char* path) const;

  void Clear();
  std::size_t size() const { return count_; }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct Entry {
    uint64_t hash = 0;
    uint32_t offset = kEmpty;  // of the folded path in keys_; kEmpty: unused
    uint16_t length = 0;
    int16_t slot = 0;
  };
  struct Key {
    char bytes[256];
    uint16_t length;
    uint64_t hash;
  };

  static Key Fold(const char* path);
  // The entry holding `key`, or the unused entry where it would go.
  std::size_t Probe(const Key& key) const;
  void Grow();

  std::vector<Entry> entries_;  // a power of two in size, at most half used
  std::vector<char> keys_;
  std::size_t count_ = 0;
};

}  // namespace kha
