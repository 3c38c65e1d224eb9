// The general allocator under any sequence of requests: each input byte
// group is one operation on one of 64 slots, checked against what the slot
// must hold. A wrong byte, an overlap or a misaligned block stops the run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filled_slot.h"
#include "q4_lea_malloc.h"

namespace {

void hold(Slot& s, void* p, size_t size, size_t alignment, unsigned char fill) {
  if (!p) return;
  if (reinterpret_cast<uintptr_t>(p) % alignment != 0 || dlmalloc_usable_size(p) < size) abort();
  s = Slot{static_cast<unsigned char*>(p), size, fill};
  memset(p, fill, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Slot slots[64] = {};
  for (size_t at = 0; at + 4 <= size; at += 4) {
    const uint8_t op = data[at] % 8;
    Slot& slot = slots[data[at + 1] % 64];
    // Sizes up to 1 MiB, mostly small: the top two bits pick the scale.
    const unsigned raw = data[at + 2] | data[at + 3] << 8;
    const size_t n = (raw & 0x3FFF) << ((raw >> 14) * 2);
    const unsigned char fill = static_cast<unsigned char>(at | 1);
    if (slot.p) check(slot);
    switch (op) {
      case 0:
      case 1:
        if (slot.p) dlfree(slot.p);
        slot = Slot{};
        hold(slot, dlmalloc(n), n, 16, fill);
        break;
      case 2:
        if (slot.p) {
          const Slot old = slot;
          unsigned char* p = static_cast<unsigned char*>(dlrealloc(old.p, n));
          if (!p) break;
          check_kept(p, old, n);
          hold(slot, p, n, 16, fill);
        }
        break;
      case 3: {
        if (slot.p) dlfree(slot.p);
        slot = Slot{};
        const size_t alignment = size_t{1} << (data[at + 1] % 13);
        hold(slot, dlmemalign(alignment, n), n, std::max<size_t>(alignment, 16), fill);
        break;
      }
      case 4:
        if (slot.p) dlfree(slot.p);
        slot = Slot{};
        if (unsigned char* p = static_cast<unsigned char*>(dlcalloc(1, n))) {
          if (std::count(p, p + n, 0) != static_cast<long>(n)) abort();
          hold(slot, p, n, 16, fill);
        }
        break;
      case 5:
        dlmalloc_trim(n);
        break;
      default:
        if (slot.p) dlfree(slot.p);
        slot = Slot{};
        break;
    }
  }
  for (Slot& s : slots) {
    if (!s.p) continue;
    check(s);
    for (const Slot& other : slots)
      if (&other != &s && other.p && other.p < s.p + s.size && s.p < other.p + other.size) abort();
  }
  for (Slot& s : slots)
    if (s.p) dlfree(s.p);
  return 0;
}
