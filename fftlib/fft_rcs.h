#ifndef FFT_RCS_H
#define FFT_RCS_H

// Mixed-radix complex FFT of one dimension of an array of any length, in
// place, double precision, unscaled in both directions:
//   X[k] = sum_j x[j] * exp(s * 2*pi*i * j*k / n),  s = sign of isn.
// re/im hold ntot complex values, element k at index k*|isn|. nspan is n times
// the product of the lengths of the dimensions before this one, so an
// N1 x N2 x N3 array (N1 fastest) is (ntot,N1,N1), (ntot,N2,N1*N2),
// (ntot,N3,N1*N2*N3).
// Returns 0 when done (also for n < 2, data untouched) and 1, data untouched,
// when isn is 0, the sizes do not describe an array, a factor other than
// 2, 3, 4 and 5 exceeds 23, or the square-free factors multiply beyond 210.
int fft_rcs(double* re, double* im, int ntot, int n, int nspan, int isn);

#endif
