#ifndef KRVFT_H
#define KRVFT_H

class KRVF;
class MTRandom;

// A Kolmogorov random vector field varying in time: two keyframe fields for
// the integer times ⌊t⌋ and ⌊t⌋ + 1, blended linearly, with a new keyframe
// made each time the integer part of t changes. Seeded alike, successive
// integer times show the same sequence of fields.
class KRVFT {
public:
  KRVFT();
  virtual ~KRVFT();

  // False when a keyframe could not be built (its samples are then zero).
  bool set_parameters(double t0, int seed, int n, double k, double amplitude);

  // False when set-up has not happened or a keyframe is empty.
  bool vector_at_norm_pos(double x, double y, double z, double t, double& u, double& v,
                          double& w);
  bool vector_at_norm_pos(const double* pos, double t, double* out);

  int get_time_index() const { return time_index; }

private:
  KRVFT(const KRVFT&) = delete;
  KRVFT& operator=(const KRVFT&) = delete;

  KRVF* make_key(int key_seed);

  KRVF* key0;
  KRVF* key1;
  int time_index;
  int n;
  double k;
  double amplitude;
  int seed;
  MTRandom* generator;
};

#endif
