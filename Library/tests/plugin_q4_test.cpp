#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include "ImageQ4.h"
#include "PluginQ4.h"
#include "SourceQ4.h"
#include "band_split.h"
#include "frame_fixture.h"
#include "print_error.h"
#include "q4_heap.h"

namespace {

typedef FrameTest PluginQ4Test;
typedef std::tuple<void*, int, int> Call;

std::mutex calls_mutex;
std::vector<Call> calls;

void record_worker(void* object, int first, int last) {
  std::lock_guard<std::mutex> lock(calls_mutex);
  calls.emplace_back(object, first, last);
}

std::vector<Call> sorted_calls() {
  std::vector<Call> copy = calls;
  std::sort(copy.begin(), copy.end(),
            [](const Call& a, const Call& b) { return std::get<2>(a) < std::get<2>(b); });
  return copy;
}

class CountingPlugin : public PluginQ4 {
 public:
  explicit CountingPlugin(long rows) : hits(static_cast<size_t>(rows)) {}
  virtual void Count(long first, long last) {
    for (long y = first; y <= last; ++y) hits[static_cast<size_t>(y)]++;
  }
  std::vector<std::atomic<int>> hits;
};

class CountingImage : public ImageQ4 {
 public:
  explicit CountingImage(int rows) : ImageQ4(1, rows, 1.0f, nullptr, nullptr), hits(static_cast<size_t>(rows)) {}
  void Count(long first, long last) {
    for (long y = first; y <= last; ++y) hits[static_cast<size_t>(y)]++;
  }
  std::vector<std::atomic<int>> hits;
};

// What the frame entry stores in DLnumProc: the signed byte at offset 4148
// of the info record.
int frame_entry_process_count(const SparkHostInfo& info) {
  unsigned char bytes[sizeof info];
  std::memcpy(bytes, &info, sizeof info);
  return static_cast<int8_t>(bytes[4148]);
}

// While alive, every image-heap block arrives filled with 0x5A instead of
// whatever the system allocator happens to hand out.
class DirtyImageHeap {
 public:
  DirtyImageHeap() {
    set_q4_heap_image_memory_overrides(this, &allocate, &reallocate, &release);
    set_q4_heap_memory_enable(true);
  }
  ~DirtyImageHeap() {
    set_q4_heap_memory_enable(false);
    set_q4_heap_image_memory_overrides(nullptr, nullptr, nullptr, nullptr);
  }
  int allocations = 0;

 private:
  static void* allocate(void* context, unsigned size) {
    ++static_cast<DirtyImageHeap*>(context)->allocations;
    void* block = std::malloc(size);
    if (block) std::memset(block, 0x5A, size);
    return block;
  }
  static void* reallocate(void*, void* block, unsigned size) { return std::realloc(block, size); }
  static void release(void*, void* block) { std::free(block); }
};

class OverridingPlugin : public CountingPlugin {
 public:
  OverridingPlugin() : CountingPlugin(4) {}
  void Count(long first, long last) override {
    for (long y = first; y <= last; ++y) hits[static_cast<size_t>(y)] += 10;
  }
};

}  // namespace

TEST(BandSplitTest, BandsAsTheHostSplitsThem) {
  long first, last;
  const long expect10on3[3][2] = {{0, 2}, {3, 5}, {6, 9}};
  for (int i = 0; i < 3; ++i) {
    band_split(i, 10, 3, first, last);
    EXPECT_EQ(first, expect10on3[i][0]);
    EXPECT_EQ(last, expect10on3[i][1]);
  }
  const long expect10on4[4][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 9}};
  for (int i = 0; i < 4; ++i) {
    band_split(i, 10, 4, first, last);
    EXPECT_EQ(first, expect10on4[i][0]);
    EXPECT_EQ(last, expect10on4[i][1]);
  }
  for (int i = 0; i < 3; ++i) {  // fewer rows than workers: only the last works
    band_split(i, 3, 4, first, last);
    EXPECT_GT(first, last);
  }
  band_split(3, 3, 4, first, last);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 2);
  for (long processes : {0L, -1L, -128L}) {  // counts below 1 split as 1
    band_split(0, 7, processes, first, last);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 6);
  }
  band_split(5, 7, 2, first, last);  // a worker the split does not know
  EXPECT_GT(first, last);
}

