#ifndef PRESSURE_SWEEPS_H
#define PRESSURE_SWEEPS_H

#include <atomic>
#include <cstddef>

// The pressure solve's red-black half-sweeps, run several to a fork: the
// state the bands of a fork share, what forks cost, and a band's share.

// What the forks of the pressure solve cost, and the half-sweeps a fork
// that follows from it. The first pass of a fork sweeps passes - 1 rows
// beyond each end of a band, one fewer each pass after it: a band of b
// rows sweeps b + passes - 1 rows a pass, and a fork costs its overhead
// once. At w a row and s a fork, a pass takes w (b + passes - 1) + s /
// passes, least at passes = sqrt(s / w).
struct SorForkCosts {
  // The last fork's shortest band, its slowest band and slowest time a row
  // swept among its bands, in picoseconds, as its bands report them.
  std::atomic<int> fewest_rows;
  std::atomic<long long> slowest_ps;
  std::atomic<long long> row_ps;
  // The time of a fork beyond its slowest band, and of a row swept,
  // smoothed over the forks, in nanoseconds.
  double overhead_ns, row_ns;

  void start_fork(int rows);
  // A band of `rows` rows took `ps` picoseconds to sweep `swept` rows.
  void band_done(int rows, long long ps, long long swept);
  // After a fork in bands that took fork_ns.
  void fork_done(double fork_ns);
  // Half-sweeps the next fork of a solve of `rows` rows runs, 2 to `most`:
  // one band sweeps no rows beyond its own and runs `most`.
  int passes(bool banded, int rows, int most) const;
};

struct SorBlock {
  // Planes of plane_stride x (ny + 2) floats, p and rhs split by colour,
  // (i + j) & 1, each colour row holding every second cell, so a
  // half-sweep reads and writes contiguous runs. A fork runs up to
  // MAX_FORK_PASSES half-sweeps; each colour's values after each of its
  // half-sweeps go to a plane of their own among RING, so the values the
  // fork started from stay for every band to work out rows beyond its own
  // from, and the solve can stop after any pass of the fork.
  enum { MAX_FORK_PASSES = 8, RING = MAX_FORK_PASSES / 2 + 1 };
  enum { RHS_COLOUR0 = 2, RHS_COLOUR1 = 3, PLANES = 2 * RING + 2 };
  float a, b, c, d, e;
  float* planes;
  double* row_residual;  // per pass of a fork, ny + 2 sums of |residual|, one a row
  int nx, ny;
  int plane_stride;
  size_t plane_pitch;  // floats from one plane to the next
  bool banded;         // the sweeps run in the executor's bands
  int fork_passes;     // the caller's half-sweeps a fork, 0 for what forks cost
  int pass;            // the fork's first pass; the last one done outside a fork
  int passes;          // the fork's half-sweeps
  int front[2];        // each colour's ring place before the fork
  double omega[MAX_FORK_PASSES];  // of each pass of the fork
  int planes_nx, planes_ny;       // the grid the planes were made for
  std::atomic<bool> first_only;   // a band of the last fork ran its first pass alone
  SorForkCosts costs;
  float* plane(int k) const { return planes + k * plane_pitch; }
  // Places 0 and 1, all a fork of two half-sweeps uses, lie around the
  // right-hand sides as ensure_sor_planes spaces them; the others after.
  float* p_plane(int colour, int place) const {
    return plane(place == 0 ? colour : place == 1 ? 4 + colour : 2 * place + 2 + colour);
  }
  // Cell (i, j) sits at i / 2 of its colour row.
  size_t cell(int i, int j) const { return static_cast<size_t>(j) * plane_stride + (i >> 1); }
  // The place of a colour's values after `updates` half-sweeps of a fork
  // that started from place `start`: the lowest places other than the
  // start, so that forks of few half-sweeps keep to few planes and stay
  // in the caches.
  static int after(int start, int updates) {
    return updates == 0 ? start : updates - 1 < start ? updates - 1 : updates;
  }
};

// Passes pass .. pass + passes - 1 of the fork over rows first + 1 ..
// last + 1, bounds inclusive: the band worker of a fork.
void sor_sweep_band(SorBlock& s, int first, int last);

#endif
