#ifndef PLUGINQ4_H
#define PLUGINQ4_H

#include <cstdio>

#include "q4_mp_hooks.h"

class ImageQ4;
class SourceQ4;

// Base of every effect: the operations the host glue calls, member
// functions of the effect run over row bands in parallel through the host,
// and the executor and abort hooks handed to the libraries.
class PluginQ4 {
 public:
  typedef void (PluginQ4::*BandWorker)(long first_row, long last_row);

  PluginQ4();
  virtual ~PluginQ4();
  virtual void ProcessFrame() {}
  virtual void ProcessFrameOGL(int, int, double, double, double, double) {}
  virtual void SyncControls() {}
  virtual void Load(FILE*, long) {}
  virtual void Save(FILE*) {}
  virtual void LoadPrivate() {}
  virtual void SavePrivate() {}
  virtual void Reset(int) {}
  virtual void FrameChange(double) {}

  // Runs worker over rows 0..count-1 split into one band per host worker
  // (member_bands.h; virtual members resolve through this object); returns
  // the fork result.
  int MultiProcess(BandWorker worker, long count);
  void execute_library_mp_func(long first, long last);
  int AbortRender();
  void LoadPrivateData(void*, int*, char*) {}
  void SavePrivateData(void*, int, char*) {}

  // A new array of two floats per pixel decoded from frame 2 x frame of
  // the source (u, v as signed 8.8 fixed point); the caller frees it with
  // delete[]. Null when the source has no current image.
  float* GetTrackData(SourceQ4* source, double frame);
  void mp_ImgToTV(long first, long last);

  double frame;
  double frame_next;
  unsigned char state_flag;
  unsigned char frame_flag;  // cleared by the entry point every frame
  mp_worker_fn lib_worker;
  void* lib_object;
  float pen_pressure;
  float* track_data;
  ImageQ4* track_image;
};

// The framework's executor hook (context: the effect's PluginQ4) and its
// abort hook, which never asks to stop.
void lib_mp_exec(void* context, mp_worker_fn worker, int count, void* object);
int lib_abort_render(void* context);

#endif
