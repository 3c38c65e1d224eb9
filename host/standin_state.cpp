#include "standin_state.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "q4_worker_pool.h"

StandinState& standin_state() {
  static StandinState state;
  return state;
}

void standin_logf(const char* format, ...) {
  StandinState& state = standin_state();
  if (!state.logging) return;
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.logging) state.log.emplace_back(line);
}

namespace {

size_t frame_bytes(const StandinState& state) {
  const size_t sample = standin_depth_is_deep12(state.depth) ? 2 : 1;
  return static_cast<size_t>(state.width) * static_cast<size_t>(state.height) * 3 * sample;
}

}  // namespace

size_t standin_frame_bytes() {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  return frame_bytes(state);
}

bool standin_size_buffer(StandinState& state, StandinBuffer& buffer) {
  return buffer.words.Allocate((frame_bytes(state) + 7) / 8);
}

std::string standin_buffer_text(const StandinState& state) {
  return std::to_string(state.width) + "x" + std::to_string(state.height) + " at depth " +
         std::to_string(state.depth) + ", " + standin_size_text(static_cast<double>(frame_bytes(state)));
}

std::string standin_short_of() { return standin_read(&StandinState::short_of); }

void standin_reset() {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.width = 0;
  state.height = 0;
  state.depth = 24;
  state.processes = 1;
  state.fork_processes = 1;
  state.adapt_processes = false;
  state.procs_byte_scripted = false;
  state.procs_byte = 0;
  state.pixel_aspect = 1.0f;
  state.frame_number = 0;
  state.buffers.clear();
  state.temp_count = 0;
  state.short_of.clear();
  state.frame_source = nullptr;
  state.controls.clear();
  state.strings.clear();
  state.hidden.clear();
  state.curves.clear();
  state.setup_load_path.clear();
  state.setup_save_path.clear();
  state.setup_error.clear();
  state.setup_warnings.clear();
  state.api_version = 4.0;
  state.free_buffers = 8;
  state.viewer_ratio = 1.0f;
  state.confirm_answers.clear();
  char cwd[SPARK_PATH_MAX];
  state.working_dir = getcwd(cwd, sizeof cwd) ? cwd : "/";
  state.browser_choice.clear();
  state.dialogue_warnings.clear();
  state.viewer_marked = false;
  state.message_plugin.clear();
  state.interactive = 1;
  state.cursor = 1;
  state.logging = true;
  state.log.clear();
}

bool standin_set_frame(int width, int height, int depth) {
  if (depth != 24 && !standin_depth_is_deep12(depth)) return false;
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.width = width > 0 ? width : 0;
  state.height = height > 0 ? height : 0;
  state.depth = depth;
  bool sized = true;
  for (int id = standin_first_clip; id <= standin_last_clip; ++id)
    sized = sized && standin_size_buffer(state, state.buffers[id]);
  for (int k = 0; k < state.temp_count; ++k)
    sized = sized && standin_size_buffer(state, state.buffers[standin_temp_base + k]);
  if (sized) return true;
  // None is kept: what could be had goes back to the system at once.
  for (auto& buffer : state.buffers) buffer.second.words.Allocate(0);
  state.short_of = "the host's " + std::to_string(standin_last_clip + state.temp_count) +
                   " frame buffers of " + standin_buffer_text(state) + " each";
  return false;
}

int standin_frame_width() { return standin_read(&StandinState::width); }

int standin_frame_height() { return standin_read(&StandinState::height); }

bool standin_deep12() {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  return standin_depth_is_deep12(standin_state().depth);
}

void standin_withhold_buffer(int id, bool withheld) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.buffers.find(id);
  if (found != state.buffers.end()) found->second.withheld = withheld;
}

void standin_null_buffer_pixels(int id, bool null) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.buffers.find(id);
  if (found != state.buffers.end()) found->second.null_pixels = null;
}

