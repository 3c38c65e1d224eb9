#ifndef Q4_BANDS_H
#define Q4_BANDS_H

// The one band split of the project: worker `index` of `workers` takes rows
// index * band .. index * band + band - 1 of 0..count-1 (band = count /
// workers) and the last worker also the remainder. Bounds are inclusive; an
// empty band has first > last. A worker count below 1 counts as 1, and a
// worker outside the split gets an empty band.
//
// The split differs between its users only when there are fewer rows than
// workers: the host's split gives every row to the last worker and the
// others the band 0..-1; the thread layer's gives every row to the first
// worker and the others the band count..count-1, past the end of the range.
enum class ShortSplit { to_last, to_first };

void q4_band(long index, long count, long workers, ShortSplit rule, long& first, long& last);

// The same split of from..to in half-open form: worker `index` takes
// [lo, hi), one worker's hi is the next one's lo, and together they cover
// [from, to) once.
void q4_band_range(long index, long from, long to, long workers, ShortSplit rule, long& lo, long& hi);

#endif
