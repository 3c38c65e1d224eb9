#include "image_delace.h"

#include <cstring>

#include "image_pixel.h"

namespace {

template <typename T>
T mean_of(T a, T b) {
  if constexpr (std::is_same<T, float>::value)
    return (a + b) * 0.5f;
  else if constexpr (sizeof(T) == 4)
    return static_cast<T>((a >> 1) + (b >> 1));  // the sum would not fit
  else
    return static_cast<T>((a + b) >> 1);
}

template <typename T>
void rebuild_rows(image_data* img, int parity) {
  const int n = img->width * img->channels;
  const int last = img->height - 1;
  for (int r = parity; r <= last; r += 2) {
    const T* a = reinterpret_cast<const T*>(image_row(img, r == 0 ? r : r - 1));
    const T* b = reinterpret_cast<const T*>(image_row(img, r == last ? r : r + 1));
    T* out = reinterpret_cast<T*>(image_row(img, r));
    for (int i = 0; i < n; ++i) out[i] = mean_of<T>(a[i], b[i]);
  }
}

}  // namespace

bool image_delace(image_data* src, image_data* dst, int field, bool flip1, bool flip2) {
  if (!image_data_same_layout(src, dst) || !image_data_copy(src, dst)) return false;
  const int parity = (field == 1) ^ flip1 ^ flip2;
  image_with_sample_type(dst->pixel_type, [&](auto zero) { rebuild_rows<decltype(zero)>(dst, parity); });
  return true;
}

bool image_relace(image_data* field0, image_data* field1, image_data* dst, bool flip1, bool flip2) {
  if (!image_data_same_layout(field0, field1) || !image_data_same_layout(field0, dst)) return false;
  image_data* fields[] = {field0, field1};
  for (int k = 0; k < 2; ++k) {
    // The parity that delacing field k with these flags kept.
    const int kept = (k == 1) ^ flip1 ^ flip2 ^ 1;
    if (fields[k]->pixels == dst->pixels) continue;  // relacing into a field: its kept rows are in place
    for (int r = kept; r < dst->height; r += 2) std::memcpy(image_row(dst, r), image_row(fields[k], r), dst->row_bytes);
  }
  return true;
}
