// Image data library on a 1920x1080 word RGBA frame, on the calling thread
// and through an 8-band executor: image_scale to a 128x128 grid and back,
// transposition, Porter-Duff "a over b", rotation by 17 degrees and the
// box-filter Gaussian blur of all four channels at radius 2, 10 and 50,
// beside a whole-frame copy as the memory floor (and, for the two-input
// "over", a pass that reads two frames and writes a third) and OpenCV's
// resize of the same images on 1 and 8 threads of its own pool.
#include <cstdint>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "image_blur.h"
#include "image_data.h"
#include "image_porterduff.h"
#include "image_rotate.h"
#include "image_scale.h"
#include "image_transpose.h"
#include "imagelib_kernel.h"
#include "thread_band_executor.h"

namespace {

image_data* frame_image(uint32_t seed) {
  image_data* img = image_data_create(1920, 1080, 4, IMAGE_PIXEL_WORD, 1);
  uint16_t* p = static_cast<uint16_t*>(img->pixels);
  for (int i = 0; i < 1920 * 1080 * 4; ++i) p[i] = static_cast<uint16_t>((i + seed) * 2654435761u >> 16);
  return img;
}

// Times body with the library's executor on 8 bands of the persistent pool,
// or with none. One untimed run first maps every page of the outputs and
// leaves the caches as the timed runs leave them, whichever case runs first.
template <typename Body>
void timed(benchmark::State& state, bool banded, Body body) {
  ThreadBandExecutor eight_bands(8);
  imagelib_set_mp_exec(banded ? &eight_bands : nullptr, banded ? ThreadBandExecutor::exec : nullptr);
  benchmark::DoNotOptimize(body());
  for (auto _ : state) benchmark::DoNotOptimize(body());
  imagelib_set_mp_exec(nullptr, nullptr);
}

void scale(benchmark::State& state, bool down, bool banded) {
  image_data* frame = frame_image(0);
  image_data* grid = image_data_create(128, 128, 4, IMAGE_PIXEL_WORD, 1);
  image_scale(frame, grid, IMAGELIB_KERNEL_LINEAR, false);
  timed(state, banded, [&] {
    return down ? image_scale(frame, grid, IMAGELIB_KERNEL_LINEAR, false)
                : image_scale(grid, frame, IMAGELIB_KERNEL_LINEAR, false);
  });
  image_data_delete(grid);
  image_data_delete(frame);
}

cv::Mat as_mat(image_data* img) {
  return cv::Mat(img->height, img->width, CV_16UC(img->channels), img->pixels, img->row_bytes);
}

// The peer: bilinear resize both ways, and the area average (the reducing
// filter closest to ours: every source pixel weighs in) frame to grid.
void cv_resize(benchmark::State& state, bool down, int interpolation, int threads) {
  cv::setNumThreads(threads);
  image_data* frame = frame_image(0);
  image_data* grid = image_data_create(128, 128, 4, IMAGE_PIXEL_WORD, 1);
  cv::Mat frame_mat = as_mat(frame), grid_mat = as_mat(grid);
  for (auto _ : state) {
    if (down)
      cv::resize(frame_mat, grid_mat, grid_mat.size(), 0, 0, interpolation);
    else
      cv::resize(grid_mat, frame_mat, frame_mat.size(), 0, 0, interpolation);
    benchmark::DoNotOptimize(down ? grid->pixels : frame->pixels);
  }
  cv::setNumThreads(-1);
  image_data_delete(grid);
  image_data_delete(frame);
}

void copy(benchmark::State& state, bool banded) {
  image_data* frame = frame_image(0);
  image_data* out = image_data_create(frame);
  timed(state, banded, [&] { return image_data_copy(frame, out); });
  image_data_delete(out);
  image_data_delete(frame);
}

struct three_frames {
  const uint16_t* a;
  const uint16_t* b;
  uint16_t* out;
  int64_t row_samples;
};

// Reads a row of each input and writes the sum, in a loop the compiler
// widens: the memory cost of any two-input pass, "over" included.
void add_rows(void* object, int first, int last) {
  const three_frames* f = static_cast<const three_frames*>(object);
  const int64_t from = first * f->row_samples, to = (last + 1) * f->row_samples;
  for (int64_t i = from; i < to; ++i) f->out[i] = static_cast<uint16_t>(f->a[i] + f->b[i]);
}

void copy_two_to_one(benchmark::State& state, bool banded) {
  image_data* a = frame_image(0);
  image_data* b = frame_image(7);
  image_data* out = image_data_create(a);
  three_frames frames{static_cast<const uint16_t*>(a->pixels), static_cast<const uint16_t*>(b->pixels),
                      static_cast<uint16_t*>(out->pixels), a->row_bytes / 2};
  timed(state, banded, [&] {
    imagelib_dispatch(add_rows, out->height, &frames);
    return out->pixels;
  });
  image_data_delete(out);
  image_data_delete(b);
  image_data_delete(a);
}

void transpose(benchmark::State& state, bool banded) {
  image_data* frame = frame_image(0);
  image_data* out = image_data_create(1080, 1920, 4, IMAGE_PIXEL_WORD, 1);
  timed(state, banded, [&] { return image_transpose(frame, out); });
  image_data_delete(out);
  image_data_delete(frame);
}

void over(benchmark::State& state, bool banded) {
  image_data* a = frame_image(0);
  image_data* b = frame_image(7);
  image_data* out = image_data_create(a);
  timed(state, banded,
        [&] { return image_composite_porterduff(out, a, IMAGE_PD_A_OVER_B, b, true, -1, -1, -1, -1); });
  image_data_delete(out);
  image_data_delete(b);
  image_data_delete(a);
}

void rotate(benchmark::State& state, bool banded) {
  image_data* frame = frame_image(0);
  timed(state, banded, [&] {
    image_data* turned = image_rotate(frame, 17.0, IMAGELIB_KERNEL_CUBIC_ONE, IMAGELIB_EDGE_ZERO);
    const bool ok = turned != nullptr;
    image_data_delete(turned);
    return ok;
  });
  image_data_delete(frame);
}

void blur(benchmark::State& state, bool banded) {
  image_data* frame = frame_image(0);
  const double radius = static_cast<double>(state.range(0));
  timed(state, banded, [&] { return image_gaussian_blur(frame, radius, radius, 0xF); });
  image_data_delete(frame);
}

void BM_ScaleFrameToGrid_Serial(benchmark::State& state) { scale(state, true, false); }
void BM_ScaleFrameToGrid_8Bands(benchmark::State& state) { scale(state, true, true); }
void BM_ScaleGridToFrame_Serial(benchmark::State& state) { scale(state, false, false); }
void BM_ScaleGridToFrame_8Bands(benchmark::State& state) { scale(state, false, true); }
void BM_CvResizeLinearFrameToGrid_1Thread(benchmark::State& state) { cv_resize(state, true, cv::INTER_LINEAR, 1); }
void BM_CvResizeLinearFrameToGrid_8Threads(benchmark::State& state) { cv_resize(state, true, cv::INTER_LINEAR, 8); }
void BM_CvResizeAreaFrameToGrid_1Thread(benchmark::State& state) { cv_resize(state, true, cv::INTER_AREA, 1); }
void BM_CvResizeAreaFrameToGrid_8Threads(benchmark::State& state) { cv_resize(state, true, cv::INTER_AREA, 8); }
void BM_CvResizeLinearGridToFrame_1Thread(benchmark::State& state) { cv_resize(state, false, cv::INTER_LINEAR, 1); }
void BM_CvResizeLinearGridToFrame_8Threads(benchmark::State& state) { cv_resize(state, false, cv::INTER_LINEAR, 8); }
void BM_FrameCopy_Serial(benchmark::State& state) { copy(state, false); }
void BM_FrameCopy_8Bands(benchmark::State& state) { copy(state, true); }
void BM_TwoFramesToOne_Serial(benchmark::State& state) { copy_two_to_one(state, false); }
void BM_TwoFramesToOne_8Bands(benchmark::State& state) { copy_two_to_one(state, true); }
void BM_Transpose_Serial(benchmark::State& state) { transpose(state, false); }
void BM_Transpose_8Bands(benchmark::State& state) { transpose(state, true); }
void BM_PorterDuffOver_Serial(benchmark::State& state) { over(state, false); }
void BM_PorterDuffOver_8Bands(benchmark::State& state) { over(state, true); }
void BM_Rotate17_Serial(benchmark::State& state) { rotate(state, false); }
void BM_Rotate17_8Bands(benchmark::State& state) { rotate(state, true); }
void BM_GaussianBlur_Serial(benchmark::State& state) { blur(state, false); }
void BM_GaussianBlur_8Bands(benchmark::State& state) { blur(state, true); }

}  // namespace

BENCHMARK(BM_ScaleFrameToGrid_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleFrameToGrid_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScaleGridToFrame_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleGridToFrame_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeLinearFrameToGrid_1Thread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeLinearFrameToGrid_8Threads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeAreaFrameToGrid_1Thread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeAreaFrameToGrid_8Threads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeLinearGridToFrame_1Thread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvResizeLinearGridToFrame_8Threads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameCopy_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameCopy_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TwoFramesToOne_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoFramesToOne_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transpose_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transpose_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PorterDuffOver_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PorterDuffOver_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate17_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate17_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GaussianBlur_Serial)->Arg(2)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GaussianBlur_8Bands)->Arg(2)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();
