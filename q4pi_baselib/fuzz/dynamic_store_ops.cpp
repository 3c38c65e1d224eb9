// The buddy store under any sequence of requests, resizes and releases,
// checked against what each slot must hold; when everything is released the
// arena must be one free block again.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filled_slot.h"
#include "q4_dynamic_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  q4DynamicStore store(8 + data[0] % 12);
  Slot slots[32] = {};
  for (size_t at = 1; at + 3 <= size; at += 3) {
    Slot& slot = slots[data[at] % 32];
    const unsigned n = (data[at + 1] | data[at + 2] << 8) >> (data[at] >> 6);
    const unsigned char fill = static_cast<unsigned char>(at | 1);
    if (slot.p) check(slot);
    if (data[at] & 0x20) {
      if (slot.p && store.release(slot.p) != 0) abort();
      slot = Slot{};
    } else if (slot.p) {
      unsigned char* p = static_cast<unsigned char*>(store.resize_block(slot.p, n));
      if (p) {
        check_kept(p, slot, n);
        slot = Slot{p, n, fill};
        memset(p, fill, n);
      }
    } else if (unsigned char* p = static_cast<unsigned char*>(store.allocate(n))) {
      slot = Slot{p, n, fill};
      memset(p, fill, n);
    }
  }
  for (Slot& s : slots) {
    if (!s.p) continue;
    check(s);
    if (store.release(s.p) != 0 || store.release(s.p) != 1) abort();
  }
  int arena, free, used, blocks;
  store.stats(arena, free, used, blocks, nullptr);
  if (free != arena || used != 0 || blocks != 1) abort();
  return 0;
}
