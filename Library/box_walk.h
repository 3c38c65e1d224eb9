#ifndef BOX_WALK_H
#define BOX_WALK_H

// The running-sum walk of one box pass, shared by every box filter whatever
// its sample and sum types: the window of position i covers i - R .. i + R,
// positions beyond the ends repeat the end samples, and each position costs
// one sample entering and one leaving whatever the radius. What a window sum
// becomes (the division, a clamp) is the caller's.
//
// Lines may lie `lanes` side by side: sample i of lane l at [i * stride + l].
// Each lane is summed in its own accumulator with the same operations as a
// line alone, so grouping lines into lanes never changes a result. A lane
// may itself be a generic vector of several lines, which keeps the sums of
// a block of lines in registers.

#include <algorithm>

// The radius a pass over n positions uses: at most n / 2, a negative one 0.
inline int box_walk_radius(int radius, int n) { return radius > 0 ? std::min(radius, n / 2) : 0; }

// The window sums at position 0: R copies of the first sample, then samples
// 0 .. R (R < n, which box_walk_radius guarantees).
template <typename Sample, typename Sum>
inline __attribute__((always_inline)) void box_walk_first(const Sample* in, long stride, int lanes, int R,
                                                          Sum* S) {
  for (int l = 0; l < lanes; ++l) S[l] = static_cast<Sum>(in[l]) * R;
  for (int j = 0; j <= R; ++j)
    for (int l = 0; l < lanes; ++l) S[l] += static_cast<Sum>(in[j * stride + l]);
}

// Outputs positions from .. to - 1, finish(out, window sum) storing what a
// sum becomes, starting from the sums at `from` and leaving the sums at
// `to`. Indices are clamped, so any
// span may run here. The lane loop is independent per lane and widens into
// vector steps (always inlined, so each kernel copy widens it its own way).
template <typename Sample, typename Out, typename Sum, typename Finish>
inline __attribute__((always_inline)) void box_walk(const Sample* in, Out* out, int n, long stride, int lanes,
                                                    int R, int from, int to, Sum* S, Finish finish) {
  for (int i = from; i < to; ++i) {
    const Sample* entering = in + std::min(i + R + 1, n - 1) * stride;
    const Sample* leaving = in + std::max(i - R, 0) * stride;
    Out* o = out + i * stride;
    for (int l = 0; l < lanes; ++l) {
      finish(o[l], S[l]);
      S[l] += static_cast<Sum>(entering[l]) - static_cast<Sum>(leaving[l]);
    }
  }
}

#endif
