// Median cut over a histogram of 15-bit colour cells. Every run keeps its
// state in its own record: nothing of one image reaches the next.
#include "median_cut.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imgio_messages.h"
#include "q4_memory.h"

namespace {

enum { kKeys = 32768, kMaxBoxes = 256 };

struct Cell {
  uint16_t key;    // R5 << 10 | G5 << 5 | B5
  uint32_t count;  // pixels of this colour
  int box;
};

struct Box {
  int first;  // its cells: cells[first .. first + count)
  int count;
  uint64_t pixels;
  int min[3], max[3];  // of the top, middle and low fields
  int longest;
  int axis;
  int mean[3];  // 5-bit
};

int field(uint16_t key, int f) { return (key >> (10 - 5 * f)) & 31; }

void measure(Box& box, const Cell* cells) {
  for (int f = 0; f < 3; ++f) {
    box.min[f] = 31;
    box.max[f] = 0;
  }
  for (int i = box.first; i < box.first + box.count; ++i)
    for (int f = 0; f < 3; ++f) {
      box.min[f] = std::min(box.min[f], field(cells[i].key, f));
      box.max[f] = std::max(box.max[f], field(cells[i].key, f));
    }
  const int dr = box.max[0] - box.min[0], dg = box.max[1] - box.min[1], db = box.max[2] - box.min[2];
  // Ties go to the later axis.
  if (dr > dg && dr > db) {
    box.axis = 0;
    box.longest = dr;
  } else if (dg > db) {
    box.axis = 1;
    box.longest = dg;
  } else {
    box.axis = 2;
    box.longest = db;
  }
}

// The box's colour: its cells' fields weighted by the square of their
// counts, in 64 bits (a count of 46341 squared passes 31 bits).
void average(Box& box, const Cell* cells) {
  uint64_t weight = 0, sum[3] = {};
  for (int i = box.first; i < box.first + box.count; ++i) {
    const uint64_t w = uint64_t(cells[i].count) * cells[i].count;
    weight += w;
    for (int f = 0; f < 3; ++f) sum[f] += w * field(cells[i].key, f);
  }
  for (int f = 0; f < 3; ++f) box.mean[f] = weight ? int(sum[f] / weight) : 0;
}

struct Run {
  Cell* cells;     // kKeys: the present colours first, then made by dithering
  int cell_count;
  Cell** hist;     // kKeys: the cell of each key or null
  Box boxes[kMaxBoxes];
  int list[kMaxBoxes];  // box numbers, longest side first
  int list_size;
};

// Puts box b into the list before the first box whose longest side is not
// larger.
void insert(Run& run, int b) {
  int at = 0;
  while (at < run.list_size && run.boxes[run.list[at]].longest > run.boxes[b].longest) ++at;
  memmove(run.list + at + 1, run.list + at, sizeof(int) * (run.list_size - at));
  run.list[at] = b;
  ++run.list_size;
}

void split(Run& run, int max_colors) {
  const Cell* cells = run.cells;
  while (run.list_size < max_colors) {
    const int b = run.list[0];
    Box& box = run.boxes[b];
    if (box.longest < 1) break;
    // The sort field is the other end's for axes 0 and 2: colours were
    // always quantised so.
    const uint16_t mask = box.axis == 0 ? 0x1F : box.axis == 1 ? 0x3E0 : 0x7C00;
    Cell* begin = run.cells + box.first;
    std::sort(begin, begin + box.count,
              [mask](const Cell& a, const Cell& c) { return (a.key & mask) < (c.key & mask); });
    const uint64_t half = box.pixels / 2;
    uint64_t sum = 0;
    int at = 0;
    while (at < box.count && !(sum > 0 && sum + begin[at].count > half)) sum += begin[at++].count;
    const int fresh = run.list_size;
    Box& other = run.boxes[fresh];
    other.first = box.first + at;
    other.count = box.count - at;
    other.pixels = box.pixels - sum;
    box.count = at;
    box.pixels = sum;
    measure(box, cells);
    measure(other, cells);
    memmove(run.list, run.list + 1, sizeof(int) * (run.list_size - 1));
    --run.list_size;
    insert(run, b);
    insert(run, fresh);
  }
}

uint16_t key_of(int r, int g, int b) { return uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); }

