#include "image_arith.h"

#include <cmath>

#include "image_pixel.h"

namespace {

enum { OP_ADD = 1, OP_SUBTRACT = 2, OP_MULTIPLY = 3, OP_MULTIPLY_NORM = 4, OP_DIVIDE = 5 };
const int kMaxVectorChannels = 64;
const unsigned kAllChannels = 0xFFFFFFFFu;

// The entry points prepare the operands once (negated for subtract, the
// reciprocal for divide), so the workers only add or multiply.
struct arith_args {
  int op;
  double scalar;
  double values[kMaxVectorChannels];
  unsigned mask;
  image_data* image;
  image_data* other;
};

bool selected(unsigned mask, int c) { return (mask >> (c & 31)) & 1u; }

template <typename T, bool Add>
inline T apply(T x, double s) {
  return image_store_round<T>(Add ? static_cast<double>(x) + s : static_cast<double>(x) * s);
}

// per_channel null: the scalar serves every channel.
template <typename T, bool Add>
void operand_rows(const arith_args* a, int first, int last, const double* per_channel) {
  const image_data* img = a->image;
  const int ch = img->channels;
  const int w = img->width;
  const bool every = a->mask == kAllChannels && !per_channel;
  for (int y = first; y <= last; ++y) {
    T* row = reinterpret_cast<T*>(image_row(img, y));
    if (every) {
      const double s = a->scalar;
      for (int i = 0, n = w * ch; i < n; ++i) row[i] = apply<T, Add>(row[i], s);
      continue;
    }
    for (int x = 0; x < w; ++x, row += ch)
      for (int c = 0; c < ch; ++c)
        if (selected(a->mask, c)) row[c] = apply<T, Add>(row[c], per_channel ? per_channel[c] : a->scalar);
  }
}

void operand_worker(const arith_args* a, int first, int last, const double* per_channel) {
  const bool add = a->op == OP_ADD || a->op == OP_SUBTRACT;
  if (!add && a->op != OP_MULTIPLY && a->op != OP_DIVIDE) return;
  image_with_sample_type(a->image->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    if (add)
      operand_rows<T, true>(a, first, last, per_channel);
    else
      operand_rows<T, false>(a, first, last, per_channel);
  });
}

// x op y for one sample pair of the image forms.
template <typename T, int Op>
inline T combine(T x, T y) {
  if constexpr (std::is_same<T, float>::value) {
    const double a = x, b = y;
    switch (Op) {
      case OP_ADD: return static_cast<float>(a + b);
      case OP_SUBTRACT: return static_cast<float>(a - b);
      case OP_DIVIDE: return std::fabs(b) > 1e-6 ? static_cast<float>(a * (1.0 / b)) : x;
      default: return static_cast<float>(a * b);  // multiply and multiply_norm
    }
  } else if constexpr (sizeof(T) <= 2) {
    const double limit = image_sample_limit<T>();
    // 64-bit products: 65535 x 65535 does not fit a signed 32-bit int.
    const int64_t a = x, b = y;
    switch (Op) {
      case OP_ADD: return image_store_trunc<T>(static_cast<double>(a + b));
      case OP_SUBTRACT: return image_store_trunc<T>(static_cast<double>(a - b));
      case OP_MULTIPLY: return image_store_trunc<T>(static_cast<double>(a * b));
      case OP_MULTIPLY_NORM: {
        const double k = static_cast<float>(1.0 / limit);
        return image_store_round<T>(static_cast<double>(x) * y * k);
      }
      default: return b == 0 ? static_cast<T>(limit) : static_cast<T>(a / b);
    }
  } else {
    const double limit = image_sample_limit<T>();
    const double a = x, b = y;
    switch (Op) {
      case OP_ADD: return image_store_round<T>(a + b);
      case OP_SUBTRACT: return image_store_round<T>(a - b);
      case OP_MULTIPLY: return image_store_round<T>(a * b);
      case OP_MULTIPLY_NORM: return image_store_round<T>(a * b * static_cast<double>(static_cast<float>(1.0 / limit)));
      default: return b == 0.0 ? static_cast<T>(limit) : image_store_round<T>(a * (1.0 / b));
    }
  }
}

