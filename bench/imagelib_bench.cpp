// Image data library on a 1920x1080 word RGBA frame, on the calling thread
// and through an 8-band executor: image_scale to a 128x128 grid and back,
// transposition, Porter-Duff "a over b", rotation by 17 degrees and the
// box-filter Gaussian blur of all four channels at radius 2, 10 and 50,
// beside a whole-frame copy as the memory floor (and, for the two-input
// "over", a pass that reads two frames and writes a third) and OpenCV's
// resize of the same images on 1 and 8 threads of its own pool.
//
// A frame and its copy (33 MB) nearly fit the 32 MB last-level cache of an
// 8-core server part, the three frames of "over" (50 MB) do not: repeated on
// the same images the copy runs from cache and "over" from memory. The
// FromMemory cases take each run's images from four sets in turn, so copy,
// transpose and "over" all start from memory, as frames of a clip do.
#include <cstdint>
#include <vector>

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
// or with none. Untimed runs first, one per image set, map every page of the
// outputs and leave the caches as the timed runs leave them, whichever case
// runs first.
template <typename Body>
void timed(benchmark::State& state, bool banded, Body body, int sets = 1) {
  ThreadBandExecutor eight_bands(8);
  imagelib_set_mp_exec(banded ? &eight_bands : nullptr, banded ? ThreadBandExecutor::exec : nullptr);
  for (int i = 0; i < sets; ++i) benchmark::DoNotOptimize(body());
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

// The frames of `sets` runs: run i reads frame(i, 0 .. inputs - 1) and
// writes out(i); each call of next() names the following run.
struct run_sets {
  std::vector<image_data*> images;
  int inputs, sets, run = 0;

  run_sets(int sets_, int inputs_, int out_width, int out_height) : inputs(inputs_), sets(sets_) {
    for (int i = 0; i < sets; ++i) {
      for (int k = 0; k < inputs; ++k) images.push_back(frame_image(static_cast<uint32_t>(7 * (i * inputs + k))));
      images.push_back(image_data_create(out_width, out_height, 4, IMAGE_PIXEL_WORD, 1));
    }
  }
  ~run_sets() {
    for (image_data* img : images) image_data_delete(img);
  }
  int next() {
    const int i = run;
    run = (run + 1) % sets;
    return i;
  }
  image_data* frame(int i, int k) const { return images[i * (inputs + 1) + k]; }
  image_data* out(int i) const { return images[i * (inputs + 1) + inputs]; }
};

void copy(benchmark::State& state, bool banded, int sets) {
  run_sets runs(sets, 1, 1920, 1080);
  timed(
      state, banded,
      [&] {
        const int i = runs.next();
        return image_data_copy(runs.frame(i, 0), runs.out(i));
      },
      sets);
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

void copy_two_to_one(benchmark::State& state, bool banded, int sets) {
  run_sets runs(sets, 2, 1920, 1080);
  timed(
      state, banded,
      [&] {
        const int i = runs.next();
        image_data* out = runs.out(i);
        three_frames frames{static_cast<const uint16_t*>(runs.frame(i, 0)->pixels),
                            static_cast<const uint16_t*>(runs.frame(i, 1)->pixels),
                            static_cast<uint16_t*>(out->pixels), out->row_bytes / 2};
        imagelib_dispatch(add_rows, out->height, &frames);
        return out->pixels;
      },
      sets);
}

void transpose(benchmark::State& state, bool banded, int sets) {
  run_sets runs(sets, 1, 1080, 1920);
  timed(
      state, banded,
      [&] {
        const int i = runs.next();
        return image_transpose(runs.frame(i, 0), runs.out(i));
      },
      sets);
}

void over(benchmark::State& state, bool banded, int sets) {
  run_sets runs(sets, 2, 1920, 1080);
  timed(
      state, banded,
      [&] {
        const int i = runs.next();
        return image_composite_porterduff(runs.out(i), runs.frame(i, 0), IMAGE_PD_A_OVER_B, runs.frame(i, 1), true,
                                          -1, -1, -1, -1);
      },
      sets);
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
// From cache: one set of images; from memory: four, taken in turn.
const int kFromCache = 1, kFromMemory = 4;
void BM_FrameCopy_Serial(benchmark::State& state) { copy(state, false, kFromCache); }
void BM_FrameCopy_8Bands(benchmark::State& state) { copy(state, true, kFromCache); }
void BM_FrameCopy_8Bands_FromMemory(benchmark::State& state) { copy(state, true, kFromMemory); }
void BM_TwoFramesToOne_Serial(benchmark::State& state) { copy_two_to_one(state, false, kFromCache); }
void BM_TwoFramesToOne_8Bands(benchmark::State& state) { copy_two_to_one(state, true, kFromCache); }
void BM_TwoFramesToOne_8Bands_FromMemory(benchmark::State& state) { copy_two_to_one(state, true, kFromMemory); }
void BM_Transpose_Serial(benchmark::State& state) { transpose(state, false, kFromCache); }
void BM_Transpose_8Bands(benchmark::State& state) { transpose(state, true, kFromCache); }
void BM_Transpose_8Bands_FromMemory(benchmark::State& state) { transpose(state, true, kFromMemory); }
void BM_PorterDuffOver_Serial(benchmark::State& state) { over(state, false, kFromCache); }
void BM_PorterDuffOver_8Bands(benchmark::State& state) { over(state, true, kFromCache); }
void BM_PorterDuffOver_8Bands_FromMemory(benchmark::State& state) { over(state, true, kFromMemory); }
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
BENCHMARK(BM_FrameCopy_8Bands_FromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TwoFramesToOne_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoFramesToOne_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TwoFramesToOne_8Bands_FromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transpose_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transpose_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transpose_8Bands_FromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PorterDuffOver_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PorterDuffOver_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PorterDuffOver_8Bands_FromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate17_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate17_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GaussianBlur_Serial)->Arg(2)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GaussianBlur_8Bands)->Arg(2)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();
