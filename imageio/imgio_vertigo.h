#ifndef IMGIO_VERTIGO_H
#define IMGIO_VERTIGO_H

// The "vertigo" driver: a 232-byte big-endian header, a table that locates
// every line, and lines of four run-length coded 8-bit planes, optionally
// luma-chroma on reading.

#include <cstddef>

#include "imgio.h"

extern const imgio_driver vertigo_driver;

int VertigoOpenf(imginfo* handle);
int VertigoCreatef(imginfo* handle);
int VertigoReadl(imginfo* handle);
int VertigoWritel(imginfo* handle);
int VertigoReadl16(imginfo* handle);
int VertigoWritel16(imginfo* handle);
int VertigoClosef(imginfo* handle);
int VertigoReadb(imginfo* handle);
int VertigoWriteb(imginfo* handle);
int VertigoReadb16(imginfo* handle);
int VertigoWriteb16(imginfo* handle);
int VertigoMakeSeek(imginfo* handle);
int VertigoSeekTo(imginfo* handle);

// Decodes one plane of width values from the packets of in[*used..size)
// (c < 128: c + 1 copies of the next byte; else 256 - c literal bytes).
// Values of a packet beyond the width are dropped; when the input ends
// first the rest of the plane is 0. *used advances over what was taken.
void vertigo_decode_plane(const unsigned char* in, size_t size, size_t* used, unsigned char* plane, size_t width);
// Codes n bytes into out (room for n + (n + 126) / 127); the code's length.
size_t vertigo_encode_plane(const unsigned char* in, int n, unsigned char* out);

#endif