template <typename T, int Op>
void image_rows(const arith_args* a, int first, int last) {
  const image_data* img = a->image;
  const int ch = img->channels;
  const int w = img->width;
  const bool every = a->mask == kAllChannels;
  for (int y = first; y <= last; ++y) {
    T* row = reinterpret_cast<T*>(image_row(img, y));
    const T* other = reinterpret_cast<const T*>(image_row(a->other, y));
    if (every) {
      for (int i = 0, n = w * ch; i < n; ++i) row[i] = combine<T, Op>(row[i], other[i]);
      continue;
    }
    for (int i = 0, n = w * ch; i < n; ++i)
      if (selected(a->mask, i % ch)) row[i] = combine<T, Op>(row[i], other[i]);
  }
}

void image_worker(const arith_args* a, int first, int last) {
  image_with_sample_type(a->image->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    switch (a->op) {
      case OP_ADD: image_rows<T, OP_ADD>(a, first, last); break;
      case OP_SUBTRACT: image_rows<T, OP_SUBTRACT>(a, first, last); break;
      case OP_MULTIPLY: image_rows<T, OP_MULTIPLY>(a, first, last); break;
      case OP_MULTIPLY_NORM: image_rows<T, OP_MULTIPLY_NORM>(a, first, last); break;
      case OP_DIVIDE: image_rows<T, OP_DIVIDE>(a, first, last); break;
      default: break;
    }
  });
}

double prepared(int op, double s) {
  if (op == OP_SUBTRACT) return -s;
  if (op == OP_DIVIDE) return std::fabs(s) >= 1e-10 ? 1.0 / s : 1.0;
  return s;
}

bool usable(const image_data* img) { return img && img->pixels; }

}  // namespace

// The band workers: every sample, or those whose channel bit is set in the
// mask (all ones for the unmasked forms).
void mp_scalar_arith_ops(void* object, int first, int last) {
  operand_worker(static_cast<const arith_args*>(object), first, last, nullptr);
}

void mp_masked_vector_arith_ops(void* object, int first, int last) {
  const arith_args* a = static_cast<const arith_args*>(object);
  operand_worker(a, first, last, a->values);
}

void mp_image_arith_ops(void* object, int first, int last) {
  image_worker(static_cast<const arith_args*>(object), first, last);
}

namespace {

bool scalar_op(image_data* img, int op, double s, unsigned mask) {
  if (!usable(img)) return false;
  arith_args a{};
  a.op = op;
  a.scalar = prepared(op, s);
  a.mask = mask;
  a.image = img;
  imagelib_dispatch(mp_scalar_arith_ops, img->height, &a);
  return true;
}

bool vector_op(image_data* img, int op, const double* values, int count, unsigned mask) {
  if (!usable(img) || !values || count < 1 || img->channels > kMaxVectorChannels) return false;
  arith_args a{};
  a.op = op;
  a.mask = mask;
  a.image = img;
  for (int c = 0; c < img->channels; ++c) a.values[c] = prepared(op, values[c < count ? c : count - 1]);
  imagelib_dispatch(mp_masked_vector_arith_ops, img->height, &a);
  return true;
}

bool image_op(image_data* img, int op, image_data* other, unsigned mask) {
  if (!image_data_same_layout(img, other)) return false;
  arith_args a{};
  a.op = op;
  a.mask = mask;
  a.image = img;
  a.other = other;
  imagelib_dispatch(mp_image_arith_ops, img->height, &a);
  return true;
}

template <typename T>
void difference_rows(image_data* dst, const image_data* a, const image_data* b) {
  const int n = dst->width * dst->channels;
  for (int y = 0; y < dst->height; ++y) {
    const T* pa = reinterpret_cast<const T*>(image_row(a, y));
    const T* pb = reinterpret_cast<const T*>(image_row(b, y));
    T* out = reinterpret_cast<T*>(image_row(dst, y));
    for (int i = 0; i < n; ++i) {
      if constexpr (std::is_same<T, float>::value)
        out[i] = std::fabs(pa[i] - pb[i]);
      else if constexpr (sizeof(T) == 4)
        out[i] = static_cast<T>(std::fabs(static_cast<double>(pa[i]) - static_cast<double>(pb[i])));
      else
        out[i] = static_cast<T>(pa[i] > pb[i] ? pa[i] - pb[i] : pb[i] - pa[i]);
    }
  }
}

}  // namespace

