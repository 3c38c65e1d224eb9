#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "peer_images.h"
#include "temp_dir.h"

namespace {

const int kWidth = 45;  // not a multiple of the 8 or 16 pixel blocks
const int kHeight = 37;

// A smooth picture with some edges, as a camera might see it.
int smooth(int x, int y, int c) {
  const double v = 128 + 90 * std::sin(x * 0.11 + c) * std::cos(y * 0.07 - c) + (x > 30 ? 20 : 0);
  return static_cast<int>(std::lround(v));
}

std::vector<uint8_t> smooth_samples(int channels) {
  std::vector<uint8_t> samples;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < channels; ++c) samples.push_back(static_cast<uint8_t>(smooth(x, y, c)));
  return samples;
}

struct JpegSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  JpegSession() { setimageformat("jpeg"); }
};

struct Read {
  int width = 0, height = 0;
  std::vector<unsigned> narrow;        // 8-bit lines, file line 0 first
  std::vector<unsigned short> wide;    // 16-bit lines
};

bool read_lines(const std::string& path, Read* read) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  read->width = h->file_width;
  read->height = h->file_height;
  const size_t pixels = size_t(h->file_width) * h->file_height;
  read->narrow.assign(pixels, 0);
  read->wide.assign(4 * pixels, 0);
  bool ok = h->bits16 == 0 && h->line_order == IMGIO_TOP_FIRST;
  for (int y = 0; y < h->file_height && ok; ++y)
    ok = readline(h, read->narrow.data() + size_t(y) * h->file_width) == 0;
  ok = ok && makeseekable(h) == 0 && seekline(h, 0) == 0;
  for (int y = 0; y < h->file_height && ok; ++y)
    ok = readline16(h, read->wide.data() + 4 * size_t(y) * h->file_width) == 0;
  closeimg(h);
  return ok;
}

// A CMYK file written with libjpeg at full quality.
void write_cmyk(const std::string& path, const std::vector<uint8_t>& samples) {
  jpeg_compress_struct c;
  jpeg_error_mgr errors;
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_stdio_dest(&c, file);
  c.image_width = kWidth;
  c.image_height = kHeight;
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + size_t(c.next_scanline) * kWidth * 4;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  fclose(file);
}

// Writes the smooth picture through the handle, in 8-bit or 16-bit lines
// (whose low bytes and alpha are noise the file must not show).
bool write_own(const std::string& path, bool deep) {
  imginfo* h = createimg(path.c_str(), kWidth, kHeight, deep ? 16 : 8);
  if (!h) return false;
  bool ok = h->line_order == IMGIO_TOP_FIRST;
  std::vector<unsigned> narrow(kWidth);
  std::vector<unsigned short> wide(4 * kWidth);
  for (int y = 0; y < kHeight && ok; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      narrow[x] = unsigned((x * 31 + y) & 255) << 24;
      for (int c = 0; c < 3; ++c) {
        narrow[x] |= unsigned(smooth(x, y, c)) << (8 * c);
        wide[4 * x + c] = static_cast<unsigned short>(smooth(x, y, c) << 8 | ((x * 7 + y * 3 + c) & 255));
      }
      wide[4 * x + 3] = static_cast<unsigned short>(x * 1000 + y);
    }
    ok = (deep ? writeline16(h, wide.data()) : writeline(h, narrow.data())) == 0;
  }
  return closeimg(h) == 0 && ok;
}

// The open reads the header alone: true when the first read failed.
bool read_fails(const std::string& path) {
  imginfo* h = openimg(path.c_str());
  std::vector<unsigned> line(kWidth);
  const bool failed = h && readline(h, line.data()) == 1;
  if (h) closeimg(h);
  return failed;
}

bool open_fails(const std::string& path) { return openimg(path.c_str()) == nullptr; }

bool create_fails(const std::string& path) { return createimg(path.c_str(), 100, 100, 8) == nullptr; }

// The call under a cap of 1000 pixels.
template <bool (*call)(const std::string&)>
bool capped(const std::string& path) {
  setkeyval("IMGIO_MAX_PIXELS", "1000");
  const bool failed = call(path);
  deletekeyval("IMGIO_MAX_PIXELS");
  return failed;
}

// A frame the file is too short to code fails the open and the whole read
// before a byte of the picture is allocated.
bool too_large_fails(const std::string& path) {
  FailingHeap no_pictures(0, FailingHeap::image);
  int w = 0, h = 0;
  return openimg(path.c_str()) == nullptr && readbuf(path.c_str(), &w, &h) == nullptr;
}

