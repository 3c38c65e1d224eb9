// The free bins of the general allocator. Small chunks (below 256 bytes)
// sit in circular lists of one exact size each; larger ones in 32 tries
// keyed by size ranges, each trie descending on the size's bits below its
// range, with chunks of equal size chained behind one trie node.
#include <cstdlib>

#include "q4_lea_state.h"

namespace lea {

namespace {

// The parent of a trie's root, so that a null parent marks a chained chunk.
Chunk root_parent;

Chunk* small_head(int index) { return &heap.small_heads[index]; }

int tree_index(size_t size) {
  const size_t x = size >> tree_shift;
  if (x == 0) return 0;
  if (x > 0xFFFF) return tree_bins - 1;
  const int k = 31 - __builtin_clz(static_cast<unsigned>(x));
  return 2 * k + static_cast<int>((size >> (k + tree_shift - 1)) & 1);
}

// Shifts a size so that the first bit the trie of `index` branches on is
// the top bit.
int trie_shift(int index) {
  return index == tree_bins - 1 ? 0 : static_cast<int>(sizeof(size_t) * 8 - 1) - ((index >> 1) + tree_shift - 2);
}

int top_bit(size_t bits) { return static_cast<int>((bits >> (sizeof(size_t) * 8 - 1)) & 1); }

Chunk* leftmost_child(Chunk* t) { return t->child[0] ? t->child[0] : t->child[1]; }

void insert_small(Chunk* p, size_t size) {
  const int index = static_cast<int>(size >> small_shift);
  Chunk* head = small_head(index);
  Chunk* first = head;
  if (heap.small_map & bit(index)) {
    first = head->fd;
    if (!ok_address(first)) corruption();
  } else {
    heap.small_map |= bit(index);
  }
  head->fd = first->bk = p;
  p->fd = first;
  p->bk = head;
}

void unlink_small(Chunk* p, size_t size) {
  Chunk* forward = p->fd;
  Chunk* back = p->bk;
  if (forward->bk != p || back->fd != p) corruption();
  if (forward == back) {  // p was the only chunk: both are the head
    heap.small_map &= ~bit(static_cast<int>(size >> small_shift));
  } else {
    forward->bk = back;
    back->fd = forward;
  }
}

void insert_large(Chunk* x, size_t size) {
  const int index = tree_index(size);
  Chunk** root = &heap.tree_roots[index];
  x->index = index;
  x->child[0] = x->child[1] = nullptr;
  if (!(heap.tree_map & bit(index))) {
    heap.tree_map |= bit(index);
    *root = x;
    x->parent = &root_parent;
    x->fd = x->bk = x;
    return;
  }
  Chunk* t = *root;
  size_t bits = size << trie_shift(index);
  for (;;) {
    if (size_of(t) == size) {
      Chunk* forward = t->fd;
      if (!ok_address(forward)) corruption();
      t->fd = forward->bk = x;
      x->fd = forward;
      x->bk = t;
      x->parent = nullptr;
      return;
    }
    Chunk** slot = &t->child[top_bit(bits)];
    bits <<= 1;
    if (!*slot) {
      *slot = x;
      x->parent = t;
      x->fd = x->bk = x;
      return;
    }
    t = *slot;
  }
}

// Splits `nb` bytes off a free chunk just taken out of its bin: a
// remainder too small for a chunk stays with it.
void* split_off(Chunk* v, size_t nb, size_t remainder, bool remainder_to_dv) {
  if (remainder < min_chunk) {
    set_inuse_and_pinuse(v, remainder + nb);
  } else {
    Chunk* rest = at_offset(v, nb);
    set_size_and_pinuse_of_inuse_chunk(v, nb);
    set_size_and_pinuse_of_free_chunk(rest, remainder);
    if (remainder_to_dv)
      replace_dv(rest, remainder);
    else
      insert_chunk(rest, remainder);
  }
  return chunk_to_mem(v);
}

}  // namespace

[[noreturn]] void corruption() { abort(); }

void init_bins() {
  for (int i = 0; i < small_bins; ++i) small_head(i)->fd = small_head(i)->bk = small_head(i);
}

void unlink_large(Chunk* x) {
  Chunk* parent = x->parent;
  Chunk* replacement;
  if (x->bk != x) {
    // A chunk of the same size takes x's place.
    Chunk* forward = x->fd;
    replacement = x->bk;
    if (forward->bk != x || replacement->fd != x) corruption();
    forward->bk = replacement;
    replacement->fd = forward;
  } else {
    // The deepest descendant takes x's place.
    Chunk** slot = &x->child[1];
    replacement = *slot;
    if (!replacement) replacement = *(slot = &x->child[0]);
    if (replacement) {
      for (;;) {
        Chunk** below = &replacement->child[1];
        if (!*below) below = &replacement->child[0];
        if (!*below) break;
        slot = below;
        replacement = *slot;
      }
      *slot = nullptr;
    }
  }
  if (!parent) return;  // x was chained behind a trie node
  Chunk** root = &heap.tree_roots[x->index];
  if (x == *root) {
    *root = replacement;
    if (!replacement) heap.tree_map &= ~bit(x->index);
  } else if (parent->child[0] == x) {
    parent->child[0] = replacement;
  } else {
    parent->child[1] = replacement;
  }
  if (!replacement) return;
  replacement->parent = parent;
  replacement->index = x->index;
  for (int side = 0; side < 2; ++side) {
    if (Chunk* child = x->child[side]) {
      replacement->child[side] = child;
      child->parent = replacement;
    }
  }
}

void insert_chunk(Chunk* p, size_t size) {
  if (is_small(size))
    insert_small(p, size);
  else
    insert_large(p, size);
}

void unlink_chunk(Chunk* p, size_t size) {
  if (is_small(size))
    unlink_small(p, size);
  else
    unlink_large(p);
}

void unlink_first_small(int index, Chunk* p) {
  Chunk* head = small_head(index);
  Chunk* forward = p->fd;
  if (head->fd != p || forward->bk != p) corruption();
  if (forward == head) {
    heap.small_map &= ~bit(index);
  } else {
    head->fd = forward;
    forward->bk = head;
  }
}

void replace_dv(Chunk* p, size_t size) {
  if (heap.dv_size) insert_chunk(heap.dv, heap.dv_size);
  heap.dv_size = size;
  heap.dv = p;
}

// The smallest chunk of the smallest non-empty trie, for a small request
// that no small bin can serve; its remainder becomes the designated victim.
void* take_small_from_tree(size_t nb) {
  Chunk* t = heap.tree_roots[lowest_bit_index(heap.tree_map)];
  Chunk* best = t;
  size_t remainder = size_of(t) - nb;
  // The smallest size below a node lies on the path of leftmost children.
  while ((t = leftmost_child(t))) {
    const size_t left = size_of(t) - nb;
    if (left < remainder) {
      remainder = left;
      best = t;
    }
  }
  unlink_large(best);
  return split_off(best, nb, remainder, true);
}

// The best fit of at least nb bytes from the tries, taken only when it
// leaves less than the designated victim would.
void* take_large(size_t nb) {
  Chunk* best = nullptr;
  size_t remainder = 0 - nb;  // unsigned: larger than any real remainder
  const int index = tree_index(nb);
  Chunk* t = heap.tree_roots[index];
  if (t) {
    // Descend along nb's bits, remembering the last right subtree passed
    // by: it holds the next larger sizes when the path runs out.
    size_t bits = nb << trie_shift(index);
    Chunk* right_turn = nullptr;
    for (;;) {
      const size_t left = size_of(t) - nb;
      if (left < remainder) {
        best = t;
        remainder = left;
        if (remainder == 0) break;
      }
      Chunk* right = t->child[1];
      t = t->child[top_bit(bits)];
      if (right && right != t) right_turn = right;
      if (!t) {
        t = right_turn;
        break;
      }
      bits <<= 1;
    }
  }
  if (!t && !best) {
    const unsigned larger = bits_above(bit(index)) & heap.tree_map;
    if (larger) t = heap.tree_roots[lowest_bit_index(larger)];
  }
  while (t) {
    const size_t left = size_of(t) - nb;
    if (left < remainder) {
      remainder = left;
      best = t;
    }
    t = leftmost_child(t);
  }
  if (!best || remainder >= heap.dv_size - nb) return nullptr;
  unlink_large(best);
  return split_off(best, nb, remainder, false);
}

}  // namespace lea
