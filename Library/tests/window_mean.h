#ifndef WINDOW_MEAN_H
#define WINDOW_MEAN_H

#include <algorithm>
#include <cstdint>
#include <vector>

typedef std::vector<int> Line;

// One box pass written the slow way: every window summed afresh, indices
// clamped, the radius held to n / 2.
inline Line window_mean(const Line& in, int radius) {
  const int n = static_cast<int>(in.size());
  const int R = std::max(0, std::min(radius, n / 2));
  Line out(in.size());
  for (int i = 0; i < n; ++i) {
    int64_t sum = 0;
    for (int j = i - R; j <= i + R; ++j) sum += in[std::min(std::max(j, 0), n - 1)];
    out[i] = static_cast<int>(sum / (2 * R + 1));
  }
  return out;
}

#endif
