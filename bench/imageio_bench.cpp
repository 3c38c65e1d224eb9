// Image files: ".tq4" writes and reads of a 2048x1556 word RGB frame beside
// a plain write and read of the same bytes with stdio (the floor), from the
// start of the file and from the ".tq4" data offset; TIFF files of the same
// frame through the image-file library (uncompressed and LZW, by
// writeline16 and readline16, and a copy in one strip) beside bare libtiff
// with the same tags; a 1920x1080 JPEG written
// and read by lines beside bare libjpeg with the same settings; the same
// 2048x1556 frame through the line calls as Cineon and run-length SGI files
// written and read, and a verbatim 16-bit SGI file read, each beside a plain
// write and read of that file's bytes.
// Single-threaded: the image-file library keeps global state. Files go to
// a private temporary folder.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <tiffio.h>

#include "image_data.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "q4_memory.h"
#include "sgi_image.h"

namespace {

const int kWidth = 2048;
const int kHeight = 1556;

// Reads are timed once the files written before them are on disk: the
// write-back the earlier write benchmarks leave behind would otherwise run
// beside the first reads and time the disk instead of the reader.
void settle_writes() { sync(); }

struct Scratch {
  std::string dir;
  image_data* frame;
  size_t bytes;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "q4bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) abort();
    dir = pattern;
    frame = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
    bytes = size_t(frame->row_bytes) * kHeight;
    uint16_t* p = static_cast<uint16_t*>(frame->pixels);
    for (size_t i = 0; i < bytes / 2; ++i) p[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
  }
  ~Scratch() {
    image_data_delete(frame);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

void BM_Tq4Write(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.tq4";
  for (auto _ : state) benchmark::DoNotOptimize(image_write_file(path.c_str(), s.frame, false));
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

// offset: where the bytes start in the file. The ".tq4" pixels start at
// 216 for three channels, and a copy to or from the page cache at an offset
// that is not a multiple of the cache line is itself slower than at 0.
void plain_write(benchmark::State& state, long offset) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.raw";
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "wb");
    fseek(file, offset, SEEK_SET);
    benchmark::DoNotOptimize(fwrite(s.frame->pixels, 1, s.bytes, file));
    fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void BM_PlainWrite(benchmark::State& state) { plain_write(state, 0); }
void BM_PlainWriteAtTq4DataOffset(benchmark::State& state) { plain_write(state, 216); }

void BM_Tq4Read(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.tq4";
  image_write_file(path.c_str(), s.frame, false);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  settle_writes();
  for (auto _ : state) benchmark::DoNotOptimize(image_read_file(path.c_str(), into));
  image_data_delete(into);
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void plain_read(benchmark::State& state, long offset) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.raw";
  FILE* out = fopen(path.c_str(), "wb");
  fseek(out, offset, SEEK_SET);
  fwrite(s.frame->pixels, 1, s.bytes, out);
  fclose(out);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  settle_writes();
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "rb");
    fseek(file, offset, SEEK_SET);
    benchmark::DoNotOptimize(fread(into->pixels, 1, s.bytes, file));
    fclose(file);
  }
  image_data_delete(into);
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void BM_PlainRead(benchmark::State& state) { plain_read(state, 0); }
void BM_PlainReadAtTq4DataOffset(benchmark::State& state) { plain_read(state, 216); }

// The frame as 16-bit RGBA lines, alpha opaque: what writeline16 takes.
const std::vector<unsigned short>& frame_lines() {
  static std::vector<unsigned short> lines;
  if (lines.empty()) {
    const uint16_t* p = static_cast<const uint16_t*>(scratch().frame->pixels);
    lines.resize(size_t(kWidth) * kHeight * 4);
    for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
      for (int c = 0; c < 3; ++c) lines[4 * i + c] = p[3 * i + c];
      lines[4 * i + 3] = 65535;
    }
  }
  return lines;
}

const char* const compressions[] = {"none", "lzw"};

std::string tiff_path(bool lzw) { return scratch().dir + (lzw ? "/frame_lzw.tif" : "/frame.tif"); }

// One use of the image-file library for TIFF files of 3 channels.
struct TiffUse {
  explicit TiffUse(bool lzw) {
    initimg();
    setkeyval("IMGIO_TIFF_CHAN", "3");
    setkeyval("IMGIO_TIFF_COMPRESS", compressions[lzw]);
    setimageformat("tiff");
  }
  ~TiffUse() { finishimg(); }
};

// One use of the image-file library in a format.
struct Imgio {
  explicit Imgio(const char* format) {
    initimg();
    setimageformat(format);
  }
  ~Imgio() { finishimg(); }
};

bool write_lines(const std::string& path) {
  imginfo* h = createimg(path.c_str(), kWidth, kHeight, 16);
  if (!h) return false;
  const std::vector<uint16_t>& lines = frame_lines();
  bool ok = true;
  for (int y = 0; y < kHeight; ++y)
    ok = writeline16(h, const_cast<unsigned short*>(lines.data()) + size_t(y) * kWidth * 4) == 0 && ok;
  return closeimg(h) == 0 && ok;
}

bool read_lines(const std::string& path, std::vector<uint16_t>& into) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  bool ok = true;
  for (int y = 0; y < kHeight; ++y) ok = readline16(h, into.data() + size_t(y) * kWidth * 4) == 0 && ok;
  return closeimg(h) == 0 && ok;
}

