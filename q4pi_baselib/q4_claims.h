#ifndef Q4_CLAIMS_H
#define Q4_CLAIMS_H

#include <atomic>
#include <cstdint>

// The one way work is claimed in the project: indices begin..end-1 handed
// out in order to whichever thread asks next. The worker pool hands out the
// indices of a run past its runners' own with it, the host bands their
// bands (member_bands.h), and the long passes their lines in chunks
// (row_chunks.h).
//
// The next index and the end travel in one word, so a claim is measured
// against the end that was set with the count it advances: a thread that
// comes late to a reset claims from the new range, never past it. A claimer
// stops at its first refusal, so the count passes the end by no more than
// the number of claimers.
struct ClaimWord {
  uint32_t next;
  uint32_t end;

  static ClaimWord decode(uint64_t word) {
    return ClaimWord{static_cast<uint32_t>(word), static_cast<uint32_t>(word >> 32)};
  }
  // A claim adds one to the whole word: the next index is its low half.
  uint64_t encode() const { return static_cast<uint64_t>(end) << 32 | next; }
};

class Claims {
 public:
  // Indices begin..end-1 from now on; none when end <= begin. What the
  // claimers read is written before the reset.
  void reset(int begin, int end) {
    const uint32_t low = begin > 0 ? static_cast<uint32_t>(begin) : 0;
    const uint32_t high = end > static_cast<int>(low) ? static_cast<uint32_t>(end) : low;
    word_.store(ClaimWord{low, high}.encode(), std::memory_order_release);
  }

  // The next index; false when none is left.
  bool claim(int& index) {
    const ClaimWord word = ClaimWord::decode(word_.fetch_add(1, std::memory_order_acq_rel));
    if (word.next >= word.end) return false;
    index = static_cast<int>(word.next);
    return true;
  }

 private:
  std::atomic<uint64_t> word_{0};
};

#endif
