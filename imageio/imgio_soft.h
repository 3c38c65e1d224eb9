#ifndef IMGIO_SOFT_H
#define IMGIO_SOFT_H

// The "softimage" driver and the picture library beneath it: big-endian
// picture files of a header, a chain of channel packets and scanlines in
// which each packet codes its channels plain, as runs or mixed. Beside
// them, the header and string routines of the same family of files.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "imgio.h"

extern const imgio_driver soft_driver;

int SoftOpenf(imginfo* handle);
int SoftCreatef(imginfo* handle);
int SoftReadl(imginfo* handle);
int SoftWritel(imginfo* handle);
int SoftReadl16(imginfo* handle);
int SoftWritel16(imginfo* handle);
int SoftClosef(imginfo* handle);
int SoftReadb(imginfo* handle);
int SoftWriteb(imginfo* handle);
int SoftReadb16(imginfo* handle);
int SoftWriteb16(imginfo* handle);
int SoftMakeSeek(imginfo* handle);
int SoftSeekTo(imginfo* handle);

// Channel mask bits of a packet; channels go in this order.
enum { SOFT_RED = 0x80, SOFT_GREEN = 0x40, SOFT_BLUE = 0x20, SOFT_ALPHA = 0x10 };
enum { SOFT_PLAIN = 0, SOFT_RUNS = 1, SOFT_MIXED = 2 };
const uint32_t SOFT_MAGIC = 0x5380F634;
const uint32_t SOFT_PICT = 0x50494354;  // "PICT"

// A picture: channel buffers (red, green, blue, alpha; null when absent)
// of one line or the whole image, and one working position in each that
// advances by the width after every scanline.
struct picture {
  int width;
  int height;
  float ratio;
  int fields;
  unsigned char* channel[4];
  unsigned char* position[4];
};

struct channel_packet {
  int size;  // bits per channel
  int type;  // compression: SOFT_PLAIN, SOFT_RUNS or SOFT_MIXED
  int mask;
  channel_packet* next;
};

picture* pictureAllocate();
void pictureDispose(picture* pic);
void channelPacketDispose(channel_packet* packets);
// Opens the file (".pic" appended unless the name ends in it), reads the
// header into pic and the packet chain (at most four packets) into
// *packets; the stream at the first scanline, or null with nothing kept.
FILE* pictureReadFileHeader(const char* name, picture* pic, channel_packet** packets);
// Creates the file and writes pic's header and the packets of *packets;
// when that is null a list is made (red, green, blue; then alpha when pic
// has an alpha buffer) and passed out. The stream, or null.
FILE* pictureWriteFileHeader(const char* name, picture* pic, channel_packet** packets);
// One scanline at the working positions; 1, or 0 when the file is cut
// short, a packet's type is unknown or a packet's channel has no buffer.
int pictureReadScanline(FILE* file, picture* pic, const channel_packet* packets);
int pictureWriteScanline(FILE* file, picture* pic, const channel_packet* packets);
// A whole picture with whole-image channel buffers, or null.
picture* pictureReadFile(const char* name);
// Writes a whole picture; packets null makes the default list. 1 or 0.
int pictureWriteFile(const char* name, picture* pic, channel_packet* packets);

// Decodes one packet's part of a scanline, width pixels of the channels in
// mask, from in[*used..size) into out (red, green, blue, alpha; only the
// mask's channels are written). 1, or 0 when the input ends first or the
// type is unknown; *used advances over what was taken.
int soft_decode_packet(const unsigned char* in, size_t size, size_t* used, int type, int mask,
                       unsigned char* const out[4], int width);

// Header and string routines. The version numbers are floats.
// Reads the 88-byte header (comment: room for 81 characters); the
// identifier that follows, or 0 for a wrong magic or a short file.
uint32_t headerReadBinary(FILE* file, float* version, char* comment);
// Magic, version and comment (null: "No comment..."), 88 bytes; 1 or 0.
int headerWriteBinary(FILE* file, const char* comment);
// A 4-byte identifier and a line of at most 80 characters; version 0.
uint32_t headerReadAscii(FILE* file, float* version);
int headerWriteAscii(FILE* file, const char* identifier);
// Heap copies (q4_free_c) of at most SOFT_STRING_LIMIT characters; what is
// longer is read and dropped.
enum { SOFT_STRING_LIMIT = 1023 };
// Characters up to a NUL or the end of the file; null at once at the end.
char* stringReadBinary(FILE* file);
// The characters between the next two double quotes; null when the file
// ends before the first.
char* stringReadAscii(FILE* file);
// The string and a NUL (a single NUL for none); whether a string was given.
int stringWriteBinary(FILE* file, const char* text);

#endif