// With every allocation of the heap refused, then fewer, a read of good and
// the creation of a file beside it fail until enough are granted: true when
// both failed with none and worked with some.
template <FailingHeap::Heap heap>
bool gives_way_after_refusals(const std::string& good) {
  std::vector<unsigned> line(kWidth);
  int opened = -1, created = -1;
  for (int grants = 0; grants < 10 && (opened < 0 || created < 0); ++grants) {
    FailingHeap failing(grants, heap);
    imginfo* in = openimg(good.c_str());
    if (in && opened < 0 && readline(in, line.data()) == 0) opened = grants;
    imginfo* out = createimg((good + ".out.jpg").c_str(), 8, 8, 8);
    if (out && created < 0) created = grants;
    for (imginfo* h : {in, out})
      if (h) closeimg(h);
  }
  return opened >= 1 && created >= 1;
}

// A picture of noise written to path, whose file may not grow past 2000
// bytes when it is closed: true when the close failed.
bool close_fails_when_full(const std::string& path) {
  imginfo* h = createimg(path.c_str(), 200, 200, 8);
  if (!h) return false;
  std::vector<unsigned> line(200);
  bool written = true;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) line[x] = unsigned(x * y * 2654435761u);
    written = writeline(h, line.data()) == 0 && written;
  }
  rlimit old{};
  bool limited = getrlimit(RLIMIT_FSIZE, &old) == 0;
  const rlimit full{2000, old.rlim_max};
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  limited = limited && setrlimit(RLIMIT_FSIZE, &full) == 0;
  const bool failed = closeimg(h) == 1;
  if (limited) setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  return written && limited && failed;
}

}  // namespace

TEST(Jpeg, CmykFilesGiveTheirFourComponents) {
  JpegSession s;
  // Flat 8x8 blocks come back within a step or two at full quality.
  std::vector<uint8_t> samples;
  auto block = [](int x, int y, int c) { return (x / 8 * 40 + y / 8 * 25 + c * 60) & 255; };
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c) samples.push_back(static_cast<uint8_t>(block(x, y, c)));
  const std::string path = s.dir / "cmyk.jpg";
  write_cmyk(path, samples);
  Read read;
  ASSERT_TRUE(read_lines(path, &read));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c) {
        const size_t i = size_t(y) * kWidth + x;
        const int v = int(read.narrow[i] >> (8 * c) & 255);
        EXPECT_NEAR(v, block(x, y, c), 2) << x << "," << y << "," << c;
        EXPECT_EQ(read.wide[4 * i + c], v * 257);
      }
}

TEST(Jpeg, OwnFilesHoldCjpegsBytesAtEitherLineDepth) {
  JpegSession s;
  const std::string narrow = s.dir / "narrow.jpg", wide = s.dir / "wide.jpg";
  ASSERT_TRUE(write_own(narrow, false));
  ASSERT_TRUE(write_own(wide, true));
  // Only the high bytes of 16-bit lines count, and alpha not at all.
  EXPECT_EQ(read_text(narrow), read_text(wide));
  // The library's defaults, as cjpeg uses them.
  const std::string source = s.dir / "source.ppm", peer_file = s.dir / "peer.jpg";
  ASSERT_TRUE(write_pnm(source, kWidth, kHeight, 3, smooth_samples(3)));
  ASSERT_TRUE(run_command("/usr/bin/cjpeg -outfile " + shell_quoted(peer_file) + " " + shell_quoted(source)));
  EXPECT_EQ(read_text(narrow), read_text(peer_file));
  Read read;
  ASSERT_TRUE(read_lines(narrow, &read));
  double error = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        const double d = int(read.narrow[size_t(y) * kWidth + x] >> (8 * c) & 255) - smooth(x, y, c);
        error += d * d;
      }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (error / (kWidth * kHeight * 3)));
  EXPECT_GE(psnr, 30.0);
}

