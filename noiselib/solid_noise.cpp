#include "solid_noise.h"

#include <algorithm>
#include <cmath>

#include "mtrandom.h"
#include "q4_memory.h"

namespace {

const int table_size = 256;
const float octave_step = 2.17f;

inline float smoothstep(float t) { return t * t * (3.0f - 2.0f * t); }

// Lattice cell and offset of one coordinate. The hash only looks at the cell
// index modulo 256, so it is reduced here; that keeps huge or non-finite
// coordinates from overflowing the integer conversion.
inline void lattice_cell(float v, int& cell, float& offset) {
  const float fl = std::floor(v);
  offset = v - fl;
  const float wrapped = fl - 256.0f * std::floor(fl * (1.0f / 256.0f));
  cell = (wrapped >= 0.0f && wrapped < 256.0f) ? static_cast<int>(wrapped) : 0;
}

}  // namespace

const unsigned char SolidNoise::permutation[256] = {
    225, 155, 210, 108, 175, 199, 221, 144, 203, 116, 70,  213, 69,  158, 33,  252,
    5,   82,  173, 133, 222, 139, 174, 27,  9,   71,  90,  246, 75,  130, 91,  191,
    169, 138, 2,   151, 194, 235, 81,  7,   25,  113, 228, 159, 205, 253, 134, 142,
    248, 65,  224, 217, 22,  121, 229, 63,  89,  103, 96,  104, 156, 17,  201, 129,
    36,  8,   165, 110, 237, 117, 231, 56,  132, 211, 152, 20,  181, 111, 239, 218,
    170, 163, 51,  172, 157, 47,  80,  212, 176, 250, 87,  49,  99,  242, 136, 189,
    162, 115, 44,  43,  124, 94,  150, 16,  141, 247, 32,  10,  198, 223, 255, 72,
    53,  131, 84,  57,  220, 197, 58,  50,  208, 11,  241, 28,  3,   192, 62,  202,
    18,  215, 153, 24,  76,  41,  15,  179, 39,  46,  55,  6,   128, 167, 23,  188,
    106, 34,  187, 140, 164, 73,  112, 182, 244, 195, 227, 13,  35,  77,  196, 185,
    26,  200, 226, 119, 31,  123, 168, 125, 249, 68,  183, 230, 177, 135, 160, 180,
    12,  1,   243, 148, 102, 166, 38,  238, 251, 37,  240, 126, 64,  74,  161, 40,
    184, 149, 171, 178, 101, 66,  29,  59,  146, 61,  254, 107, 42,  86,  154, 4,
    236, 232, 120, 21,  233, 209, 45,  98,  193, 114, 78,  19,  206, 14,  118, 127,
    48,  79,  147, 85,  30,  207, 219, 54,  88,  234, 190, 122, 95,  67,  143, 109,
    137, 214, 145, 93,  92,  100, 245, 0,   216, 186, 60,  83,  105, 97,  204, 52};

SolidNoise::SolidNoise(unsigned seed) : gradients(nullptr) {
  MTRandom random(seed);
  gradients = static_cast<float*>(q4_malloc(table_size * 3 * sizeof(float), __FILE__, __LINE__));
  if (!gradients) return;
  for (int e = 0; e < table_size; ++e) {
    const float z = 2.0f * random.float_random() - 1.0f;
    const float r = std::sqrt(std::max(1.0f - z * z, 0.0f));
    const float phi = random.float_random() * 6.2831855f;
    gradients[3 * e] = r * std::cos(phi);
    gradients[3 * e + 1] = r * std::sin(phi);
    gradients[3 * e + 2] = z;
  }
}

SolidNoise::~SolidNoise() {
  if (gradients) q4_free(gradients, __FILE__, __LINE__);
}

float SolidNoise::glattice(int i, int j, int k, float dx, float dy, float dz) const {
  if (!gradients) return 0.0f;
  const int h = permutation[(permutation[(permutation[k & 255] + j) & 255] + i) & 255];
  const float* g = gradients + 3 * h;
  return g[0] * dx + g[1] * dy + g[2] * dz;
}

float SolidNoise::GradientNoise(float x, float y, float z) const {
  if (!gradients) return 0.0f;
  int ix, iy, iz;
  float fx, fy, fz;
  lattice_cell(x, ix, fx);
  lattice_cell(y, iy, fy);
  lattice_cell(z, iz, fz);
  const float sx = smoothstep(fx), sy = smoothstep(fy), sz = smoothstep(fz);

  float f[2];
  for (int c = 0; c < 2; ++c) {
    float e[2];
    for (int b = 0; b < 2; ++b) {
      const float n0 = glattice(ix, iy + b, iz + c, fx, fy - b, fz - c);
      const float n1 = glattice(ix + 1, iy + b, iz + c, fx - 1.0f, fy - b, fz - c);
      e[b] = n0 + (n1 - n0) * sx;
    }
    f[c] = e[0] + (e[1] - e[0]) * sy;
  }
  return f[0] + (f[1] - f[0]) * sz;
}

float SolidNoise::GradientNoise(const double* p) const {
  return GradientNoise(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}

float SolidNoise::FractalNoise(float x, float y, float z, float fmin, float fmax) const {
  float sum = 0.0f;
  for (float f = std::max(fmin, 0.01f); f < fmax; f = f * octave_step)
    sum += GradientNoise(x * f, y * f, z * f) / f;
  return sum;
}

float SolidNoise::FractalNoise(const double* p, float fmin, float fmax) const {
  return FractalNoise(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]),
                      fmin, fmax);
}

float SolidNoise::FractalNoiseMinFreqNormalized(float x, float y, float z, float fmin,
                                                float fmax) const {
  const float f0 = std::max(fmin, 1.0f);
  float sum = 0.0f;
  for (float f = f0; f < fmax; f = f * octave_step)
    sum += GradientNoise(x * f, y * f, z * f) * (1.0f / ((f - f0) + 1.0f));
  return sum;
}

float SolidNoise::FractalNoiseMinFreqNormalized(const double* p, float fmin, float fmax) const {
  return FractalNoiseMinFreqNormalized(static_cast<float>(p[0]), static_cast<float>(p[1]),
                                       static_cast<float>(p[2]), fmin, fmax);
}