// The cell of a colour made during dithering: the box nearest by squared
// distance of the 5-bit colours, the first in list order on ties.
Cell* nearest_cell(Run& run, uint16_t key) {
  int best = -1;
  long best_distance = 0;
  for (int i = 0; i < run.list_size; ++i) {
    const Box& box = run.boxes[run.list[i]];
    long d = 0;
    for (int f = 0; f < 3; ++f) d += long(field(key, f) - box.mean[f]) * (field(key, f) - box.mean[f]);
    if (best < 0 || d < best_distance) {
      best = run.list[i];
      best_distance = d;
    }
  }
  Cell* cell = run.cells + run.cell_count++;
  *cell = Cell{key, 0, best};
  run.hist[key] = cell;
  return cell;
}

uint8_t clamp_index(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Floyd-Steinberg over the rows in buffer order, two rows of B, G, R.
bool dither(Run& run, const unsigned int* pixels, int width, int height, const int* palette, int base,
            uint8_t* out) {
  int16_t* rows = static_cast<int16_t*>(q4_malloc_c(unsigned(width) * 12, __FILE__, __LINE__));
  if (!rows) return false;
  int16_t* current = rows;
  int16_t* next = rows + 3 * width;
  auto load = [&](int16_t* row, int y, bool noise) {
    for (int x = 0; x < width; ++x) {
      const unsigned p = pixels[size_t(y) * width + x];
      for (int c = 0; c < 3; ++c) {
        int v = int((p >> (8 * (2 - c))) & 255);  // B, G, R
        if (noise) v = std::min(255, std::max(0, v + (rand() >> 27) - 8));
        row[3 * x + c] = int16_t(v);
      }
    }
  };
  load(current, 0, true);
  bool ok = true;
  for (int y = 0; y < height && ok; ++y) {
    const bool last_row = y == height - 1;
    if (!last_row) load(next, y + 1, false);
    for (int x = 0; x < width; ++x) {
      int16_t* v = current + 3 * x;
      const int smallest = std::min({v[0], v[1], v[2]});
      if (smallest < 0)
        for (int c = 0; c < 3; ++c) v[c] = int16_t(v[c] + smallest);
      const int largest = std::max({v[0], v[1], v[2]});
      if (largest > 255)
        for (int c = 0; c < 3; ++c) v[c] = int16_t(v[c] * 254.9 / largest);
      for (int c = 0; c < 3; ++c) v[c] = int16_t(std::min(255, std::max(0, int(v[c]))));
      const uint16_t key = key_of(v[2], v[1], v[0]);
      Cell* cell = run.hist[key];
      if (!cell) {
        if (run.list_size == 0) {
          messprintf(IMSSYS_FATAL, "MEDIANCUT: Colour box list is empty.\n");
          ok = false;
          break;
        }
        cell = nearest_cell(run, key);
      }
      const int index = cell->box;
      out[size_t(y) * width + x] = clamp_index(base + index);
      for (int c = 0; c < 3; ++c) {
        const int error = v[c] - palette[3 * index + 2 - c];
        if (x + 1 < width) current[3 * (x + 1) + c] = int16_t(current[3 * (x + 1) + c] + error * 7 / 16);
        if (last_row) continue;
        if (x > 0) next[3 * (x - 1) + c] = int16_t(next[3 * (x - 1) + c] + error * 3 / 16);
        next[3 * x + c] = int16_t(next[3 * x + c] + error * 5 / 16);
        if (x + 1 < width) next[3 * (x + 1) + c] = int16_t(next[3 * (x + 1) + c] + error / 16);
      }
    }
    std::swap(current, next);
  }
  q4_free_c(rows, __FILE__, __LINE__);
  return ok;
}

}  // namespace