TEST(Jpeg, SeeksAndWholeBuffersCountRowsFromTheTop) {
  JpegSession s;
  const std::string path = s.dir / "rows.jpg";
  ASSERT_TRUE(write_own(path, false));
  PeerImage peer;
  ASSERT_TRUE(djpeg(path, &peer));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(makeseekable(h), 0);
  std::vector<unsigned> line(kWidth);
  for (int row : {10, 3, kHeight - 1}) {
    ASSERT_EQ(seekline(h, row), 0);
    ASSERT_EQ(readline(h, line.data()), 0);
    for (int x = 0; x < kWidth; ++x) EXPECT_EQ(line[x] & 255, unsigned(peer.at(x, row, 0))) << row;
  }
  closeimg(h);
  // Whole buffers hold the picture from its bottom row up.
  int w = 0, height = 0;
  unsigned* buffer = readbuf(path.c_str(), &w, &height);
  unsigned short* buffer16 = readbuf16(path.c_str(), &w, &height);
  ASSERT_NE(buffer, nullptr);
  ASSERT_NE(buffer16, nullptr);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const size_t i = size_t(kHeight - 1 - y) * kWidth + x;
      EXPECT_EQ(buffer[i] >> 8 & 255, unsigned(peer.at(x, y, 1)));
      EXPECT_EQ(buffer16[4 * i + 2], peer.at(x, y, 2) * 257);
    }
  // Written back from the buffer, the picture keeps its way up.
  ASSERT_EQ(writebuf(buffer, w, height, (s.dir / "again.jpg").c_str()), 0);
  PeerImage again;
  ASSERT_TRUE(djpeg(s.dir / "again.jpg", &again));
  EXPECT_NEAR(again.at(40, 0, 0), peer.at(40, 0, 0), 8);
  EXPECT_NEAR(again.at(40, kHeight - 1, 0), peer.at(40, kHeight - 1, 0), 8);
  ASSERT_EQ(writebuf16(buffer16, w, height, (s.dir / "again16.jpg").c_str()), 0);
  EXPECT_EQ(read_text(s.dir / "again.jpg"), read_text(s.dir / "again16.jpg"));
  destroybuffer(buffer);
  destroybuffer16(buffer16);
}

