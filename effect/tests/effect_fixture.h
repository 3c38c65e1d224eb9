#ifndef EFFECT_TESTS_EFFECT_FIXTURE_H
#define EFFECT_TESTS_EFFECT_FIXTURE_H

// A fresh stand-in host and the effect as loaded for every test: every
// record back to its default, the globals to their load-time values.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control_records.h"
#include "host_state.h"
#include "q4_heap.h"
#include "standin_host.h"
#include "tidewright.h"

namespace effect_test {

struct RecordCopy {
  void* record;
  std::vector<unsigned char> bytes;
  int number;
  StandinControlKind kind;
};

#define EFFECT_TEST_COPY_None(n)
#define EFFECT_TEST_COPY_OF(n, kind, record)                                              \
  {&record,                                                                               \
   std::vector<unsigned char>(reinterpret_cast<unsigned char*>(&record),                  \
                              reinterpret_cast<unsigned char*>(&record) + sizeof record), \
   n, kind},
#define EFFECT_TEST_COPY_Float(n) EFFECT_TEST_COPY_OF(n, standin_float, SparkFloat##n)
#define EFFECT_TEST_COPY_UserFloat(n) EFFECT_TEST_COPY_OF(n, standin_user_float, SparkUserFloat##n)
#define EFFECT_TEST_COPY_Int(n) EFFECT_TEST_COPY_OF(n, standin_int, SparkInt##n)
#define EFFECT_TEST_COPY_Boolean(n) EFFECT_TEST_COPY_OF(n, standin_boolean, SparkBoolean##n)
#define EFFECT_TEST_COPY_Pup(n) EFFECT_TEST_COPY_OF(n, standin_pup, SparkPup##n)
#define EFFECT_TEST_COPY_Push(n) EFFECT_TEST_COPY_OF(n, standin_push, SparkPush##n)
#define EFFECT_TEST_COPY_String(n) EFFECT_TEST_COPY_OF(n, standin_string, SparkString##n)
#define EFFECT_TEST_COPY(n, record, object, member, page, def, low, high, step, flags, title, \
                         callback, form, rule)                                               \
  EFFECT_TEST_COPY_##record(n)

// The records as the library was loaded: copied before any test runs.
inline std::vector<RecordCopy>& loaded_records() {
  static std::vector<RecordCopy> copies = {TIDEWRIGHT_CONTROLS(EFFECT_TEST_COPY)};
  return copies;
}

}  // namespace effect_test

// Both heaps grant `grants` blocks in all, then refuse; counts the blocks
// still out.
class CountingHeaps {
 public:
  explicit CountingHeaps(int grants) : left_(grants) {
    set_q4_heap_memory_enable(true);
    set_q4_heap_normal_memory_overrides(this, allocate, reallocate, duplicate, release);
    set_q4_heap_image_memory_overrides(this, allocate, reallocate, release);
  }
  ~CountingHeaps() {
    set_q4_heap_normal_memory_overrides(nullptr, nullptr, nullptr, nullptr, nullptr);
    set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
    set_q4_heap_memory_enable(false);
  }
  CountingHeaps(const CountingHeaps&) = delete;
  CountingHeaps& operator=(const CountingHeaps&) = delete;
  int out() const { return out_; }

 private:
  static CountingHeaps* of(void* context) { return static_cast<CountingHeaps*>(context); }
  static void* allocate(void* context, unsigned size) {
    if (of(context)->left_-- <= 0) return nullptr;
    ++of(context)->out_;
    return std::malloc(size ? size : 1);
  }
  static void* reallocate(void* context, void* block, unsigned size) {
    return of(context)->left_-- > 0 ? std::realloc(block, size) : nullptr;
  }
  static char* duplicate(void* context, const char* text) {
    if (of(context)->left_-- <= 0) return nullptr;
    ++of(context)->out_;
    return strdup(text);
  }
  static void release(void* context, void* block) {
    if (block) --of(context)->out_;
    std::free(block);
  }
  int left_;
  int out_ = 0;
};

class EffectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const effect_test::RecordCopy& copy : effect_test::loaded_records())
      std::memcpy(copy.record, copy.bytes.data(), copy.bytes.size());
    DL_Sync_Ctrl = 1;
    deep12 = 0;
    no_buffers = 0;
    TempID = 0;
    Instance.DropSimulation();
    overlay_interaction = OverlayInteraction();
    for (OverlayControlQ4* widget : Instance.DrawnWidgets()) widget->picked = widget->hover = 0;
    standin_reset();
  }

  // The records made known to the host by number, as a host finds them by
  // name, so that its setups reach them.
  static void RegisterControls() {
    for (const effect_test::RecordCopy& copy : effect_test::loaded_records())
      standin_register_control(copy.number, copy.kind, copy.record);
  }

  // Start-up as the host does it, with frames of this size and depth.
  static void StartUp(int width, int height, int depth = 24) {
    standin_set_frame(width, height, depth);
    SparkInitialise(standin_info());
    SparkClips();
    SparkMemoryTempBuffers();
    SparkChannelEditor();
    SparkProcessStart();
  }

  // Loads the six clips from the host's test pattern and processes frame.
  static void* Process(unsigned frame) {
    standin_set_frame_number(frame);
    for (int clip = 0; clip < 6; ++clip) standin_fill_buffer(clip + 2, clip, static_cast<int>(frame));
    return SparkProcess(standin_info());
  }

  static std::vector<std::string> LogFrom(size_t first) {
    const std::vector<std::string> log = standin_log();
    return std::vector<std::string>(log.begin() + static_cast<long>(first), log.end());
  }
};

// Make sure the copy is taken at start, before any test changes a record.
static const bool effect_test_records_copied = !effect_test::loaded_records().empty();

#endif