uint8_t* med_cut_gen(const unsigned int* pixels, int width, int height, int dither_on, uint16_t* red,
                     uint16_t* green, uint16_t* blue, int max_colors, int base) {
  if (width < 1 || height < 1) return nullptr;
  const size_t count = size_t(width) * height;
  max_colors = std::max(1, std::min(max_colors, int(kMaxBoxes)));
  uint8_t* out = static_cast<uint8_t*>(q4_image_malloc_c(unsigned(count), __FILE__, __LINE__));
  Run* run = static_cast<Run*>(q4_calloc_c(1, sizeof(Run), __FILE__, __LINE__));
  uint32_t* counts = static_cast<uint32_t*>(q4_calloc_c(kKeys, 4, __FILE__, __LINE__));
  if (run) {
    run->cells = static_cast<Cell*>(q4_malloc_c(kKeys * sizeof(Cell), __FILE__, __LINE__));
    run->hist = static_cast<Cell**>(q4_calloc_c(kKeys, sizeof(Cell*), __FILE__, __LINE__));
  }
  bool ok = out && run && counts && run->cells && run->hist;
  if (!ok) messprintf(IMSSYS_FATAL, "MEDIANCUT: Cannot allocate the colour histogram.\n");
  if (ok) {
    for (size_t i = 0; i < count; ++i) {
      const unsigned p = pixels[i];
      ++counts[key_of(p & 255, (p >> 8) & 255, (p >> 16) & 255)];
    }
    for (int key = 0; key < kKeys; ++key)
      if (counts[key]) run->cells[run->cell_count++] = Cell{uint16_t(key), counts[key], 0};
    Box& all = run->boxes[0];
    all.first = 0;
    all.count = run->cell_count;
    all.pixels = count;
    measure(all, run->cells);
    run->list[0] = 0;
    run->list_size = 1;
    split(*run, max_colors);
    int palette[3 * kMaxBoxes] = {};
    for (int i = 0; i < run->list_size; ++i) {
      Box& box = run->boxes[run->list[i]];
      average(box, run->cells);
      for (int f = 0; f < 3; ++f) palette[3 * i + f] = (box.mean[f] * 8) % 256;
      for (int c = box.first; c < box.first + box.count; ++c) run->cells[c].box = i;
    }
    for (int i = 0; i < 256; ++i) {
      red[i] = uint16_t(palette[3 * i]);
      green[i] = uint16_t(palette[3 * i + 1]);
      blue[i] = uint16_t(palette[3 * i + 2]);
    }
    // Boxes by list position from here on, for the nearest-box search.
    Box ordered[kMaxBoxes];
    for (int i = 0; i < run->list_size; ++i) ordered[i] = run->boxes[run->list[i]];
    for (int i = 0; i < run->list_size; ++i) {
      run->boxes[i] = ordered[i];
      run->list[i] = i;
    }
    for (int i = 0; i < run->cell_count; ++i) run->hist[run->cells[i].key] = &run->cells[i];
    if (dither_on) {
      ok = dither(*run, pixels, width, height, palette, base, out);
    } else {
      for (size_t i = 0; i < count; ++i) {
        const unsigned p = pixels[i];
        out[i] = clamp_index(base + run->hist[key_of(p & 255, (p >> 8) & 255, (p >> 16) & 255)]->box);
      }
    }
  }
  if (run) {
    if (run->cells) q4_free_c(run->cells, __FILE__, __LINE__);
    if (run->hist) q4_free_c(run->hist, __FILE__, __LINE__);
    q4_free_c(run, __FILE__, __LINE__);
  }
  if (counts) q4_free_c(counts, __FILE__, __LINE__);
  if (!ok && out) {
    q4_image_free_c(out, __FILE__, __LINE__);
    out = nullptr;
  }
  return out;
}
