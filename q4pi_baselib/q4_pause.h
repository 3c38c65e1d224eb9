#ifndef Q4_PAUSE_H
#define Q4_PAUSE_H

// The waits that follow messages to the artist (so a message stays readable
// before the next one replaces it) all go through here, so that test programs
// can switch them off.
void q4_pause(double seconds);
void q4_set_pauses_enabled(bool enabled);
bool q4_pauses_enabled();

#endif