bool write_tiff(bool lzw) {
  TiffUse use(lzw);
  return write_lines(tiff_path(lzw));
}

bool read_tiff(const std::string& path, std::vector<unsigned short>& into) {
  TiffUse use(false);
  return read_lines(path, into);
}

void BM_TiffWrite(benchmark::State& state) {
  const bool lzw = state.range(0) != 0;
  frame_lines();
  for (auto _ : state)
    if (!write_tiff(lzw)) state.SkipWithError("write failed");
  state.SetLabel(compressions[lzw]);
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

void BM_TiffRead(benchmark::State& state) {
  const bool lzw = state.range(0) != 0;
  if (!write_tiff(lzw)) state.SkipWithError("write failed");
  std::vector<unsigned short> into(size_t(kWidth) * kHeight * 4);
  settle_writes();
  for (auto _ : state)
    if (!read_tiff(tiff_path(lzw), into)) state.SkipWithError("read failed");
  state.SetLabel(compressions[lzw]);
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

// The frame with the library's tags, as bare libtiff writes it; rows per
// strip 0 gives the library's own choice, max(1, 8192 / scanline).
bool libtiff_write(const std::string& path, bool lzw, uint32_t rows) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  const size_t scanline = size_t(kWidth) * 6;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows ? rows : uint32_t(std::max<size_t>(1, 8192 / scanline)));
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  uint8_t* pixels = static_cast<uint8_t*>(scratch().frame->pixels);
  bool ok = true;
  for (int y = 0; y < kHeight; ++y) ok = TIFFWriteScanline(tif, pixels + y * scanline, y, 0) == 1 && ok;
  TIFFClose(tif);
  return ok;
}

void BM_LibtiffWrite(benchmark::State& state) {
  const bool lzw = state.range(0) != 0;
  const std::string path = scratch().dir + "/bare.tif";
  for (auto _ : state)
    if (!libtiff_write(path, lzw, 0)) state.SkipWithError("write failed");
  state.SetLabel(compressions[lzw]);
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

bool libtiff_read(const std::string& path, image_data* into) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return false;
  bool ok = true;
  for (int y = 0; y < kHeight; ++y)
    ok = TIFFReadScanline(tif, static_cast<uint8_t*>(into->pixels) + size_t(y) * into->row_bytes, y, 0) == 1 && ok;
  TIFFClose(tif);
  return ok;
}

