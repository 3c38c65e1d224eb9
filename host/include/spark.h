/*
 * The host interface: the records the host and a plug-in share, the entry
 * points a plug-in exports and the spark* services the host provides.
 *
 * Record layouts follow the host's 32-bit layout in field order; on a 64-bit
 * build pointer fields grow, so only the info record (a plain byte layout the
 * host reads at fixed offsets) is checked byte for byte.
 */
#ifndef SPARK_H
#define SPARK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define SPARK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define SPARK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ---------------------------------------------------------------- info -- */

#define SPARK_INFO_SIZE 4200
#define SPARK_PATH_MAX 260

/* Passed by value to every entry point and callback. Bytes the plug-in does
 * not read belong to the host. */
typedef struct SparkHostInfo {
  unsigned char host_private[4096];
  int32_t pan_x;              /* 4096: viewer pan X, pixels */
  int32_t pan_y;              /* 4100: viewer pan Y, pixels */
  unsigned char host_private2[16];
  uint8_t interactive;        /* 4120: 0 = pen events are not for this plug-in */
  uint8_t host_private3[3];
  uint32_t frame_no;          /* 4124: current frame number */
  uint32_t frame_next;        /* 4128: host field following the frame number */
  int32_t frame_width;        /* 4132 */
  int32_t frame_height;       /* 4136 */
  int32_t frame_depth;        /* 4140: bits per pixel; 48 or 64 means 12-bit */
  int32_t host_private4;
  int8_t num_procs;           /* 4148: host worker processes (signed byte) */
  unsigned char host_private5[SPARK_INFO_SIZE - 4149];
} SparkHostInfo;

SPARK_STATIC_ASSERT(sizeof(SparkHostInfo) == SPARK_INFO_SIZE, "info record size");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, pan_x) == 4096, "pan_x offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, pan_y) == 4100, "pan_y offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, interactive) == 4120, "interactive offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, frame_no) == 4124, "frame_no offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, frame_next) == 4128, "frame_next offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, frame_width) == 4132, "frame_width offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, frame_height) == 4136, "frame_height offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, frame_depth) == 4140, "frame_depth offset");
SPARK_STATIC_ASSERT(offsetof(SparkHostInfo, num_procs) == 4148, "num_procs offset");

/* ------------------------------------------------------ buffers, graphics -- */

/* Filled by sparkMemGetBuffer. The plug-in uses only the pixel pointer (the
 * second field); the rest describes the buffer for whoever needs it. */
typedef struct SparkMemBuf {
  int32_t id;
  void* buffer;           /* 8-bit: packed RGB bytes; 12-bit: three 16-bit words a pixel */
  int32_t width;
  int32_t height;
  int32_t depth;          /* bits per pixel: 24 or 48 */
  int32_t bytes_per_pixel;
  int32_t stride;         /* bytes per row */
  uint32_t size;          /* bytes in the buffer */
  int32_t host_private[12];
} SparkMemBuf;

/* Filled by sparkGraphSetup; its first field is the frame's pixel aspect. */
typedef struct SparkGraphInfo {
  float pixel_aspect;
  int32_t frame_width;
  int32_t frame_height;
  int32_t host_private[13];
} SparkGraphInfo;

/* ------------------------------------------------------ control records -- */

/* Every control callback: a reason code and the info record; returns a frame
 * buffer pointer or null. */
typedef void* (*SparkCallback)(int reason, SparkHostInfo info);

#define SPARK_PUP_ITEMS 20
#define SPARK_STRING_LEN 200

typedef struct SparkFloat {
  float value;
  float min;
  float max;
  float step;
  int32_t flags;
  const char* title;      /* printf format with one floating conversion */
  SparkCallback callback;
} SparkFloat;

typedef struct SparkUserFloat {
  float value;
  float min;
  float max;
  float step;
  int32_t flags;
  const char* title;
  SparkCallback callback;
} SparkUserFloat;

typedef struct SparkInt {
  int32_t value;
  int32_t min;
  int32_t max;
  int32_t step;
  int32_t flags;
  const char* title;      /* printf format with one integer conversion */
  SparkCallback callback;
} SparkInt;

typedef struct SparkBoolean {
  int32_t value;          /* plug-ins read and write only the lowest byte */
  const char* title;
  SparkCallback callback;
} SparkBoolean;

typedef struct SparkPush {
  const char* title;
  SparkCallback callback;
} SparkPush;

typedef struct SparkPup {
  int32_t value;          /* selected item, 0-based */
  int32_t count;
  SparkCallback callback;
  const char* items[SPARK_PUP_ITEMS];
} SparkPup;

typedef struct SparkString {
  char text[SPARK_STRING_LEN];
  const char* format;
  int32_t flags;
  SparkCallback callback;
} SparkString;

/* ---------------------------------------------------------- entry points -- */

