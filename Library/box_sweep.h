#ifndef BOX_SWEEP_H
#define BOX_SWEEP_H

#include <cstdint>

// Three box passes at a whole radius, and optionally three at the next one
// mixed with them, over lanes side by side, in one sweep along the lines:
// each pass runs a few positions behind the one before it through short
// rings of positions, so the lines never sit whole in working memory and
// what a pass writes is still in the cache when the next reads it.
//
// The result is bit for bit that of gathering the lines whole, fading them,
// three box_pass_1 passes on every lane at `radius` into at_r and, with mix, three at
// radius + 1 (radius itself when it reaches n: both are then held to n / 2)
// into at_r1, then at_r = (w0 * at_r + w1 * at_r1) >> 10. For samples
// 0..65535 every window sum of the usual radii fits 32 bits and divides
// exactly; wider windows take 64-bit sums.

// Most lanes a sweep takes.
const int kSweepLanes = 64;

struct BoxSweep {
  int n;       // positions of each line
  int lanes;   // lanes side by side, 1 .. kSweepLanes
  int radius;  // the whole radius
  bool mix;    // also the passes at radius + 1, mixed by w0 and w1
  int w0, w1;  // w0 + w1 = 1024 keeps the mix within 0..65535
  float fade;  // every sample times this (0..1), truncated, on its way in
};

// Most positions handed to a gather or scatter at once.
const int kSweepStep = 32;

// Where the samples come from and the results go. Positions are handed out
// in order, each once, a result only after its position's samples were
// taken, so the lines may be read and written in place.
class BoxSweepLines {
 public:
  // Positions i0 .. i0 + count - 1 into to[(i - i0) * lanes + lane],
  // every lane written, samples 0..65535.
  virtual void gather(int i0, int count, int* to) = 0;
  // The results of those positions, laid out the same way.
  virtual void scatter(int i0, int count, const int* from) = 0;

 protected:
  ~BoxSweepLines() = default;
};

// The ints of working memory a sweep needs.
uint64_t box_sweep_scratch(const BoxSweep& sweep);

// Nothing happens for n < 1 or lanes outside 1 .. kSweepLanes.
void box_sweep(const BoxSweep& sweep, int* scratch, BoxSweepLines& lines);

#endif
