// Frame buffers, temporary buffers and the frame source.
#include <cstring>

#include "standin_state.h"

extern "C" int sparkMemRegisterBuffer(void) {
  StandinState& state = standin_state();
  int id;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    id = standin_temp_base + state.temp_count++;
    // Registered all the same: it gives no pixels, which refuses the frame.
    if (!standin_size_buffer(state, state.buffers[id]))
      state.short_of = "the temporary buffer " + std::to_string(id) + " the plug-in registered, " +
                       standin_buffer_text(state);
  }
  standin_logf("sparkMemRegisterBuffer() = %d", id);
  return id;
}

extern "C" int sparkMemGetBuffer(int id, SparkMemBuf* descriptor) {
  StandinState& state = standin_state();
  int given = 0;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.buffers.find(id);
    if (descriptor && found != state.buffers.end() && !found->second.withheld) {
      const bool deep12 = standin_depth_is_deep12(state.depth);
      const int sample = deep12 ? 2 : 1;
      std::memset(descriptor, 0, sizeof *descriptor);
      descriptor->id = id;
      descriptor->buffer = found->second.null_pixels ? nullptr : found->second.words.data();
      descriptor->width = state.width;
      descriptor->height = state.height;
      descriptor->depth = deep12 ? 48 : 24;  // the layout, whatever the host depth
      descriptor->bytes_per_pixel = 3 * sample;
      descriptor->stride = state.width * 3 * sample;
      descriptor->size = static_cast<uint32_t>(descriptor->stride) *
                         static_cast<uint32_t>(state.height);
      given = 1;
    }
  }
  standin_logf("sparkMemGetBuffer(%d) = %d", id, given);
  return given;
}

extern "C" int sparkMemGetFreeMemory(void) {
  const int count = standin_read(&StandinState::free_buffers);
  standin_logf("sparkMemGetFreeMemory() = %d", count);
  return count;
}

extern "C" int sparkGraphSetup(SparkGraphInfo* info) {
  StandinState& state = standin_state();
  if (info) {
    std::lock_guard<std::mutex> lock(state.mutex);
    std::memset(info, 0, sizeof *info);
    info->pixel_aspect = state.pixel_aspect;
    info->frame_width = state.width;
    info->frame_height = state.height;
  }
  standin_logf("sparkGraphSetup()");
  return info ? 1 : 0;
}

namespace {

void draw_pattern(int clip, int frame, void* buffer, int width, int height, bool deep12) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
      for (int c = 0; c < 3; ++c) {
        const unsigned v = standin_pattern_value(clip, frame, x, y, c, deep12);
        if (deep12)
          static_cast<uint16_t*>(buffer)[at + c] = static_cast<uint16_t>(v);
        else
          static_cast<uint8_t*>(buffer)[at + c] = static_cast<uint8_t>(v);
      }
    }
  }
}

bool load_frame(int clip, int frame, void* buffer) {
  StandinState& state = standin_state();
  StandinFrameSource source;
  int width, height;
  bool deep12;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    source = state.frame_source;
    width = state.width;
    height = state.height;
    deep12 = standin_depth_is_deep12(state.depth);
  }
  if (!buffer) return false;
  if (source)
    source(clip, frame, buffer, width, height, deep12);
  else
    draw_pattern(clip, frame, buffer, width, height, deep12);
  return true;
}

}  // namespace

bool standin_fill_buffer(int id, int clip, int frame) {
  return load_frame(clip, frame, standin_buffer_pixels(id));
}

extern "C" int sparkGetFrame(int clip, int frame, void* buffer) {
  standin_logf("sparkGetFrame(%d, %d)", clip, frame);
  return load_frame(clip, frame, buffer) ? 1 : 0;
}