void BM_LibtiffRead(benchmark::State& state) {
  const bool lzw = state.range(0) != 0;
  const std::string path = scratch().dir + "/bare.tif";
  libtiff_write(path, lzw, 0);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  settle_writes();
  for (auto _ : state)
    if (!libtiff_read(path, into)) state.SkipWithError("read failed");
  image_data_delete(into);
  state.SetLabel(compressions[lzw]);
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

// One uncompressed strip, written by bare libtiff: the library reads its
// lines into a window of the file's bytes, bare libtiff through its own
// scanline reading.
void BM_TiffReadOneStrip(benchmark::State& state) {
  const std::string path = scratch().dir + "/one_strip.tif";
  if (!libtiff_write(path, false, kHeight)) state.SkipWithError("write failed");
  std::vector<unsigned short> into(size_t(kWidth) * kHeight * 4);
  settle_writes();
  for (auto _ : state)
    if (!read_tiff(path, into)) state.SkipWithError("read failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

void BM_LibtiffReadOneStrip(benchmark::State& state) {
  const std::string path = scratch().dir + "/one_strip.tif";
  libtiff_write(path, false, kHeight);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  settle_writes();
  for (auto _ : state)
    if (!libtiff_read(path, into)) state.SkipWithError("read failed");
  image_data_delete(into);
  state.SetBytesProcessed(int64_t(state.iterations()) * scratch().bytes);
}

const int kJpegWidth = 1920;
const int kJpegHeight = 1080;

// Smooth shading with fine noise and a few edges, as a camera frame has:
// the coder's work depends on it.
const std::vector<uint8_t>& jpeg_source() {
  static std::vector<uint8_t> rgb;
  if (rgb.empty()) {
    rgb.resize(size_t(kJpegWidth) * kJpegHeight * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < kJpegHeight; ++y)
      for (int x = 0; x < kJpegWidth; ++x)
        for (int c = 0; c < 3; ++c) {
          noise = noise * 1664525u + 1013904223u;
          const double shade = 120 + 80 * std::sin(x * 0.004 + c) * std::cos(y * 0.006 - c) +
                               ((x / 240 + y / 180) % 2 ? 25 : -25);
          const int v = int(shade) + int(noise >> 28) - 8;
          rgb[(size_t(y) * kJpegWidth + x) * 3 + c] = uint8_t(std::min(255, std::max(0, v)));
        }
  }
  return rgb;
}

const std::vector<unsigned>& jpeg_lines() {
  static std::vector<unsigned> lines;
  if (lines.empty()) {
    const std::vector<uint8_t>& rgb = jpeg_source();
    lines.resize(size_t(kJpegWidth) * kJpegHeight);
    for (size_t i = 0; i < lines.size(); ++i)
      lines[i] = rgb[3 * i] | rgb[3 * i + 1] << 8 | rgb[3 * i + 2] << 16 | 255u << 24;
  }
  return lines;
}

struct JpegUse {
  JpegUse() {
    initimg();
    setimageformat("jpeg");
  }
  ~JpegUse() { finishimg(); }
};

bool write_jpeg(const std::string& path) {
  JpegUse use;
  imginfo* h = createimg(path.c_str(), kJpegWidth, kJpegHeight, 8);
  if (!h) return false;
  unsigned* lines = const_cast<unsigned*>(jpeg_lines().data());
  bool ok = true;
  for (int y = 0; y < kJpegHeight; ++y) ok = writeline(h, lines + size_t(y) * kJpegWidth) == 0 && ok;
  return closeimg(h) == 0 && ok;
}

void BM_JpegWrite(benchmark::State& state) {
  const std::string path = scratch().dir + "/frame.jpg";
  jpeg_lines();
  for (auto _ : state)
    if (!write_jpeg(path)) state.SkipWithError("write failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * kJpegWidth * kJpegHeight);
}

void BM_JpegRead(benchmark::State& state) {
  const std::string path = scratch().dir + "/frame.jpg";
  if (!write_jpeg(path)) state.SkipWithError("write failed");
  std::vector<unsigned> into(size_t(kJpegWidth) * kJpegHeight);
  settle_writes();
  for (auto _ : state) {
    JpegUse use;
    imginfo* h = openimg(path.c_str());
    if (!h) {
      state.SkipWithError("open failed");
      break;
    }
    for (int y = 0; y < kJpegHeight; ++y) readline(h, into.data() + size_t(y) * kJpegWidth);
    closeimg(h);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kJpegWidth * kJpegHeight);
}

// Bare libjpeg with the library's defaults, row by row from and to an RGB
// buffer.
void BM_LibjpegWrite(benchmark::State& state) {
  const std::string path = scratch().dir + "/bare.jpg";
  const std::vector<uint8_t>& rgb = jpeg_source();
  for (auto _ : state) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    FILE* file = fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&c, file);
    c.image_width = kJpegWidth;
    c.image_height = kJpegHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + size_t(c.next_scanline) * kJpegWidth * 3;
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(file);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kJpegWidth * kJpegHeight);
}

void BM_LibjpegRead(benchmark::State& state) {
  const std::string path = scratch().dir + "/frame.jpg";
  if (!write_jpeg(path)) state.SkipWithError("write failed");
  std::vector<uint8_t> rgb(size_t(kJpegWidth) * kJpegHeight * 3);
  settle_writes();
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    FILE* file = fopen(path.c_str(), "rb");
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = rgb.data() + size_t(d.output_scanline) * kJpegWidth * 3;
      jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(file);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kJpegWidth * kJpegHeight);
}

void line_write(benchmark::State& state, const char* format, const char* name) {
  Imgio use(format);
  const std::string path = scratch().dir + "/" + name;
  for (auto _ : state)
    if (!write_lines(path)) state.SkipWithError("write failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * std::filesystem::file_size(path));
}

// The frame's file in a format, made through the line calls once: every
// benchmark runs on its own, whatever the filter.
std::string frame_file(const char* format, const char* name) {
  const std::string path = scratch().dir + "/" + name;
  if (!std::filesystem::exists(path)) {
    Imgio use(format);
    if (!write_lines(path)) abort();
  }
  return path;
}

// The driver writes run-length files of bytes; the verbatim 16-bit file
// comes from the SGI image library.
std::string verbatim_sgi() {
  const std::string path = scratch().dir + "/verbatim.sgi";
  if (std::filesystem::exists(path)) return path;
  SgiImage* image = iopen(path.c_str(), "w", SGI_VERBATIM | 2, 3, kWidth, kHeight, 3);
  if (!image) abort();
  const std::vector<uint16_t>& lines = frame_lines();
  std::vector<uint16_t> row(kWidth);
  for (int y = 0; y < kHeight; ++y)
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < kWidth; ++x) row[x] = lines[(size_t(y) * kWidth + x) * 4 + c];
      if (putrow(image, row.data(), y, c) < 0) abort();
    }
  if (iclose(image) != 0) abort();
  q4_free_c(image, __FILE__, __LINE__);
  return path;
}

