#include "field_storage.h"

#include <cstdint>
#include <cstring>

#include "q4_memory.h"

namespace {

void order(int& a, int& b) {
  if (a > b) {
    const int t = a;
    a = b;
    b = t;
  }
}

int clamp_bound(int v, int stored) {
  if (v < 0) return 0;
  return v >= stored ? stored - 1 : v;
}

}  // namespace

int field_cell_count(int method, int nx, int ny) {
  const int64_t cells = static_cast<int64_t>(field_stride(method, nx)) * field_stride(method, ny);
  // Indices are ints and blocks are sized in unsigned bytes: a grid whose
  // float block would not fit either gets no storage.
  if (cells <= 0 || cells > INT32_MAX / 8) return 0;
  return static_cast<int>(cells);
}

float* field_storage_new(int cells) {
  if (cells < 1) return nullptr;
  const unsigned bytes = static_cast<unsigned>(cells) * sizeof(float);
  float* block = static_cast<float*>(mem_align_alloc(bytes, 8, true));
  if (block) memset(block, 0, bytes);
  return block;
}

void field_storage_free(float* block) { mem_align_free(block, true); }

void field_set_label(char* label, const char* text) {
  memset(label, 0, FIELD_LABEL_SIZE);
  if (text) strncpy(label, text, FIELD_LABEL_SIZE - 1);
}

bool field_axis_bounds(int method, int n, int& first, int& end, int& ghost) {
  if (method != FIELD_FFT && method != FIELD_DIRECT) return false;
  ghost = method == FIELD_DIRECT ? 1 : 0;
  first = ghost;
  end = n + ghost;
  return true;
}

bool field_clamp_rectangle(int method, int nx, int ny, int& x0, int& y0, int& x1, int& y1) {
  const int w = field_stride(method, nx), h = field_stride(method, ny);
  if (w < 1 || h < 1) return false;
  order(x0, x1);
  order(y0, y1);
  x0 = clamp_bound(x0, w);
  x1 = clamp_bound(x1, w);
  y0 = clamp_bound(y0, h);
  y1 = clamp_bound(y1, h);
  return true;
}

void field_ghost_corners(float* d, int nx, int ny) {
  const int w = nx + 2;
  auto at = [&](int i, int j) -> float& { return d[j * w + i]; };
  at(0, 0) = 0.5f * (at(1, 0) + at(0, 1));
  at(nx + 1, 0) = 0.5f * (at(nx, 0) + at(nx + 1, 1));
  at(nx + 1, ny + 1) = 0.5f * (at(nx + 1, ny) + at(nx, ny + 1));
  at(0, ny + 1) = 0.5f * (at(0, ny) + at(1, ny + 1));
}

void field_continuity_boundaries(float* d, int nx, int ny) {
  const int w = nx + 2;
  float* first = d + w;
  float* last = d + ny * w;
  for (int i = 1; i <= nx; ++i) {
    d[i] = first[i];
    last[w + i] = last[i];
  }
  for (int j = 1; j <= ny; ++j) {
    float* row = d + j * w;
    row[0] = row[1];
    row[nx + 1] = row[nx];
  }
  field_ghost_corners(d, nx, ny);
}
