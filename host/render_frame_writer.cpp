#include "render_frame_writer.h"

#include <csignal>
#include <cstring>

#include "q4_thread_start.h"

namespace {

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, number);
  return set;
}

}  // namespace

void render_block_signals() {
  const sigset_t set = ending_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

FrameWriter::~FrameWriter() {
  std::string ignored;
  Finish(ignored);
}

bool FrameWriter::Start(int writers, std::string& error) {
  // Frames waiting beyond those being encoded: enough that a writer never
  // waits for the renderer, few enough that the frames held stay few.
  room_ = static_cast<size_t>(writers > 2 ? writers / 2 : 1);
  int reason = 0;
  for (int k = 0; k < (writers > 0 ? writers : 1); ++k) {
    pthread_t thread;
    if ((reason = q4_thread_start(&thread, &FrameWriter::Main, this)) != 0) break;
    threads_.push_back(thread);
  }
  if (threads_.empty()) error = std::string("cannot start a thread to write the frames: ") + std::strerror(reason);
  return !threads_.empty();
}

void* FrameWriter::Main(void* self) {
  const sigset_t set = ending_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  static_cast<FrameWriter*>(self)->Work();
  return nullptr;
}

bool FrameWriter::Write(int frame, const std::string& path, double effect_seconds, FrameImage&& image) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return queue_.size() < room_ || failed_; });
  if (failed_) return false;
  queue_.push_back(Job{handed_++, frame, path, effect_seconds, std::move(image)});
  changed_.notify_all();
  return true;
}

bool FrameWriter::Turn(std::unique_lock<std::mutex>& hold, long order) {
  changed_.wait(hold, [&] { return next_ == order || failed_; });
  return !failed_;
}

void FrameWriter::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    // After a failure the frames still queued are dropped unwritten.
    if (failed_) continue;
    hold.unlock();
    std::string error;
    const bool ok = image_file_write(job.path, job.image, error, [&] {
      std::unique_lock<std::mutex> turn(lock_);
      return Turn(turn, job.order);
    });
    job.image = FrameImage();
    hold.lock();
    if (!Turn(hold, job.order)) continue;
    if (ok) {
      written_(job.frame, job.effect);
      ++next_;
    } else {
      failed_ = true;
      error_ = "frame " + std::to_string(job.frame) + ": " + error;
    }
    changed_.notify_all();
  }
}

bool FrameWriter::Finish(std::string& error) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
    changed_.notify_all();
  }
  for (pthread_t thread : threads_) pthread_join(thread, nullptr);
  threads_.clear();
  if (failed_) error = error_;
  return !failed_;
}