int SparkInitialise(SparkHostInfo info);
void* SparkProcess(SparkHostInfo info);
int SparkProcessStart(void);
int SparkMemoryTempBuffers(void);
int SparkChannelEditor(void);
int SparkClips(void);
void SparkOverlay(SparkHostInfo info, float zoom);
void* SparkInteract(SparkHostInfo info, int host_a, int host_b, float pressure, float x, float y);
void SparkUnInitialise(SparkHostInfo info);

/* The same entry points as the host looks them up by name. */
typedef int (*SparkInitialiseFn)(SparkHostInfo);
typedef void* (*SparkProcessFn)(SparkHostInfo);
typedef int (*SparkCountFn)(void);
typedef void (*SparkOverlayFn)(SparkHostInfo, float);
typedef void* (*SparkInteractFn)(SparkHostInfo, int, int, float, float, float);
typedef void (*SparkUnInitialiseFn)(SparkHostInfo);

/* -------------------------------------------------------- host services -- */

/* A worker routine for sparkMpFork. It is called as a function of exactly as
 * many void* parameters as the fork passed arguments (at most
 * SPARK_MP_MAX_ARGS); cast it to this type when passing it. */
typedef void (*SparkMpRoutine)(void);
#define SPARK_MP_MAX_ARGS 6

/* Runs the routine once in each host worker, concurrently, with the argc
 * pointer-sized arguments that follow (each read as void*), and returns when
 * all have returned. Returns the number of workers run, 0 on bad arguments. */
int sparkMpFork(SparkMpRoutine routine, int argc, ...);
/* Inside a worker: a / b is the worker's index 0 .. workers - 1. */
void sparkMpInfo(unsigned long* a, unsigned long* b);

int sparkGetFrame(int clip, int frame, void* buffer);
int sparkMemGetBuffer(int id, SparkMemBuf* buffer);
int sparkMemRegisterBuffer(void);
int sparkMemGetFreeMemory(void);
int sparkGraphSetup(SparkGraphInfo* info);

void sparkMessage(const char* text);
void sparkError(const char* text);
int sparkMessageConfirm(const char* text);

int sparkControlUpdate(int control);
int sparkEnableParameter(int kind, int control);
int sparkDisableParameter(int kind, int control);
float sparkGetCurveValuef(int kind, int control, float frame);
int sparkSetCurveKey(int kind, int control, int frame, float value);

double sparkAPIVersionInfo(void);
int sparkLoadSetup(SparkHostInfo* info);
int sparkSaveSetup(SparkHostInfo* info);
int sparkControlTitle(int page, const char* title);
int sparkClipControlTitle(int clip, const char* title);
int sparkSetControlName(int kind, int control, const char* name);
int sparkCeAddFolder(int kind, const char* name);
int sparkCeAddControl(int kind, int flag, int control);

void sparkCursorBusy(void);
void sparkViewingCursor(int cursor);
float sparkGetViewerRatio(void);
void sparkViewingDraw(void);

/* Writes the working directory, terminated, into SPARK_PATH_MAX characters. */
int sparkWorkingDir(char* path);
typedef void (*SparkFileCallback)(const char* path);
int sparkFileBrowserDisplay(const char* start_dir, const char* extension, SparkFileCallback callback);

/* Auxiliary control records */

/* The plug-in's own data beside each value control, read only by the
 * plug-in: the full range (restored when a locked control is unlocked), the
 * full item count of a list, the exclusive group of a checkbox. */

typedef struct AuxQ4Float {
  float min;
  float max;
} AuxQ4Float;

typedef struct AuxQ4Integer {
  int32_t min;
  int32_t max;
} AuxQ4Integer;

typedef AuxQ4Float AuxQ4Size;   /* percent of the frame */
typedef AuxQ4Float AuxQ4Angle;  /* degrees */

typedef struct AuxQ4Position {  /* percent of the frame */
  float min_x;
  float max_x;
  float min_y;
  float max_y;
} AuxQ4Position;

typedef struct AuxQ4List {
  int32_t default_item;   /* 0-based */
  int32_t count;
  const char* items[SPARK_PUP_ITEMS];  /* item names without the title prefix */
} AuxQ4List;

#define AUXQ4_GROUP_MAX 124

/* Setting a box of the group to 1 clears the others, in member order. */
typedef struct AuxQ4Checkbox {
  int32_t count;                          /* 0: no group */
  int32_t members[AUXQ4_GROUP_MAX];       /* control numbers of the other boxes */
  /* offset 504, not 500: x86_64 aligns these pointers to 8 bytes */
  uint8_t* values[AUXQ4_GROUP_MAX];       /* their SparkBoolean value bytes */
} AuxQ4Checkbox;

/* end of auxiliary control records */

#ifdef __cplusplus
}
#endif

#endif