TEST_F(PluginQ4Test, LibraryExecutorGivesTheObjectItsBands) {
  PluginQ4 plugin;
  int object = 0;
  use_workers(3);
  calls.clear();
  lib_mp_exec(&plugin, &record_worker, 10, &object);
  EXPECT_EQ(sorted_calls(), (std::vector<Call>{Call(&object, 0, 2), Call(&object, 3, 5),
                                               Call(&object, 6, 9)}));
  // Fewer rows than workers: a band a row, none empty.
  use_workers(4);
  calls.clear();
  lib_mp_exec(&plugin, &record_worker, 2, &object);
  EXPECT_EQ(sorted_calls(), (std::vector<Call>{Call(&object, 0, 0), Call(&object, 1, 1)}));
  calls.clear();
  lib_mp_exec(&plugin, &record_worker, 0, &object);
  EXPECT_EQ(sorted_calls(), (std::vector<Call>{Call(&object, 0, -1)}));
  EXPECT_EQ(lib_abort_render(&plugin), 0);
  EXPECT_EQ(lib_abort_render(nullptr), 0);
}

TEST_F(PluginQ4Test, EveryRowRunsExactlyOnceOnRealThreads) {
  for (int workers : {1, 2, 7, 16}) {
    use_workers(workers);
    CountingPlugin plugin(1000);
    EXPECT_EQ(plugin.MultiProcess(static_cast<PluginQ4::BandWorker>(&CountingPlugin::Count), 1000),
              workers);
    for (const auto& hit : plugin.hits) ASSERT_EQ(hit.load(), 1);
  }
  EXPECT_GE(standin_log_count("sparkMpFork(3, 16)"), 1);
}

// A host may present a process byte of 0 or below (or a wrapped one) while
// it runs several workers: read as the frame entry reads it, every row
// still runs exactly once, in the framework's bands and the image's.
TEST_F(PluginQ4Test, ProcessByteBelowOneWithSeveralHostWorkers) {
  standin_set_processes(3);
  for (int raw : {0, -5, 259}) {
    standin_set_info_procs_byte(raw);
    DLnumProc = frame_entry_process_count(standin_info());
    EXPECT_EQ(DLnumProc, raw == 259 ? 3 : raw);
    CountingPlugin plugin(11);
    EXPECT_EQ(plugin.MultiProcess(static_cast<PluginQ4::BandWorker>(&CountingPlugin::Count), 11), 3);
    for (const auto& hit : plugin.hits) ASSERT_EQ(hit.load(), 1) << "byte " << raw;
    CountingImage image(11);
    EXPECT_EQ(image.MultiProcess(static_cast<ImageQ4::BandWorker>(&CountingImage::Count), 11), 3);
    for (const auto& hit : image.hits) ASSERT_EQ(hit.load(), 1) << "byte " << raw;
  }
  // A process byte above the workers the host runs: the host's calls claim
  // the bands, so the bands past the last worker's are not lost.
  DLnumProc = 5;
  CountingPlugin plugin(11);
  EXPECT_EQ(plugin.MultiProcess(static_cast<PluginQ4::BandWorker>(&CountingPlugin::Count), 11), 3);
  for (const auto& hit : plugin.hits) ASSERT_EQ(hit.load(), 1);
  EXPECT_EQ(standin_log_count("sparkMpFork(3, 3)"), 7);
}

TEST_F(PluginQ4Test, VirtualWorkersResolveThroughTheObject) {
  use_workers(2);
  OverridingPlugin plugin;
  plugin.MultiProcess(static_cast<PluginQ4::BandWorker>(&CountingPlugin::Count), 4);
  for (const auto& hit : plugin.hits) EXPECT_EQ(hit.load(), 10);
}

