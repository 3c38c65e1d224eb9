// Run-length coding of SGI image rows and the byte-order helpers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sgi_image.h"

namespace {

// The first k from i with v[k] == v[k + 1] == v[k + 2], or n - 2 when
// there is none (i when fewer than three values remain).
template <typename In>
size_t triple(const In* v, size_t i, size_t n) {
  size_t k = i;
  while (k + 2 < n && (v[k] != v[k + 1] || v[k + 1] != v[k + 2])) ++k;
  return k + 2 < n ? k : std::max(i, n >= 2 ? n - 2 : i);
}

// 16-bit values four at a time: a lane of (a ^ b) | (b ^ c) that is zero
// marks three equal values.
template <>
size_t triple(const uint16_t* v, size_t i, size_t n) {
  const uint64_t ones = 0x0001000100010001ull, highs = 0x8000800080008000ull;
  size_t k = i;
  for (; k + 6 < n; k += 4) {
    uint64_t a, b, c;
    memcpy(&a, v + k, 8);
    memcpy(&b, v + k + 1, 8);
    memcpy(&c, v + k + 2, 8);
    const uint64_t t = (a ^ b) | (b ^ c);
    const uint64_t zero = (t - ones) & ~t & highs;
    // The lowest flagged lane is exact; borrows only flag lanes above it.
    if (zero) return k + __builtin_ctzll(zero) / 16;
  }
  while (k + 2 < n && (v[k] != v[k + 1] || v[k + 1] != v[k + 2])) ++k;
  return k + 2 < n ? k : std::max(i, n >= 2 ? n - 2 : i);
}

// Packets of at most 126 values: literal stretches until three equal values
// begin or two values remain, then the run of the value there.
template <typename In, typename Out>
long compact(const In* v, Out* out, size_t n) {
  Out* o = out;
  auto emit = [&o](size_t count, bool literal, const In* from) {
    while (count) {
      const size_t todo = count > 126 ? 126 : count;
      count -= todo;
      *o++ = static_cast<Out>(literal ? 0x80 | todo : todo);
      if (literal) {
        for (size_t k = 0; k < todo; ++k) *o++ = static_cast<Out>(*from++);
      } else {
        *o++ = static_cast<Out>(*from);
      }
    }
  };
  size_t i = 0;
  while (i < n) {
    const size_t start = i;
    const size_t j = triple(v, i, n);
    emit(j - start, true, v + start);
    i = j + 1;
    while (i < n && v[i] == v[j]) ++i;
    emit(i - j, false, v + j);
  }
  *o++ = 0;
  return static_cast<long>(o - out);
}

template <typename In, typename Out>
long expand(const In* in, size_t in_count, Out* out, size_t out_count) {
  size_t i = 0, o = 0;
  while (i < in_count) {
    const unsigned header = in[i++];
    const size_t count = header & 0x7f;
    if (count == 0) return static_cast<long>(o);
    if (o + count > out_count) return -1;
    if (header & 0x80) {
      if (count > in_count - i) return -1;
      for (size_t k = 0; k < count; ++k) out[o++] = static_cast<Out>(in[i++]);
    } else {
      if (i >= in_count) return -1;
      const Out value = static_cast<Out>(in[i++]);
      for (size_t k = 0; k < count; ++k) out[o++] = value;
    }
  }
  // Rows whose coded bytes end without the mark.
  return static_cast<long>(o);
}

// Calls f with typed pointers for the four pairs of unit sizes; false for
// any other pair.
template <typename F>
bool with_units(const void* in, int in_unit, void* out, int out_unit, F f) {
  const bool in1 = in_unit == 1, in2 = in_unit == 2, out1 = out_unit == 1, out2 = out_unit == 2;
  if (in1 && out1) f(static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out));
  else if (in1 && out2) f(static_cast<const uint8_t*>(in), static_cast<uint16_t*>(out));
  else if (in2 && out1) f(static_cast<const uint16_t*>(in), static_cast<uint8_t*>(out));
  else if (in2 && out2) f(static_cast<const uint16_t*>(in), static_cast<uint16_t*>(out));
  else return false;
  return true;
}

}  // namespace

long img_rle_compact(const void* in, int in_unit, void* out, int out_unit, size_t count) {
  long units = -1;
  if (!with_units(in, in_unit, out, out_unit, [&](auto i, auto o) { units = compact(i, o, count); }))
    snprintf(g_errbuf, sizeof g_errbuf, "rle_compact: bad bpp: %d %d\n", in_unit, out_unit);
  return units;
}

long img_rle_expand(const void* in, int in_unit, size_t in_count, void* out, int out_unit,
                    size_t out_count) {
  long values = -1;
  if (!with_units(in, in_unit, out, out_unit,
                  [&](auto i, auto o) { values = expand(i, in_count, o, out_count); }))
    snprintf(g_errbuf, sizeof g_errbuf, "rle_expand: bad bpp: %d %d\n", in_unit, out_unit);
  return values;
}

void cvtshorts(void* buffer, size_t bytes) {
  uint16_t* v = static_cast<uint16_t*>(buffer);
  for (size_t i = 0; i < bytes / 2; ++i) v[i] = __builtin_bswap16(v[i]);
}

void cvtlongs(void* buffer, size_t bytes) {
  uint32_t* v = static_cast<uint32_t*>(buffer);
  for (size_t i = 0; i < bytes / 4; ++i) v[i] = reverse(v[i]);
}

uint32_t reverse(uint32_t value) { return __builtin_bswap32(value); }

void cvtimage(SgiImage* image) {
  for (uint16_t* field : {&image->imagic, &image->type, &image->dim, &image->xsize, &image->ysize, &image->zsize})
    *field = __builtin_bswap16(*field);
  for (uint32_t* field : {&image->min, &image->max, &image->wastebytes, &image->colormap}) *field = reverse(*field);
}