void* standin_buffer_pixels(int id) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.buffers.find(id);
  return found == state.buffers.end() ? nullptr : found->second.words.data();
}

void standin_set_processes(int count) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.processes = state.fork_processes = count > 0 ? count : 1;
}

int standin_processes() { return standin_read(&StandinState::processes); }

void standin_set_adapt_processes(bool adapt) { standin_write(&StandinState::adapt_processes, adapt); }

int standin_fork_processes() { return standin_read(&StandinState::fork_processes); }

void standin_set_info_procs_byte(int raw) {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.procs_byte_scripted = true;
  state.procs_byte = static_cast<int8_t>(static_cast<uint8_t>(raw & 0xFF));
}

void standin_set_pixel_aspect(float aspect) { standin_write(&StandinState::pixel_aspect, aspect); }

void standin_set_frame_number(unsigned frame) { standin_write(&StandinState::frame_number, frame); }

SparkHostInfo standin_info() {
  StandinState& state = standin_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  SparkHostInfo info = {};
  info.interactive = state.interactive;
  info.frame_no = state.frame_number;
  info.frame_next = state.frame_number + 1;
  info.frame_width = state.width;
  info.frame_height = state.height;
  info.frame_depth = state.depth;
  if (state.adapt_processes) state.fork_processes = q4_pool_runners(state.processes);
  info.num_procs = state.procs_byte_scripted
                       ? state.procs_byte
                       : static_cast<int8_t>(state.fork_processes > 127 ? 127 : state.fork_processes);
  return info;
}

void standin_set_frame_source(StandinFrameSource source) {
  standin_write(&StandinState::frame_source, std::move(source));
}

unsigned standin_pattern_value(int clip, int frame, int x, int y, int channel, bool deep12) {
  // Unsigned 64-bit: any frame number (or coordinate) wraps instead of
  // overflowing, and only the low bits are kept.
  const uint64_t v = static_cast<uint64_t>(x) * 3u + static_cast<uint64_t>(y) * 5u +
                     static_cast<uint64_t>(clip) * 40u + static_cast<uint64_t>(frame) * 7u +
                     static_cast<uint64_t>(channel) * 85u;
  if (!deep12) return static_cast<unsigned>(v & 255u);
  const uint64_t low = static_cast<uint64_t>(x) + static_cast<uint64_t>(y) + static_cast<uint64_t>(channel);
  return static_cast<unsigned>(((v * 13u & 4095u) << 4) | (low & 15u));
}

void standin_set_api_version(double version) { standin_write(&StandinState::api_version, version); }

void standin_set_free_buffers(int count) { standin_write(&StandinState::free_buffers, count); }

void standin_set_viewer_ratio(float ratio) { standin_write(&StandinState::viewer_ratio, ratio); }

void standin_push_confirm_answer(int answer) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().confirm_answers.push_back(answer);
}

void standin_set_working_dir(const std::string& path) {
  standin_write(&StandinState::working_dir, path);
}

void standin_set_browser_choice(const std::string& path) {
  standin_write(&StandinState::browser_choice, path);
}

std::vector<std::string> standin_take_dialogue_warnings() {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  std::vector<std::string> warnings;
  warnings.swap(standin_state().dialogue_warnings);
  return warnings;
}

bool standin_take_viewer_mark() {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  const bool marked = standin_state().viewer_marked;
  standin_state().viewer_marked = false;
  return marked;
}

void standin_set_interactive(int interactive) {
  standin_write(&StandinState::interactive, static_cast<uint8_t>(interactive));
}

int standin_cursor() { return standin_read(&StandinState::cursor); }

void standin_set_logging(bool enabled) { standin_state().logging = enabled; }

std::vector<std::string> standin_log() { return standin_read(&StandinState::log); }

void standin_clear_log() {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  standin_state().log.clear();
}

int standin_log_count(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  int count = 0;
  for (const std::string& line : standin_state().log)
    if (line.compare(0, prefix.size(), prefix) == 0) ++count;
  return count;
}