TEST_F(PluginQ4Test, ConstructionDefaults) {
  PluginQ4 plugin;
  EXPECT_EQ(plugin.frame, 0.0);
  EXPECT_EQ(plugin.state_flag, 1);
  EXPECT_EQ(plugin.frame_flag, 1);
  EXPECT_EQ(plugin.pen_pressure, 0.0f);
  EXPECT_EQ(plugin.AbortRender(), 0);
  SourceQ4 source;
  EXPECT_EQ(source.enabled, 1);
  EXPECT_EQ(source.temp_id, nullptr);
  EXPECT_EQ(source.image, nullptr);
  ResultQ4 result;
  EXPECT_EQ(result.image, nullptr);
}

class SourceTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    standin_set_frame(8, 6, 24);
    TempID = sparkMemRegisterBuffer();
    ASSERT_TRUE(sparkMemGetBuffer(TempID, &TempBuf));
    DLwidth = 8;
    DLheight = 6;
    source.temp_id = &TempID;
    source.temp_buf = &TempBuf;
    source.clip = 3;
  }
  SourceQ4 source;
};

TEST_F(SourceTest, GetValueFetchesTheNearestFrame) {
  ImageQ4* image = new ImageQ4(8, 6, 1.0f, nullptr, nullptr);
  image->pixel_aspect = 0.9;
  ImageQ4* const original = image;
  source.GetValue(4.5, image);
  EXPECT_EQ(image, original);
  EXPECT_EQ(standin_log_count("sparkGetFrame(3, 5)"), 1);
  EXPECT_EQ(image->rows[2][7].g >> 7, static_cast<int>(standin_pattern_value(3, 5, 7, 2, 1, false)));
  EXPECT_DOUBLE_EQ(image->pixel_aspect, 0.9);
  source.GetValue(4.49, image);
  EXPECT_EQ(standin_log_count("sparkGetFrame(3, 4)"), 1);
  EXPECT_EQ(image->rows[0][0].r >> 7, static_cast<int>(standin_pattern_value(3, 4, 0, 0, 0, false)));
  delete image;
}

TEST_F(SourceTest, GetValueAtPreviewScaleAndTwelveBits) {
  for (int depth : {48, 64}) {  // both host depths carry 12-bit words
    ASSERT_TRUE(standin_set_frame(8, 6, depth));
    ASSERT_TRUE(sparkMemGetBuffer(TempID, &TempBuf));
    source.deep12 = 1;
    DLscalesr = 2;
    ImageQ4* image = new ImageQ4(4, 4, 1.0f, nullptr, nullptr);
    source.GetValue(1.0, image);
    // Row k comes from host row 1 + 2k, column m from host column 2m; the
    // last sampled pixel lies past where an 8-bit frame would end.
    const unsigned word = standin_pattern_value(3, 1, 6, 3, 2, true);
    EXPECT_EQ(image->rows[1][3].b >> 3, static_cast<int>(word >> 4)) << depth;
    const unsigned last = standin_pattern_value(3, 1, 6, 5, 0, true);
    EXPECT_EQ(image->rows[2][3].r >> 3, static_cast<int>(last >> 4)) << depth;
    delete image;
  }
}

TEST_F(SourceTest, GetValueWithoutTempBufferReportsAndKeepsTheImage) {
  source.temp_id = nullptr;
  ImageQ4 image(8, 6, 1.0f, nullptr, nullptr);
  image.Fill(1, 2, 3, 4);
  ImageQ4* target = &image;
  testing::internal::CaptureStderr();
  source.GetValue(2.0, target);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(target, &image);
  EXPECT_EQ(image.rows[5][7].r, 1);
  EXPECT_EQ(standin_log_count("sparkGetFrame"), 0);
  EXPECT_EQ(standin_log_count("sparkMessage(Random Frame Access requested via GetValue(), but "
                              "no temp buf allocated. (DLRandom in .plugin?)\n)"),
            1);
  EXPECT_NE(err.find("SPARK_MESSAGE::\tRandom Frame Access"), std::string::npos);
}

