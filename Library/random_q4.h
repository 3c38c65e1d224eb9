#ifndef RANDOM_Q4_H
#define RANDOM_Q4_H

// Small pseudo-random generators on a caller-held seed. Each keeps hidden
// static state of its own (not shared between them, not thread-safe).
// Seeds behave as 32-bit values, whatever the width of long.

// 15-bit linear congruential: 0..32767.
int randQ4(long& seed);
// Minimal standard with a 32-entry shuffle: (0, 0.9999999]. A seed <= 0
// (or the first call) re-initialises.
float ran1fQ4(long* idum);
// The same generator's integer deviate 1..2147483646, with its own state.
long ran1Q4(long* idum);
// Three congruential generators with a 97-entry shuffle: [0, 1). A negative
// seed (or the first call) initialises and sets the seed to 1.
float ran2Q4(long* idum);
// Standard normal deviates in pairs (polar method) from ran2Q4.
float gasdevQ4(long* idum);
// Puts every generator back to its unseeded state of process start, so a
// caller can depend on what a first call does whatever ran before.
void resetRandomQ4();

#endif
