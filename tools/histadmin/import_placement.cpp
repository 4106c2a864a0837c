#include "import_placement.h"

#include <algorithm>
#include <optional>
#include <set>

#include "failure.h"
#include "output.h"
#include "region_access.h"

namespace kha::histadmin {
namespace {

// Holds a slot while the import carves the table as it was, and goes
// again. One character, so that a repository added into its slot later
// covers the whole name: no byte of it stays behind the new name's zero.
constexpr char kPlaceholderName[] = "~";

// The repository table as the import has made it so far, kept beside the
// region so that every add can be aimed before it is made. A copy can
// rehearse: it follows the library's rules without calling it, so that a
// way to a number is tried out before a single add is made.
class RepositoryPlacer {
 public:
  explicit RepositoryPlacer(int high_water)
      : in_use_(high_water + 1, false),
        placeholder_(high_water + 1, false),
        number_(high_water + 1, 0) {}

  RepositoryPlacer Rehearsal() const {
    RepositoryPlacer copy = *this;
    copy.rehearsal_ = true;
    return copy;
  }

  int HighWater() const { return static_cast<int>(in_use_.size()) - 1; }

  // The largest number among the repositories in use in slots 1 to
  // `last` but `except`, read as signed 16-bit values, as the library
  // finds it: 0 when none is larger.
  int LargestNumberUpTo(int last, int except = 0, int except_too = 0) const {
    int largest = 0;
    for (int k = 1; k <= std::min(last, HighWater()); ++k) {
      if (in_use_[k] && k != except && k != except_too) largest = std::max(largest, number_[k]);
    }
    return largest;
  }

  int HighestSlotInUse() const {
    for (int k = HighWater(); k >= 1; --k) {
      if (in_use_[k]) return k;
    }
    return 0;
  }

  // One add whose search sees slots 1 to `seen` only: the lowest free one
  // among them, or slot `seen` + 1 carved, with one more than the largest
  // number among them. Returns the slot it got.
  int AddSeeing(int seen, const std::string& name, int32_t status, bool placeholder,
                int* number = nullptr) {
    int slot = 1;
    while (slot <= seen && in_use_[slot]) ++slot;
    int got_number = static_cast<int16_t>(LargestNumberUpTo(seen) + 1);
    if (!rehearsal_) {
      Check(PutKestiHistAdminHeader(0xFFFFFFFFu, static_cast<int16_t>(seen), -1, -1, -1),
            "import: cannot aim the next add");
      uint16_t added = 0, added_number = 0;
      Check(AddKestiHistAdminOneRepository(name.c_str(), status, &added, &added_number),
            "import: cannot add repository '" + name + "'");
      slot = added;
      got_number = static_cast<int16_t>(added_number);
    }
    if (slot < 1 || slot > HighWater()) {
      Fail("import: the library put repository '" + name + "' in slot " + std::to_string(slot) +
           ", beyond the table's " + std::to_string(HighWater()));
    }
    in_use_[slot] = true;
    placeholder_[slot] = placeholder;
    number_[slot] = got_number;
    if (number != nullptr) *number = got_number;
    return slot;
  }

  int AddPlaceholder(int seen) {
    return AddSeeing(seen, kPlaceholderName, KHA_STATUS_NOT_SAVED, true);
  }

  // A delete takes only slots up to the high-water mark, which the last
  // add may have left lower.
  void Remove(int slot) {
    if (!rehearsal_) {
      Check(PutKestiHistAdminHeader(0xFFFFFFFFu, static_cast<int16_t>(HighWater()), -1, -1, -1),
            "import: cannot aim the next delete");
      Check(DeleteKestiHistAdminOneRepository(static_cast<uint16_t>(slot)),
            "import: cannot free a repository slot held for the import");
    }
    in_use_[slot] = false;
    placeholder_[slot] = false;
  }

  // Every free slot below `slot` taken by a placeholder, lowest first, each
  // seeing only the slots below it.
  void FillBelow(int slot) {
    for (int k = 1; k < slot; ++k) {
      if (!in_use_[k]) (void)AddPlaceholder(k - 1);
    }
  }