TEST_F(SourceTest, GetValueLeavesImageOnNullImageOrFailedConversion) {
  ImageQ4* none = nullptr;
  source.GetValue(1.0, none);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(standin_log_count("sparkGetFrame"), 0);
  SparkMemBuf empty = {};
  source.temp_buf = &empty;  // the host gave no pixels
  ImageQ4 image(8, 6, 1.0f, nullptr, nullptr);
  image.Fill(9, 9, 9, 9);
  ImageQ4* target = &image;
  source.GetValue(1.0, target);
  EXPECT_EQ(target, &image);
  EXPECT_EQ(image.rows[0][0].r, 9);
}

TEST_F(SourceTest, TrackDataDecodesTwoSignedValuesPerPixel) {
  use_workers(3);
  standin_set_frame_source([](int, int frame, void* buffer, int w, int h, bool) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    for (int i = 0; i < w * h; ++i) {
      p[3 * i] = 255;                              // R = 32767
      p[3 * i + 1] = static_cast<uint8_t>(frame);  // G = frame << 7 | frame >> 1
      p[3 * i + 2] = 0;
    }
  });
  PluginQ4 plugin;
  ImageQ4 current(8, 6, 1.0f, nullptr, nullptr);
  source.image = &current;
  std::unique_ptr<float[]> data(plugin.GetTrackData(&source, 3.0));
  ASSERT_TRUE(data);
  EXPECT_EQ(standin_log_count("sparkGetFrame(3, 6)"), 1);  // frame 2 x 3
  // G = 6 << 7 | 3 = 771; u = (32767 >> 7 | 771 << 1) = 255 | 1542 = 1791.
  const float u = static_cast<float>(255 | (771 << 1)) / 256.0f;
  // v: B = 0 and alpha 32767 << 1 = 65534 as signed 16 bits: -2.
  for (int i = 0; i < 8 * 6; ++i) {
    ASSERT_FLOAT_EQ(data[2 * i], u);
    ASSERT_FLOAT_EQ(data[2 * i + 1], -2.0f / 256.0f);
  }
  EXPECT_EQ(plugin.GetTrackData(nullptr, 1.0), nullptr);
}

// The image the fetch would fill starts on a heap block of 0x5A bytes: only
// the explicit zero fill keeps a failed fetch from decoding that.
TEST_F(SourceTest, TrackDataWithoutTempBufferDecodesZeros) {
  PluginQ4 plugin;
  ImageQ4 current(5, 3, 1.0f, nullptr, nullptr);
  source.image = &current;
  source.temp_id = nullptr;
  std::unique_ptr<float[]> data;
  {
    DirtyImageHeap heap;
    testing::internal::CaptureStderr();
    data.reset(plugin.GetTrackData(&source, 3.0));
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(heap.allocations, 1);  // the fetch image came from the dirty heap
  }
  ASSERT_TRUE(data);
  for (int i = 0; i < 5 * 3 * 2; ++i) EXPECT_EQ(data[i], 0.0f) << i;
}

TEST_F(PluginQ4Test, ImgToTvFixedPointEdgeValues) {
  PluginQ4 plugin;
  ImageQ4 image(2, 1, 1.0f, nullptr, nullptr);
  image.rows[0][0] = PixelQ4{32767, 0, 0, 0};
  image.rows[0][1] = PixelQ4{0, 16384, 0, 0};
  float data[4] = {};
  plugin.track_image = &image;
  plugin.track_data = data;
  plugin.mp_ImgToTV(0, 0);
  EXPECT_FLOAT_EQ(data[0], 255.0f / 256.0f);
  EXPECT_FLOAT_EQ(data[2], -128.0f);
  EXPECT_FLOAT_EQ(data[1], 0.0f);
}

TEST_F(PluginQ4Test, PrintErrorGoesToTheHostAndStandardError) {
  testing::internal::CaptureStderr();
  PrintError("disk full");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SPARK_MESSAGE::\tdisk full\n");
  EXPECT_EQ(standin_log(), std::vector<std::string>{"sparkMessage(disk full)"});
}
