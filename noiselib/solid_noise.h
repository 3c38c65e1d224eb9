#ifndef SOLID_NOISE_H
#define SOLID_NOISE_H

// Three-dimensional lattice gradient noise: a fixed permutation hashes
// lattice points to one of 256 seeded unit gradients, blended over a cell
// with the cubic smoothstep, and fractal sums of octaves spaced by 2.17.
// An object whose gradient table could not be allocated yields 0.
class SolidNoise {
public:
  explicit SolidNoise(unsigned seed);
  virtual ~SolidNoise();

  bool has_gradients() const { return gradients != nullptr; }

  float glattice(int i, int j, int k, float dx, float dy, float dz) const;

  float GradientNoise(float x, float y, float z) const;
  float GradientNoise(const double* p) const;

  float FractalNoise(float x, float y, float z, float fmin, float fmax) const;
  float FractalNoise(const double* p, float fmin, float fmax) const;

  float FractalNoiseMinFreqNormalized(float x, float y, float z, float fmin, float fmax) const;
  float FractalNoiseMinFreqNormalized(const double* p, float fmin, float fmax) const;

  // The lattice hash shared by every object.
  static const unsigned char permutation[256];

private:
  SolidNoise(const SolidNoise&) = delete;
  SolidNoise& operator=(const SolidNoise&) = delete;

  float* gradients;  // 256 entries of (x, y, z)
};

#endif
