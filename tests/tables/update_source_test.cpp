// Updates whose caller's record lies in the view itself, on top of the
// record being written: every field must come out as if the caller's bytes
// had been read before anything was written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;

class UpdateSource : public kha::test::RegionTest {};

void Scribble(void* record, std::size_t size, unsigned seed) {
  auto* bytes = static_cast<unsigned char*>(record);
  for (std::size_t i = 0; i < size; ++i) {
    // Mostly printable with a terminator now and then, so that the string
    // fields end at different places.
    const unsigned value = (seed * 131u + static_cast<unsigned>(i) * 29u) % 97u;
    bytes[i] = static_cast<unsigned char>(value == 0 ? 0 : 'A' + value % 26);
  }
}

std::vector<unsigned char> BytesOf(const void* record, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(record);
  return {bytes, bytes + size};
}

// Runs `update` once from `source` (in the view, overlapping `target`) and
// once, from the same starting bytes, from a copy of `source` taken before;
// the target must end the same both times. Shifts both ways are tried.
template <typename Update>
void ExpectOverlapIsHarmless(unsigned char* target, std::size_t size, Update update) {
  for (const std::ptrdiff_t shift : {-600, -1, 1, 37, 600}) {
    SCOPED_TRACE(shift);
    Scribble(target - 700, size + 1400, static_cast<unsigned>(shift + 1000));
    const std::vector<unsigned char> before = BytesOf(target - 700, size + 1400);
    unsigned char* source = target + shift;
    const std::vector<unsigned char> aside = BytesOf(source, size);

    ASSERT_EQ(update(source), KHA_OK);
    const std::vector<unsigned char> from_view = BytesOf(target, size);

    std::memcpy(target - 700, before.data(), before.size());
    ASSERT_EQ(update(aside.data()), KHA_OK);
    EXPECT_EQ(BytesOf(target, size), from_view);
  }
}

// Repository slot 2 and file-set slot 3 each have whole records of their
// own table on either side, so the scribbling around them stays inside it.
TEST_F(UpdateSource, UpdatesFromBytesOverlappingTheirOwnRecord) {
  const auto repository = AddRepository("one");
  const auto middle = AddRepository("two");
  AddRepository("three");
  for (int i = 0; i < 5; ++i) AddFileSet(repository.slot);
  for (const int32_t mode : {0, 1}) {
    SCOPED_TRACE(mode);
    ExpectOverlapIsHarmless(reinterpret_cast<unsigned char*>(kha::RepositoryRecordAt(middle.slot)),
                            KHA_REPOSITORY_RECORD_SIZE, [&](const void* record) {
                              return UpdateKestiHistAdminOneRepositoryHeader(mode, middle.slot,
                                                                             record);
                            });
    ExpectOverlapIsHarmless(reinterpret_cast<unsigned char*>(kha::FileSetRecordAt(3)),
                            KHA_FILESET_RECORD_SIZE, [&](const void* record) {
                              return UpdateKestiHistAdminOneFileSet(mode, repository.slot, 3,
                                                                    record);
                            });
  }
}

}  // namespace
