#ifndef STANDIN_STATE_H
#define STANDIN_STATE_H

// The stand-in host's state, shared by its service files. Every access holds
// the mutex; the services never call back into the plug-in while holding it.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "standin_array.h"
#include "standin_host.h"

struct StandinBuffer {
  StandinArray<uint64_t> words;  // 8-byte units keep 16-bit pixels aligned
  bool withheld = false;
  bool null_pixels = false;
};

struct StandinControl {
  StandinControlKind kind;
  void* record;
};

struct StandinState {
  std::mutex mutex;
  int width = 0;
  int height = 0;
  int depth = 24;
  int processes = 1;
  // The workers of the current frame's forks: processes, or fewer when
  // adapt_processes and cores are taken.
  int fork_processes = 1;
  bool adapt_processes = false;
  bool procs_byte_scripted = false;
  int8_t procs_byte = 0;
  float pixel_aspect = 1.0f;
  unsigned frame_number = 0;
  std::map<int, StandinBuffer> buffers;
  int temp_count = 0;
  std::string short_of;  // the buffers last found short of memory
  StandinFrameSource frame_source;
  std::map<int, StandinControl> controls;
  std::map<int, SparkString*> strings;
  std::set<int> hidden;
  std::map<int, std::map<int, float>> curves;
  std::string setup_load_path;
  std::string setup_save_path;
  std::string setup_error;
  std::vector<std::string> setup_warnings;
  double api_version = 4.0;
  int free_buffers = 8;
  float viewer_ratio = 1.0f;
  std::deque<int> confirm_answers;
  std::string working_dir;
  std::string browser_choice;
  std::vector<std::string> dialogue_warnings;
  bool viewer_marked = false;
  std::string message_plugin;  // empty: messages are only logged
  uint8_t interactive = 1;
  int cursor = 1;
  // Read without the mutex: a call that is not logged formats nothing.
  std::atomic<bool> logging{true};
  std::vector<std::string> log;
};

StandinState& standin_state();

// Copies one field under the mutex, so the caller can log it or call out
// without holding the lock.
template <typename T>
T standin_read(T StandinState::*field) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.*field;
}

// Replaces one field under the mutex.
template <typename T, typename V>
void standin_write(T StandinState::*field, V&& value) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.*field = std::forward<V>(value);
}

// Appends a log line built printf-style (no-op while logging is off).
void standin_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Host depths 48 and 64 both carry three 16-bit words a pixel.
inline bool standin_depth_is_deep12(int depth) { return depth == 48 || depth == 64; }

// Allocates a buffer of the current frame size in place of its old pixels
// (lock held); false, and the buffer empty, when the memory cannot be had.
bool standin_size_buffer(StandinState& state, StandinBuffer& buffer);
// "WxH at depth D, S": one buffer, for what short_of names.
std::string standin_buffer_text(const StandinState& state);

#endif
