// Reading the undo journal back: the checks that make a journal usable,
// the replay of its entries and the takeover from a dead holder. This is
// the one place where a dead holder's change is undone, whatever form the
// holder's death took (a killed process, a thread that ended holding the
// mutex) and whether or not the OS reported the mutex abandoned.
#include <atomic>
#include <cstring>

#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

std::atomic_ref<uint32_t> Word(const JournalHeader& header, std::size_t offset) {
  auto* base = reinterpret_cast<std::byte*>(const_cast<JournalHeader*>(&header));
  return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(base + offset));
}

}  // namespace

uint32_t LoadJournalWord(const JournalHeader& header, std::size_t offset) noexcept {
  return Word(header, offset).load(std::memory_order_acquire);
}

void StoreJournalWord(JournalHeader& header, std::size_t offset, uint32_t value) noexcept {
  Word(header, offset).store(value, std::memory_order_release);
}

JournalHeader* UsableJournal(std::size_t* length) noexcept {
  ProcessState& process = HistAdminProcess();
  std::byte* journal = process.journal.load(std::memory_order_acquire);
  const std::size_t mapped = process.journal_length.load(std::memory_order_acquire);
  if (journal == nullptr || mapped < kJournalHeaderSize) return nullptr;
  auto* header = reinterpret_cast<JournalHeader*>(journal);
  if (header->Magic != kJournalMagic || header->Layout != kJournalLayout) return nullptr;
  if (length != nullptr) *length = mapped;
  return header;
}

uint32_t ReplayJournal(std::byte* journal, std::size_t journal_length, std::byte* view,
                       std::size_t view_length, uint32_t bytes_in_use) noexcept {
  if (journal == nullptr || view == nullptr || journal_length < kJournalHeaderSize) return 0;
  const auto* header = reinterpret_cast<const JournalHeader*>(journal);
  std::size_t room = journal_length - kJournalHeaderSize;
  if (header->Capacity < room) room = header->Capacity;
  std::size_t end = bytes_in_use & kJournalBytesMask;
  if (end > room || end % 8 != 0) return 0;  // nothing of it can be trusted
  std::byte* entries = journal + kJournalHeaderSize;
  uint32_t replayed = 0;
  while (end >= sizeof(JournalEntryTrailer)) {
    JournalEntryTrailer trailer;
    std::memcpy(&trailer, entries + end - sizeof(trailer), sizeof(trailer));
    const std::size_t data = end - sizeof(trailer);
    // An entry longer than what lies before it hides where the earlier
    // ones begin: the walk ends there.
    if (trailer.Length > data || JournalPadded(trailer.Length) > data) break;
    const std::size_t start = data - JournalPadded(trailer.Length);
    if (trailer.Offset <= view_length && trailer.Length <= view_length - trailer.Offset) {
      std::memmove(view + trailer.Offset, entries + start, trailer.Length);
      ++replayed;
    }
    end = start;
  }
  return replayed;
}

void TakeOverJournal() noexcept {
  std::size_t journal_length = 0;
  JournalHeader* header = UsableJournal(&journal_length);
  if (header == nullptr) return;
  const uint32_t state = LoadJournalWord(*header, kJournalStateOffset);
  if (state == 0) return;
  ProcessState& process = HistAdminProcess();
  std::byte* view = process.view.load(std::memory_order_acquire);
  if (view == nullptr) return;  // left open for a taker with a view
  if ((state & kJournalBytesMask) != 0) {
    (void)ReplayJournal(reinterpret_cast<std::byte*>(header), journal_length, view,
                        process.view_length.load(std::memory_order_acquire),
                        state & kJournalBytesMask);
    ForgetFreeSlotHints();
    // Replayed again from the start if this taker dies before the close.
    (void)FlushHistAdminView();
  }
  if (const uint32_t kind = state >> kJournalTransferShift; kind != 0) {
    StoreJournalWord(*header, offsetof(JournalHeader, Interrupted), kind);
  }
  StoreJournalWord(*header, offsetof(JournalHeader, Takeovers),
                   LoadJournalWord(*header, offsetof(JournalHeader, Takeovers)) + 1);
  StoreJournalWord(*header, kJournalStateOffset, 0);
}

}  // namespace kha
