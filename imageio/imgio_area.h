#ifndef IMGIO_AREA_H
#define IMGIO_AREA_H

#include <algorithm>

// The area rule shared by the scaled read's horizontal pass and resample:
// n_out outputs each cover `step` input samples, every covered piece weighed
// by its share and by a linear blend toward the next sample; the weights of
// one output sum to step, so a constant input stays constant once the sum is
// multiplied by `scale` (1 / step). Both indices are held at the last
// sample, so no input beyond n_in is read and one sample is replicated.
// The sum is kept in double: a reduction adds many pieces, and float
// rounding alone would move a constant by whole steps.
template <typename Sample, typename Store>
void imgio_area_pass(const Sample& sample, int n_in, int n_out, float scale, float step,
                     const Store& store) {
  float need = step;
  float have = 1.0f;
  int i = 0;
  int j = std::min(n_in - 1, 1);
  for (int k = 0; k < n_out; ++k) {
    double sum = 0.0;
    while (need > have) {
      sum += have * (sample(j) + (sample(i) - sample(j)) * have);
      need -= have;
      i = std::min(n_in - 1, i + 1);
      j = std::min(n_in - 1, i + 1);
      have = 1.0f;
    }
    sum += need * (sample(j) + (sample(i) - sample(j)) * have);
    store(k, sum * scale);
    have -= need;
    need = step;
  }
}

#endif
