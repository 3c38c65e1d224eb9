#ifndef RENDER_FRAME_WRITER_H
#define RENDER_FRAME_WRITER_H

// Frames written while the next ones render. Writer threads take the frames
// in order from a short queue, encode them side by side and give them their
// names in order, so that the files on disk are always the first k frames
// whole and nothing after: a frame after a failed one is removed unnamed.
// The writers are the threads that take the signals which end the run:
// every other thread keeps them blocked (render_block_signals).

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "standin_image_files.h"

// The signals that end a run (SIGINT, SIGTERM, SIGHUP) blocked on the
// calling thread, and on every thread it starts from then on.
void render_block_signals();

class FrameWriter {
 public:
  // `written(frame, effect_seconds)` is called for each frame once its file
  // has its name, in frame order, one call at a time.
  explicit FrameWriter(std::function<void(int, double)> written) : written_(std::move(written)) {}
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Starts `writers` threads (at least one, which also takes the signals
  // of a run that writes no frame); false with the reason when none starts.
  bool Start(int writers, std::string& error);
  // Hands a frame over, waiting while the queue is full; false once a write
  // has failed, when the run is to stop.
  bool Write(int frame, const std::string& path, double effect_seconds, FrameImage&& image);
  // Waits for every frame handed over and stops the writers; false with
  // the first failed write's one-line reason.
  bool Finish(std::string& error);

 private:
  struct Job {
    long order;
    int frame;
    std::string path;
    double effect;
    FrameImage image;
  };
  static void* Main(void* self);
  void Work();
  // Waits for the frames before `order` to be done: true when this one may
  // take its name, false when one before it failed.
  bool Turn(std::unique_lock<std::mutex>& hold, long order);

  std::function<void(int, double)> written_;
  std::vector<pthread_t> threads_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  size_t room_ = 2;
  long handed_ = 0;  // frames handed over
  long next_ = 0;    // the first frame not yet done
  bool closing_ = false;
  bool failed_ = false;
  std::string error_;
};

#endif
