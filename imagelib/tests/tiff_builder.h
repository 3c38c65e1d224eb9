#ifndef IMAGELIB_TESTS_TIFF_BUILDER_H
#define IMAGELIB_TESTS_TIFF_BUILDER_H

// Lays out small TIFF files for the reader's tests, independently of the
// writer: header, one directory at offset 8, the values that do not fit in
// their entries, then the pixel data.

#include <cstdint>
#include <string>
#include <vector>

struct TiffEntry {
  uint16_t tag;
  uint16_t type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL (values in pairs)
  std::vector<uint32_t> values;
  bool data_relative = false;  // values are offsets into the pixel data
  int64_t count = -1;          // -1: as many as the values
};

struct TiffLayout {
  bool mm = false;
  uint32_t next_directory = 0;
  uint16_t magic = 42;
  std::vector<TiffEntry> entries;
  std::string pixels;  // already in the file's byte order
};

inline void put(std::string& out, uint32_t value, int bytes, bool mm) {
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (mm ? bytes - 1 - i : i);
    out += static_cast<char>((value >> shift) & 0xFF);
  }
}

inline int tiff_type_size(int type) { return type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1; }

inline std::string build_tiff(const TiffLayout& layout) {
  const bool mm = layout.mm;
  const size_t n = layout.entries.size();
  const uint32_t directory_end = 8 + 2 + 12 * static_cast<uint32_t>(n) + 4;
  std::string extra;
  std::vector<std::string> encoded(n);
  uint32_t extra_size = 0;
  for (size_t i = 0; i < n; ++i) {
    const TiffEntry& e = layout.entries[i];
    const int piece = e.type == 5 ? 4 : tiff_type_size(e.type);
    for (uint32_t v : e.values) put(encoded[i], v, piece, mm);
    if (encoded[i].size() > 4) extra_size += static_cast<uint32_t>(encoded[i].size());
  }
  const uint32_t data_start = directory_end + extra_size;
  std::string out = mm ? "MM" : "II";
  put(out, layout.magic, 2, mm);
  put(out, 8, 4, mm);
  put(out, static_cast<uint32_t>(n), 2, mm);
  uint32_t extra_at = directory_end;
  for (size_t i = 0; i < n; ++i) {
    const TiffEntry& e = layout.entries[i];
    std::string& bytes = encoded[i];
    if (e.data_relative) {
      bytes.clear();
      for (uint32_t v : e.values) put(bytes, v + data_start, tiff_type_size(e.type), mm);
    }
    const int64_t count =
        e.count >= 0 ? e.count : static_cast<int64_t>(e.type == 5 ? e.values.size() / 2 : e.values.size());
    put(out, e.tag, 2, mm);
    put(out, e.type, 2, mm);
    put(out, static_cast<uint32_t>(count), 4, mm);
    if (bytes.size() > 4) {
      put(out, extra_at, 4, mm);
      extra += bytes;
      extra_at += static_cast<uint32_t>(bytes.size());
    } else {
      out += bytes + std::string(4 - bytes.size(), '\0');
    }
  }
  put(out, layout.next_directory, 4, mm);
  return out + extra + layout.pixels;
}

// The entries of a contiguous, uncompressed picture of `rows` rows per strip
// (0: no RowsPerStrip tag, one strip), Orientation 4 unless given.
inline std::vector<TiffEntry> picture_entries(uint32_t width, uint32_t height, uint32_t samples,
                                              uint32_t bits, uint32_t rows, uint32_t orientation = 4) {
  const uint32_t row_bytes = width * samples * bits / 8;
  const uint32_t per_strip = rows ? rows : height;
  std::vector<uint32_t> offsets, counts;
  for (uint32_t y = 0; y < height; y += per_strip) {
    offsets.push_back(y * row_bytes);
    counts.push_back((y + per_strip <= height ? per_strip : height - y) * row_bytes);
  }
  std::vector<TiffEntry> entries = {
      {256, 3, {width}},
      {257, 4, {height}},
      {258, 3, std::vector<uint32_t>(samples, bits)},
      {259, 3, {1}},
      {262, 3, {samples == 1 ? 1u : 2u}},
      {273, 4, offsets, true},
      {274, 3, {orientation}},
      {277, 3, {samples}},
      {279, counts.size() == 2 ? uint16_t(3) : uint16_t(4), counts},
      {284, 3, {1}},
  };
  if (rows) entries.push_back({278, 3, {rows}});
  return entries;
}

inline TiffEntry* entry(std::vector<TiffEntry>& entries, uint16_t tag) {
  for (TiffEntry& e : entries)
    if (e.tag == tag) return &e;
  return nullptr;
}

#endif