  // Adds `record` into its exported slot with its exported number, every
  // slot of the table holding a placeholder or a repository added before
  // it (so all with smaller numbers); false where no way found here gives
  // it that number (nothing is made then, unless the library did other than
  // rehearsed: the caller takes everything out). Each way is rehearsed
  // first, and the first that works is then made.
  bool PlaceByNumber(const KestiHistAdminRepository& record) {
    const int slot = record.Index;
    const int wanted = record.ReposNumber - 1;  // the largest the add must see
    if (!in_use_[slot] || !placeholder_[slot]) return false;
    for (const auto way :
         {&RepositoryPlacer::FreeSlotShowsIt, &RepositoryPlacer::RaiseBelowThenAbove,
          &RepositoryPlacer::RaiseWithSlotHeld, &RepositoryPlacer::RaiseInTurns}) {
      RepositoryPlacer trial = Rehearsal();
      if (!(trial.*way)(slot, wanted)) continue;
      if (!(this->*way)(slot, wanted)) return false;
      int got_number = 0;
      return AddSeeing(SeenFor(slot, wanted), FieldText(record.RepositoryName), record.Status,
                       false, &got_number) == slot &&
             got_number == record.ReposNumber;
    }
    return false;
  }

  // Adds `record` in its exported slot, with whatever number that gives.
  int PlaceBySlot(const KestiHistAdminRepository& record) {
    FillBelow(record.Index);
    return AddSeeing(record.Index - 1, FieldText(record.RepositoryName), record.Status, false);
  }

  // Takes out every repository the placer added.
  void RemoveAll() {
    for (int k = 1; k <= HighWater(); ++k) {
      if (in_use_[k]) Remove(k);
    }
  }

  void RemovePlaceholders() {
    for (int k = 1; k <= HighWater(); ++k) {
      if (in_use_[k] && placeholder_[k]) Remove(k);
    }
  }

 private:
  // The fewest slots from 1 that an add into `slot`, once free, can see
  // (every slot below it in use) among which `wanted` is the largest
  // number; -1 when no such count exists.
  int SeenFor(int slot, int wanted) const {
    int seen = slot - 1;
    int largest = LargestNumberUpTo(seen);
    while (largest < wanted && seen < HighWater()) {
      if (++seen != slot && in_use_[seen]) largest = std::max(largest, number_[seen]);
    }
    return largest == wanted ? seen : -1;
  }

  // The placeholder in `slot` goes and comes back, the add seeing slots 1
  // to `seen`, among which `slot` is then the only free one.
  void ReAdd(int slot, int seen) {
    Remove(slot);
    if (AddPlaceholder(seen) != slot) Fail("import: a placeholder did not come back to its slot");
  }

  // The ways to a number. Each starts with every slot in use and ends,
  // when it returns true, with `slot` free and `wanted` the largest number
  // that an add into it can see (SeenFor).

  // The slots show it already.
  bool FreeSlotShowsIt(int slot, int wanted) {
    if (SeenFor(slot, wanted) < 0) return false;
    Remove(slot);
    return true;
  }

  // With `slot` free, placeholders below it that do not hold the largest
  // number there go and come back with one more, then, where none is
  // left, one above it takes turns with one put into `slot` meanwhile.
  bool RaiseBelowThenAbove(int slot, int wanted) {
    Remove(slot);
    for (int largest; (largest = LargestNumberUpTo(slot - 1)) < wanted;) {
      int pump = 0;
      for (int k = 1; k < slot && pump == 0; ++k) {
        if (placeholder_[k] && number_[k] != largest) pump = k;
      }
      if (pump == 0) break;
      ReAdd(pump, slot - 1);
    }
    if (SeenFor(slot, wanted) >= 0) return true;
    for (int above = slot + 1; above <= HighWater(); ++above) {
      if (!placeholder_[above]) continue;
      RepositoryPlacer trial = Rehearsal();
      if (trial.TakeTurnsWith(slot, above, wanted)) return TakeTurnsWith(slot, above, wanted);
    }
    return false;
  }

