#include "random_q4.h"

#include <cmath>
#include <cstdint>

namespace {

const long IA = 16807, IM = 2147483647, IQ = 127773, IR = 2836;
const int NTAB = 32;
const long NDIV = 1 + (IM - 1) / NTAB;

struct ShuffleState {
  long iy = 0;
  long table[NTAB] = {};
};

ShuffleState ran1f_state;
ShuffleState ran1_state;

long as_seed(long value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

void minimal_step(long& idum) {
  const long k = idum / IQ;
  idum = IA * (idum - k * IQ) - IR * k;
  if (idum < 0) idum += IM;
}

long shuffled(ShuffleState& state, long* seed) {
  long idum = as_seed(*seed);
  if (idum <= 0 || state.iy == 0) {
    idum = -idum < 1 ? 1 : -idum;
    for (int j = NTAB + 7; j >= 0; --j) {
      minimal_step(idum);
      if (j < NTAB) state.table[j] = idum;
    }
    state.iy = state.table[0];
  }
  minimal_step(idum);
  const long j = state.iy / NDIV;
  state.iy = state.table[j];
  state.table[j] = idum;
  *seed = idum;
  return state.iy;
}

const long M1 = 259200, IA1 = 7141, IC1 = 54773;
const long M2 = 134456, IA2 = 8121, IC2 = 28411;
const long M3 = 243000, IA3 = 4561, IC3 = 51349;
const float RM1 = 3.8580247e-6f, RM2 = 7.4373775e-6f;

struct Ran2State {
  bool seeded = false;
  long ix1 = 0, ix2 = 0, ix3 = 0;
  float table[98] = {};
};

Ran2State ran2_state;

// Remainders are kept non-negative: a large positive first seed would
// otherwise drive the shuffle index below the table.
long mod(long value, long m) {
  const long r = value % m;
  return r < 0 ? r + m : r;
}

float table_value(long ix1, long ix2) {
  const float v = (static_cast<float>(ix1) + static_cast<float>(ix2) * RM2) * RM1;
  return v < 1.0f ? v : 0.99999994f;
}

struct GaussState {
  bool held = false;
  float value = 0.0f;
};

GaussState gauss_state;

}  // namespace

int randQ4(long& seed) {
  const uint32_t next = static_cast<uint32_t>(seed) * 214013u + 2531011u;
  seed = static_cast<int32_t>(next);
  return static_cast<int>((seed >> 16) & 0x7FFF);
}

float ran1fQ4(long* idum) {
  const float v = static_cast<float>(shuffled(ran1f_state, idum)) * 4.656613e-10f;
  return v < 0.9999999f ? v : 0.9999999f;
}

long ran1Q4(long* idum) { return shuffled(ran1_state, idum); }

float ran2Q4(long* idum) {
  Ran2State& s = ran2_state;
  const long seed = as_seed(*idum);
  if (seed < 0 || !s.seeded) {
    s.seeded = true;
    s.ix1 = mod(IC1 - seed, M1);
    s.ix1 = mod(IA1 * s.ix1 + IC1, M1);
    s.ix2 = mod(s.ix1, M2);
    s.ix1 = mod(IA1 * s.ix1 + IC1, M1);
    s.ix3 = mod(s.ix1, M3);
    for (int j = 1; j <= 97; ++j) {
      s.ix1 = mod(IA1 * s.ix1 + IC1, M1);
      s.ix2 = mod(IA2 * s.ix2 + IC2, M2);
      s.table[j] = table_value(s.ix1, s.ix2);
    }
    *idum = 1;
  }
  s.ix1 = mod(IA1 * s.ix1 + IC1, M1);
  s.ix2 = mod(IA2 * s.ix2 + IC2, M2);
  s.ix3 = mod(IA3 * s.ix3 + IC3, M3);
  long j = (97 * s.ix3) / M3;
  j = j < 97 ? j + 1 : 1;
  const float result = s.table[j];
  s.table[j] = table_value(s.ix1, s.ix2);
  return result;
}

void resetRandomQ4() {
  ran1f_state = ShuffleState();
  ran1_state = ShuffleState();
  ran2_state = Ran2State();
  gauss_state = GaussState();
}

float gasdevQ4(long* idum) {
  GaussState& g = gauss_state;
  if (g.held) {
    g.held = false;
    return g.value;
  }
  float a, b, rsq;
  do {
    a = 2.0f * ran2Q4(idum) - 1.0f;
    b = 2.0f * ran2Q4(idum) - 1.0f;
    rsq = a * a + b * b;
  } while (rsq >= 1.0f || rsq == 0.0f);
  const float fac = std::sqrt(-2.0f * std::log(rsq) / rsq);
  g.value = a * fac;
  g.held = true;
  return b * fac;
}