TEST(Jpeg, FailuresFailTheirCallSayWhyAndTheProcessGoesOn) {
  JpegSession s;
  const std::string source = s.dir / "source.ppm", good = s.dir / "good.jpg";
  ASSERT_TRUE(write_pnm(source, kWidth, kHeight, 3, smooth_samples(3)));
  ASSERT_TRUE(run_command("/usr/bin/cjpeg -outfile " + shell_quoted(good) + " " + shell_quoted(source)));
  const std::string bytes = read_text(good);
  const size_t huffman = bytes.find("\xff\xc4");
  ASSERT_NE(huffman, std::string::npos);
  std::string header = bytes;
  for (size_t i = 2; i < 24; ++i) header[i] = static_cast<char>(i * 37);
  const std::string cut = bytes.substr(0, (bytes.find("\xff\xda") + bytes.size()) / 2);  // halfway into the data
  // Arithmetic-coded and made 20 lines taller: the data ends an iMCU row early, which libjpeg never says.
  std::string taller = command_output("/usr/bin/cjpeg -arithmetic " + shell_quoted(source));
  taller.at(taller.find("\xff\xc9") + 6) = char(kHeight + 20);
  std::string spread = command_output("/usr/bin/cjpeg -arithmetic -progressive " + shell_quoted(source));
  spread.at(spread.find("\xff\xca") + 6) = char(kHeight + 20);
  const std::string restarts = command_output("/usr/bin/cjpeg -arithmetic -restart 1 " + shell_quoted(source));
  // Frames made 16000x16000 pixels, within the pixel cap.
  std::string baseline = bytes, progressive = command_output("/usr/bin/cjpeg -progressive " + shell_quoted(source));
  baseline.replace(baseline.find("\xff\xc0") + 5, 4, "\x3e\x80\x3e\x80");
  progressive.replace(progressive.find("\xff\xc2") + 5, 4, "\x3e\x80\x3e\x80");
  auto file = [&](const char* name, const std::string& content) {
    write_text(s.dir / name, content);
    return s.dir / name;
  };
  auto cannot_code = [](const std::string& claim) {
    return "JPEG: " + std::to_string(claim.size()) + " bytes cannot code a 16000x16000 image.\n";
  };
  const std::string missing = s.dir / "missing.jpg", nowhere = s.dir / "no/such/folder.jpg", out = s.dir / "out.jpg";
  struct {
    std::string path;
    bool (*fails)(const std::string&);
    std::string reason;  // the start of the driver's message
    const char* failed;  // what the library's line right after it says failed; none when the calls end well
  } cases[] = {
      {file("header.jpg", header), read_fails, "JPEG: Quantization table 0x00 was not defined\n", "read line 0 from"},
      {file("cut.jpg", cut), read_fails, "JPEG: Premature end of JPEG file\n", "read line 0 from"},
      {file("ended.jpg", cut + "\xff\xd9"), read_fails, "JPEG: Corrupt JPEG data: premature end of data segment\n",
       "read line 0 from"},
      {file("taller.jpg", taller), read_fails, "JPEG: The coded data ends before the last rows of the image.\n",
       "read line 0 from"},
      {file("spread.jpg", spread), read_fails, "JPEG: The coded data ends before the last rows of the image.\n",
       "read line 0 from"},
      {file("restarts.jpg", restarts.substr(0, restarts.size() / 2) + "\xff\xd9"), read_fails,
       "JPEG: Corrupt JPEG data: found marker 0xd9 instead of RST", "read line 0 from"},
      {file("huffman.jpg", bytes.substr(0, huffman + 10)), open_fails, "JPEG: ", "open file"},
      {file("empty.jpg", ""), open_fails, "JPEG: ", "open file"},
      {file("text.jpg", "not a picture at all"), open_fails, "JPEG: ", "open file"},
      {missing, open_fails, "JPEG: Cannot open input file: " + missing + "\n", "open file"},
      {nowhere, create_fails, "JPEG: Cannot open input file: " + nowhere + "\n", "create file"},
      // Pictures beyond the pixel cap are refused before anything is decoded or allocated.
      {good, capped<open_fails>, "JPEG: Image size 45x37 is out of range.\n", "open file"},
      {out, capped<create_fails>, "JPEG: Image size 100x100 is out of range.\n", "create file"},
      {file("baseline.jpg", baseline), too_large_fails, cannot_code(baseline), "read whole image from"},
      {file("progressive.jpg", progressive), too_large_fails, cannot_code(progressive), "read whole image from"},
      {good, gives_way_after_refusals<FailingHeap::normal>, "JPEG: No space for the driver record.\n", nullptr},
      {good, gives_way_after_refusals<FailingHeap::image>, "JPEG: No space for the image buffer.\n", nullptr},
      {out, close_fails_when_full, "JPEG: Output file write error --- out of disk space?\n", "close file"},
  };
  for (const auto& c : cases) {
    s.capture.messages.clear();
    EXPECT_TRUE(c.fails(c.path)) << c.path << ": " << c.reason;
    if (!c.failed) {
      EXPECT_TRUE(s.capture.has(c.reason)) << c.reason;
      continue;
    }
    const auto& said = s.capture.messages;
    EXPECT_EQ(said.size() < 2 ? "" : said[said.size() - 2].text.substr(0, c.reason.size()), c.reason) << c.path;
    EXPECT_EQ(s.capture.last(), "ERROR: Failed to " + std::string(c.failed) + " [" + c.path + "] format [jpeg]\n");
  }
  taller.at(taller.find("\xff\xc9") + 6) = char(kHeight + 12);  // 16k+1 in 4:2:0: no line past the data to judge
  Read read;
  EXPECT_TRUE(read_lines(file("16k+1.jpg", taller), &read));
  // Whole, with a step in its last rows coded by the bytes the decoder holds as it meets the end marker.
  std::vector<uint8_t> step(8 * 73 * 3);
  for (size_t i = 0; i < step.size(); ++i) {
    const int x = i / 3 % 8, y = i / 24, c = i % 3;
    step[i] = uint8_t(y < 48 ? x * 29 + y * 13 + c * 71 : (y < 65 ? 70 : 90) + 40 * c);
  }
  ASSERT_TRUE(write_pnm(source, 8, 73, 3, step));
  const std::string cjpeg = "/usr/bin/cjpeg -arithmetic -progressive -sample 1x2,1x1,1x1 ";
  EXPECT_TRUE(read_lines(file("step.jpg", command_output(cjpeg + shell_quoted(source))), &read));
}

TEST(Jpeg, LinesNeverWrittenGoOutBlack) {
  JpegSession s;
  const std::string path = s.dir / "short.jpg";
  imginfo* h = createimg(path.c_str(), 16, 16, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> white(16, 0xFFFFFFFFu);
  for (int y = 0; y < 4; ++y) ASSERT_EQ(writeline(h, white.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  PeerImage peer;
  ASSERT_TRUE(djpeg(path, &peer));
  EXPECT_GT(peer.at(5, 1, 0), 240);
  EXPECT_LT(peer.at(5, 12, 0), 16);
}