  // Gives `wanted` to the placeholder `above` the free `slot`, taking
  // turns with a placeholder put into `slot` meanwhile, each coming back
  // with one more than the largest number among the slots up to `above`;
  // the one in `slot` goes again at the end.
  bool TakeTurnsWith(int slot, int above, int wanted) {
    if (LargestNumberUpTo(above, slot, above) >= wanted) return false;
    for (const int first_seen : {slot - 1, above}) {
      for (const bool above_first : {true, false}) {
        RepositoryPlacer trial = Rehearsal();
        if (!trial.Turns(slot, above, wanted, first_seen, above_first)) continue;
        return Turns(slot, above, wanted, first_seen, above_first);
      }
    }
    return false;
  }

  bool Turns(int slot, int above, int wanted, int first_seen, bool above_first) {
    if (AddPlaceholder(first_seen) != slot) return false;
    bool above_turn = above_first;
    for (int turn = 0; turn <= 2 * (wanted + 2); ++turn, above_turn = !above_turn) {
      if (number_[above] == wanted && number_[slot] < wanted) break;
      ReAdd(above_turn ? above : slot, above);
    }
    if (number_[above] != wanted || number_[slot] >= wanted) return false;
    Remove(slot);
    return SeenFor(slot, wanted) >= 0;
  }

  // With the placeholder still in `slot`, one below it goes and comes
  // back, seeing the slots up to one of its choosing (the one in `slot`
  // and those above too), with one more than the largest among them; each
  // time the one that comes back highest without passing `wanted`.
  bool RaiseWithSlotHeld(int slot, int wanted) {
    while (LargestNumberUpTo(slot - 1) < wanted) {
      int pump = 0, pump_seen = 0, best = 0;
      for (int p = 1; p < slot; ++p) {
        if (!placeholder_[p]) continue;
        int largest = LargestNumberUpTo(p - 1);
        for (int seen = p - 1; seen <= HighWater(); ++seen) {
          if (seen > p && in_use_[seen]) largest = std::max(largest, number_[seen]);
          if (largest + 1 > wanted) break;
          if (largest + 1 > std::max(number_[p], best)) {
            best = largest + 1;
            pump = p;
            pump_seen = seen;
          }
        }
      }
      if (pump == 0) return false;
      ReAdd(pump, pump_seen);
    }
    Remove(slot);
    return SeenFor(slot, wanted) >= 0;
  }

  // The two placeholders that hold the largest numbers among slots 1 to
  // `seen` (the one in `slot` may be one) go and come back in turns, each
  // seeing those slots, until one other than the one in `slot` holds
  // `wanted`; for the fewest slots that works.
  bool RaiseInTurns(int slot, int wanted) {
    for (int seen = slot; seen <= HighWater(); ++seen) {
      int first = 0, second = 0;
      for (int k = 1; k <= seen; ++k) {
        if (!placeholder_[k]) continue;
        if (first == 0 || number_[k] > number_[first]) {
          second = first;
          first = k;
        } else if (second == 0 || number_[k] > number_[second]) {
          second = k;
        }
      }
      for (const auto& [a, b] : {std::pair{first, second}, std::pair{second, first}}) {
        if (a == 0 || b == 0 || LargestNumberUpTo(seen, a, b) >= wanted) continue;
        RepositoryPlacer trial = Rehearsal();
        if (trial.PumpInTurns(slot, wanted, seen, a, b))
          return PumpInTurns(slot, wanted, seen, a, b);
      }
    }
    return false;
  }

  bool PumpInTurns(int slot, int wanted, int seen, int a, int b) {
    for (int turn = 0, pump = a; turn <= 2 * (wanted + 2); ++turn, pump = pump == a ? b : a) {
      ReAdd(pump, seen);
      if (number_[pump] > wanted) return false;
      if (number_[pump] == wanted && pump != slot) {
        Remove(slot);
        return SeenFor(slot, wanted) >= 0;
      }
    }
    return false;
  }