bool image_add(image_data* img, double s) { return scalar_op(img, OP_ADD, s, kAllChannels); }
bool image_subtract(image_data* img, double s) {
  return scalar_op(img, OP_SUBTRACT, s, kAllChannels);
}
bool image_multiply(image_data* img, double s) {
  return scalar_op(img, OP_MULTIPLY, s, kAllChannels);
}
bool image_divide(image_data* img, double s) { return scalar_op(img, OP_DIVIDE, s, kAllChannels); }

bool image_add(image_data* img, double s, unsigned int mask) {
  return scalar_op(img, OP_ADD, s, mask);
}
bool image_subtract(image_data* img, double s, unsigned int mask) {
  return scalar_op(img, OP_SUBTRACT, s, mask);
}
bool image_multiply(image_data* img, double s, unsigned int mask) {
  return scalar_op(img, OP_MULTIPLY, s, mask);
}
bool image_divide(image_data* img, double s, unsigned int mask) {
  return scalar_op(img, OP_DIVIDE, s, mask);
}

bool image_add(image_data* img, double* values, int count, unsigned int mask) {
  return vector_op(img, OP_ADD, values, count, mask);
}
bool image_subtract(image_data* img, double* values, int count, unsigned int mask) {
  return vector_op(img, OP_SUBTRACT, values, count, mask);
}
bool image_multiply(image_data* img, double* values, int count, unsigned int mask) {
  return vector_op(img, OP_MULTIPLY, values, count, mask);
}
bool image_divide(image_data* img, double* values, int count, unsigned int mask) {
  return vector_op(img, OP_DIVIDE, values, count, mask);
}

bool image_add(image_data* img, image_data* other) {
  return image_op(img, OP_ADD, other, kAllChannels);
}
bool image_subtract(image_data* img, image_data* other) {
  return image_op(img, OP_SUBTRACT, other, kAllChannels);
}
bool image_multiply(image_data* img, image_data* other) {
  return image_op(img, OP_MULTIPLY, other, kAllChannels);
}
bool image_multiply_norm(image_data* img, image_data* other) {
  return image_op(img, OP_MULTIPLY_NORM, other, kAllChannels);
}
bool image_divide(image_data* img, image_data* other) {
  return image_op(img, OP_DIVIDE, other, kAllChannels);
}

bool image_add(image_data* img, image_data* other, unsigned int mask) {
  return image_op(img, OP_ADD, other, mask);
}
bool image_subtract(image_data* img, image_data* other, unsigned int mask) {
  return image_op(img, OP_SUBTRACT, other, mask);
}
bool image_multiply(image_data* img, image_data* other, unsigned int mask) {
  return image_op(img, OP_MULTIPLY, other, mask);
}
bool image_multiply_norm(image_data* img, image_data* other, unsigned int mask) {
  return image_op(img, OP_MULTIPLY_NORM, other, mask);
}
bool image_divide(image_data* img, image_data* other, unsigned int mask) {
  return image_op(img, OP_DIVIDE, other, mask);
}

bool image_difference(image_data* dst, image_data* a, image_data* b) {
  if (!image_data_same_layout(dst, a) || !image_data_same_layout(dst, b)) return false;
  return image_with_sample_type(dst->pixel_type, [&](auto zero) { difference_rows<decltype(zero)>(dst, a, b); });
}
