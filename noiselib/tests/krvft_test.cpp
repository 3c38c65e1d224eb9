#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "krvf.h"
#include "krvft.h"
#include "mtrandom.h"

namespace {

const int n = 4;
const double k = 1.5, amplitude = 1.0;

// The keyframe seeds a KRVFT draws: two at set-up, one per new key after.
std::vector<int> key_seeds(int seed, int count) {
  MTRandom g(static_cast<unsigned>(seed));
  std::vector<int> s;
  for (int i = 0; i < count; ++i) s.push_back(g.int_random());
  return s;
}

// Expects the blend of keys a (at integer time T) and b at time t.
void expect_blend(KRVFT& field, const KRVF& a, const KRVF& b, double t, int T) {
  const double s = t - T;
  const double p[3] = {0.21, 0.64, 0.37};
  double got[3], va[3], vb[3];
  ASSERT_TRUE(field.vector_at_norm_pos(p, t, got));
  a.vector_at_norm_pos(p, va);
  b.vector_at_norm_pos(p, vb);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(got[c], va[c] + (vb[c] - va[c]) * s) << t << " " << c;
}

TEST(KRVFT, BlendsKeysAndAdvancesOneKeyPerCall) {
  const int seed = 77;
  const std::vector<int> seeds = key_seeds(seed, 4);
  KRVF k0, k1, k2, k3;
  ASSERT_TRUE(k0.set_parameters(seeds[0], n, k, amplitude));
  ASSERT_TRUE(k1.set_parameters(seeds[1], n, k, amplitude));
  ASSERT_TRUE(k2.set_parameters(seeds[2], n, k, amplitude));
  ASSERT_TRUE(k3.set_parameters(seeds[3], n, k, amplitude));

  KRVFT field;
  ASSERT_TRUE(field.set_parameters(2.0, seed, n, k, amplitude));
  EXPECT_EQ(field.get_time_index(), 2);
  expect_blend(field, k0, k1, 2.25, 2);
  expect_blend(field, k0, k1, 2.0, 2);
  expect_blend(field, k0, k1, 2.75, 2);  // same integer time: no new key
  EXPECT_EQ(field.get_time_index(), 2);
  // Jumping from 2 to 5 still makes just one new key.
  expect_blend(field, k1, k2, 5.5, 5);
  EXPECT_EQ(field.get_time_index(), 5);
  expect_blend(field, k2, k3, 6.0, 6);
  expect_blend(field, k2, k3, 6.9, 6);
}

TEST(KRVFT, SameSeedSameSequence) {
  KRVFT a, b, c;
  ASSERT_TRUE(a.set_parameters(0.0, 12345, n, k, amplitude));
  ASSERT_TRUE(b.set_parameters(0.0, 12345, n, k, amplitude));
  ASSERT_TRUE(c.set_parameters(0.0, 12346, n, k, amplitude));
  bool any_difference = false;
  for (int step = 0; step < 12; ++step) {
    const double t = step * 0.4;
    double ua, va, wa, ub, vb, wb, uc, vc, wc;
    a.vector_at_norm_pos(0.1 * step, 0.3, 0.0, t, ua, va, wa);
    b.vector_at_norm_pos(0.1 * step, 0.3, 0.0, t, ub, vb, wb);
    c.vector_at_norm_pos(0.1 * step, 0.3, 0.0, t, uc, vc, wc);
    EXPECT_EQ(ua, ub);
    EXPECT_EQ(va, vb);
    EXPECT_EQ(wa, wb);
    any_difference = any_difference || ua != uc || va != vc;
  }
  EXPECT_TRUE(any_difference);
}

TEST(KRVFT, ReportsMissingSetUpAndFailedKeys) {
  KRVFT unset;
  double u = 1, v = 1, w = 1;
  EXPECT_FALSE(unset.vector_at_norm_pos(0.5, 0.5, 0.0, 0.5, u, v, w));
  EXPECT_EQ(u, 0.0);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(w, 0.0);

  KRVFT bad_n;
  EXPECT_FALSE(bad_n.set_parameters(0.0, 1, 3, k, amplitude));
  EXPECT_FALSE(bad_n.vector_at_norm_pos(0.5, 0.5, 0.0, 0.5, u, v, w));
  EXPECT_EQ(u, 0.0);

  KRVFT starved;
  {
    FailingHeap heap(6);  // key 0 gets its six arrays, key 1 none
    EXPECT_FALSE(starved.set_parameters(0.0, 8, n, k, amplitude));
  }
  const std::vector<int> seeds = key_seeds(8, 1);
  KRVF key0;
  ASSERT_TRUE(key0.set_parameters(seeds[0], n, k, amplitude));
  double e[3];
  const double p[3] = {0.2, 0.4, 0.6};
  key0.vector_at_norm_pos(p, e);
  EXPECT_FALSE(starved.vector_at_norm_pos(0.2, 0.4, 0.6, 0.25, u, v, w));
  EXPECT_EQ(u, e[0] + (0.0 - e[0]) * 0.25);  // blended toward the empty key's zero
  // The empty key moves to the front, then out; fresh keys build normally.
  EXPECT_FALSE(starved.vector_at_norm_pos(0.2, 0.4, 0.6, 1.25, u, v, w));
  EXPECT_TRUE(starved.vector_at_norm_pos(0.2, 0.4, 0.6, 2.25, u, v, w));
}

}  // namespace