  std::vector<bool> in_use_;
  std::vector<bool> placeholder_;
  std::vector<int> number_;
  bool rehearsal_ = false;
};

// Numbers that adds can give in the order of the numbers: each from 1 to
// 32767, no two alike.
bool NumbersCanBePlayed(const std::vector<RepositoryToPlace>& repositories) {
  std::set<int> numbers;
  for (const RepositoryToPlace& r : repositories) {
    const auto number = static_cast<int16_t>(r.record.ReposNumber);
    if (number < 1 || !numbers.insert(number).second) return false;
  }
  return true;
}

// The repositories in place: by number where a history allows it,
// otherwise in slot order. Returns the slot each got.
std::vector<int> PlaceRepositories(RepositoryPlacer& placer,
                                   const std::vector<RepositoryToPlace>& repositories) {
  if (NumbersCanBePlayed(repositories)) {
    std::vector<const KestiHistAdminRepository*> by_number;
    for (const RepositoryToPlace& r : repositories) by_number.push_back(&r.record);
    std::sort(by_number.begin(), by_number.end(),
              [](const auto* a, const auto* b) { return a->ReposNumber < b->ReposNumber; });
    // Every slot held first, each placeholder seeing only the slots below
    // it: the lowest numbers a slot can have.
    placer.FillBelow(placer.HighWater() + 1);
    bool played = true;
    for (const KestiHistAdminRepository* record : by_number) {
      if (!played) break;
      played = placer.PlaceByNumber(*record);
    }
    if (played) {
      std::vector<int> slots;
      for (const RepositoryToPlace& r : repositories) slots.push_back(r.record.Index);
      return slots;
    }
    placer.RemoveAll();
  }
  std::vector<int> slots;
  for (const RepositoryToPlace& r : repositories) slots.push_back(placer.PlaceBySlot(r.record));
  return slots;
}

// Every file-set slot carved for `holder`, then handed, in chain order, to
// the repository that owns it: deleted from the holder's chain it is the
// only free slot, so the add takes it. The holder's own file sets are
// appended behind its placeholders, which go at the end.
void PlaceFileSets(const std::vector<RepositoryToPlace>& repositories,
                   const std::vector<int>& slots, int holder, int fs_high_water,
                   std::vector<std::string>& differences) {
  std::vector<int> held;  // the holder's chain, slot numbers
  std::set<int> real;     // those of them that are the holder's own
  for (int k = 1; k <= fs_high_water; ++k) {
    uint16_t number = 0, slot = 0;
    Check(AddKestiHistAdminOneFileSet(static_cast<uint16_t>(holder), &number, &slot),
          "import: cannot carve the file-set slots");
    held.push_back(slot);
  }
  for (std::size_t i = 0; i < repositories.size(); ++i) {
    const auto owner = static_cast<uint16_t>(slots[i]);
    for (const KestiHistAdminFileSet& file_set : repositories[i].file_sets) {
      const auto place = std::find(held.begin(), held.end(), file_set.Index);
      if (place != held.end() && real.count(file_set.Index) == 0) {
        Check(DeleteKestiHistAdminOneFileSetForOneRepository(
                  static_cast<uint16_t>(holder), static_cast<uint16_t>(place - held.begin() + 1)),
              "import: cannot free a file-set slot held for the import");
        held.erase(place);
      }
      uint16_t number = 0, slot = 0;
      Check(AddKestiHistAdminOneFileSet(owner, &number, &slot), "import: cannot add a file set");
      Check(UpdateKestiHistAdminOneFileSet(KHA_UPDATE_EVERY_FIELD, owner, slot, &file_set),
            "import: cannot write file set " + FieldText(file_set.FilePath));
      if (owner == holder) {
        held.push_back(slot);
        real.insert(slot);
      }
      if (slot != file_set.Index) {
        differences.push_back("file set " + FieldText(file_set.FilePath) + " is in slot " +
                              std::to_string(slot) +
                              " (exported: " + std::to_string(file_set.Index) + ")");
      }
    }
  }
  for (std::size_t i = held.size(); i-- > 0;) {
    if (real.count(held[i]) != 0) continue;
    Check(DeleteKestiHistAdminOneFileSetForOneRepository(static_cast<uint16_t>(holder),
                                                         static_cast<uint16_t>(i + 1)),
          "import: cannot free a file-set slot held for the import");
  }
}

}  // namespace

std::vector<std::string> PlaceImportedTable(const std::vector<RepositoryToPlace>& repositories,
                                            int16_t repos_high_water, int16_t fs_high_water) {
  // Every slot is an index into the placer's table: each must lie under
  // its high-water mark before anything is written.
  for (const RepositoryToPlace& r : repositories) {
    if (r.record.Index < 1 || r.record.Index > repos_high_water) {
      Fail("import: repository slot " + std::to_string(r.record.Index) +
           " lies outside the table's " + std::to_string(repos_high_water) + " slots");
    }
    for (const KestiHistAdminFileSet& f : r.file_sets) {
      if (f.Index < 1 || f.Index > fs_high_water) {
        Fail("import: file-set slot " + std::to_string(f.Index) + " lies outside the table's " +
             std::to_string(fs_high_water) + " slots");
      }
    }
  }
  // The region is empty; its slots start afresh, as after a load.
  Check(PutKestiHistAdminHeader(0xFFFFFFFFu, 0, -1, 0, -1), "import: cannot reset the tables");
  // Slot 1 at least: with no repository, a placeholder holds the file-set
  // slots while they are carved.
  RepositoryPlacer placer(std::max<int>(repos_high_water, 1));
  std::vector<std::string> differences;
  const std::vector<int> slots = PlaceRepositories(placer, repositories);
  // Updates and deletes take only slots up to the high-water mark.
  Check(PutKestiHistAdminHeader(0xFFFFFFFFu, static_cast<int16_t>(placer.HighWater()), -1, -1, -1),
        "import: cannot set the high-water mark");
  for (std::size_t i = 0; i < repositories.size(); ++i) {
    const KestiHistAdminRepository& record = repositories[i].record;
    const auto slot = static_cast<uint16_t>(slots[i]);
    Check(UpdateKestiHistAdminOneRepositoryHeader(KHA_UPDATE_EVERY_FIELD, slot, &record),
          "import: cannot write the settings of repository '" + FieldText(record.RepositoryName) +
              "'");
    const KestiHistAdminRepository got = ReadRepository(slot);
    if (slot != record.Index || got.ReposNumber != record.ReposNumber) {
      differences.push_back("repository '" + FieldText(record.RepositoryName) + "' is in slot " +
                            std::to_string(slot) + ", number " + std::to_string(got.ReposNumber) +
                            " (exported: slot " + std::to_string(record.Index) + ", number " +
                            std::to_string(record.ReposNumber) + ")");
    }
  }
  // Every slot up to the exported high-water mark carved, as it was.
  placer.FillBelow(repos_high_water + 1);
  int holder = placer.HighestSlotInUse() > 0 ? 1 : 0;
  if (holder == 0 && fs_high_water > 0) {
    holder = placer.AddPlaceholder(0);
  }
  if (holder != 0) PlaceFileSets(repositories, slots, holder, fs_high_water, differences);
  placer.RemovePlaceholders();
  Check(PutKestiHistAdminHeader(0xFFFFFFFFu, repos_high_water, -1, fs_high_water, -1),
        "import: cannot set the high-water marks");

  for (std::size_t i = 0; i < repositories.size(); ++i) {
    const std::vector<KestiHistAdminFileSet> chain = ReadFileSets(static_cast<uint16_t>(slots[i]));
    const std::vector<KestiHistAdminFileSet>& wanted = repositories[i].file_sets;
    bool same = chain.size() == wanted.size();
    for (std::size_t k = 0; same && k < chain.size(); ++k) same = chain[k].Index == wanted[k].Index;
    if (!same) {
      differences.push_back("the file sets of '" +
                            FieldText(repositories[i].record.RepositoryName) +
                            "' are chained otherwise than exported");
    }
  }
  return differences;
}

}  // namespace kha::histadmin