void line_read(benchmark::State& state, const char* format, const std::string& path) {
  Imgio use(format);
  std::vector<uint16_t> into(size_t(kWidth) * kHeight * 4);
  settle_writes();
  for (auto _ : state)
    if (!read_lines(path, into)) state.SkipWithError("read failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * std::filesystem::file_size(path));
}

// A plain write and read of a file's own bytes.
std::vector<char> bytes_of(const std::string& path) {
  std::vector<char> bytes(std::filesystem::file_size(path));
  FILE* in = fopen(path.c_str(), "rb");
  if (!in || fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) abort();
  fclose(in);
  return bytes;
}

void floor_write(benchmark::State& state, const std::string& path) {
  const std::vector<char> bytes = bytes_of(path);
  const std::string copy = path + ".plain";
  for (auto _ : state) {
    FILE* file = fopen(copy.c_str(), "wb");
    benchmark::DoNotOptimize(fwrite(bytes.data(), 1, bytes.size(), file));
    fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void floor_read(benchmark::State& state, const std::string& path) {
  std::vector<char> bytes(std::filesystem::file_size(path));
  settle_writes();
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "rb");
    benchmark::DoNotOptimize(fread(bytes.data(), 1, bytes.size(), file));
    fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void BM_CineonWrite(benchmark::State& state) { line_write(state, "cin", "frame_cin"); }
void BM_CineonRead(benchmark::State& state) { line_read(state, "cin", frame_file("cin", "frame_cin")); }
void BM_PlainWriteOfCineon(benchmark::State& state) { floor_write(state, frame_file("cin", "frame_cin")); }
void BM_PlainReadOfCineon(benchmark::State& state) { floor_read(state, frame_file("cin", "frame_cin")); }
void BM_SgiRleWrite(benchmark::State& state) { line_write(state, "sgisgi", "frame.sgi"); }
void BM_SgiRleRead(benchmark::State& state) { line_read(state, "sgisgi", frame_file("sgisgi", "frame.sgi")); }
void BM_PlainWriteOfSgiRle(benchmark::State& state) { floor_write(state, frame_file("sgisgi", "frame.sgi")); }
void BM_PlainReadOfSgiRle(benchmark::State& state) { floor_read(state, frame_file("sgisgi", "frame.sgi")); }
void BM_SgiVerbatimRead(benchmark::State& state) { line_read(state, "sgisgi", verbatim_sgi()); }
void BM_PlainReadOfSgiVerbatim(benchmark::State& state) { floor_read(state, verbatim_sgi()); }

}  // namespace

BENCHMARK(BM_Tq4Write)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteAtTq4DataOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Tq4Read)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadAtTq4DataOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibtiffWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibtiffRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffReadOneStrip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibtiffReadOneStrip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibjpegWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibjpegRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CineonWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteOfCineon)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CineonRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadOfCineon)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SgiRleWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteOfSgiRle)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SgiRleRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadOfSgiRle)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SgiVerbatimRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadOfSgiVerbatim)->Unit(benchmark::kMillisecond)->UseRealTime();
