#ifndef IMGIO_H
#define IMGIO_H

// The image-file library: a table of formats, each reached through the
// operations of its driver, a key/value settings list, and handles that read
// or write an image one line at a time in 8-bit or 16-bit RGBA.
//
// Library operations return 0 for success and 1 for failure (handles and
// buffers: the object or null); driver operations return 1 for success and
// 0 for failure. One thread at a time: the table, the settings and the
// message channel are global.
//
// An 8-bit line holds one 32-bit word per pixel, R in bits 0-7, G 8-15,
// B 16-23, A 24-31; a 16-bit line four unsigned 16-bit samples R, G, B, A
// per pixel. Whole-image buffers hold the rows from the picture's bottom up.

#include <cstdint>

enum { IMGIO_FORMATS = 17 };
enum { IMGIO_READ = 1, IMGIO_WRITE = 2 };
// Line order of a format or handle: whether file line 0 is the picture's
// bottom row (IMGIO_BOTTOM_FIRST) or its top row.
enum { IMGIO_BOTTOM_FIRST = 1, IMGIO_TOP_FIRST = 2 };

struct imginfo {
  int format;
  int mode;
  char* file_name;
  unsigned int* line;
  unsigned short* line16;
  int width;  // delivered to the caller: the requested size when scaled
  int height;
  int file_width;
  int file_height;
  int scaled;
  int bits16;
  int frame;
  int current_line;  // last line read or written; -1 before the first
  int line_order;
  int seekable;
  // Scaled reading: two 8-bit and two 16-bit file lines, four float
  // accumulators (R, G, B, A) of file_width samples.
  unsigned int* scale_line[2];
  unsigned short* scale_line16[2];
  float* scale_acc[4];
  float scale_y;
  float step_y;
  float scale_x;
  float step_x;
  float need_y;
  float have_y;
  void* extra;  // a driver's auxiliary block, released by closeimg
  int seek_line;
  int invert;
  int invert_line;
  void* driver;
};

typedef int (*imgop)(imginfo* handle);

// The operations of one driver. Each driver defines one such record; its
// entry in the format table names it. A null operation is not provided.
struct imgio_driver {
  imgop Openf;
  imgop Createf;
  imgop Readl;
  imgop Writel;
  imgop Readl16;
  imgop Writel16;
  imgop Closef;
  imgop Readb;
  imgop Writeb;
  imgop Readb16;
  imgop Writeb16;
  imgop Sheader;
  imgop MakeSeek;
  imgop SeekTo;
};

struct imgformat {
  char* name;
  char* ext;  // without its dot
  char* seq;  // frame-number pattern: printf of the base name and the frame
  int line_order;
  imgio_driver ops;
  char* ext_key;
  char* seq_key;
};

struct keyval {
  char* key;
  char* value;  // may be null
  keyval* next;
};

struct imgsys {
  int current;  // selected entry, 0 when none
  int filter;   // resampling: 0 point sampling, else area averaging
  int frame;    // copied into every handle createimg makes
  imginfo buffer;  // the handle of readbuf, writebuf and their 16-bit twins
  imgformat formats[IMGIO_FORMATS];
  keyval* settings;
};

extern imgsys imgsystem;

// Table and settings.
int initimg();
int finishimg();
const char* setkeyval(const char* key, const char* value);
const char* getkeyval(const char* key);
int deletekeyval(const char* key);
int destroykeyval();
int setimageformat(const char* name);
int envimageformat();
int imgextoverride(const char* name, const char* ext);
int imgseqoverride(const char* name, const char* seq);
const char* imggetkeyvalname(const char* name, int which);
int setframenumber(int frame);
// Index of the named format (1..16, exact match), 0 when unknown.
int imgfindformat(const char* name);
// 1 when a picture of width x height may be held: both at least 1 and the
// pixel count within "IMGIO_MAX_PIXELS" (default 2^28). Readers ask before
// they allocate.
int imgsizeok(int64_t width, int64_t height);

// Handles.
imginfo* openimg(const char* name);
imginfo* openimgscaled(const char* name, int width, int height);
imginfo* createimg(const char* name, int width, int height, int nbits);
int closeimg(imginfo* handle);
// 1 when the handle's format is served by `driver`: the table may hold
// another driver under a format's name, and a driver's own questions of a
// handle (its colour space, its bits) read its record only when it is its.
int imgrunby(const imginfo* handle, const imgio_driver& driver);
int readline(imginfo* handle, unsigned int* line);
int readline16(imginfo* handle, unsigned short* line);
int writeline(imginfo* handle, unsigned int* line);
int writeline16(imginfo* handle, unsigned short* line);
int seekline(imginfo* handle, int line);
int makeseekable(imginfo* handle);
int invertscaled(imginfo* handle);

// Whole images.
unsigned int* readbuf(const char* name, int* width, int* height);
unsigned short* readbuf16(const char* name, int* width, int* height);
int writebuf(unsigned int* buffer, int width, int height, const char* name);
int writebuf16(unsigned short* buffer, int width, int height, const char* name);

// Zeroed lines (normal heap, release with q4_free_c) and whole-image buffers
// (image heap); null for sizes below 1 or beyond one block.
unsigned int* createline(int width);
unsigned short* createline16(int width);
unsigned int* createbuffer(int width, int height);
unsigned short* createbuffer16(int width, int height);
void destroybuffer(unsigned int* buffer);
void destroybuffer16(unsigned short* buffer);

#endif
