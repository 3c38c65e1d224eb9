#ifndef TEST_PEER_IMAGES_H
#define TEST_PEER_IMAGES_H

// Peer programs for the image-file tests, each called by its Debian path,
// so a test whose tool is missing fails. Pictures they decode come back as
// samples, top row first, channels interleaved.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct PeerImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  int maxval = 0;    // full scale of a sample
  std::string mode;  // Pillow's mode of the file; "" from a PNM
  std::vector<uint16_t> samples;
  int at(int x, int y, int c) const {
    return samples[(static_cast<size_t>(y) * width + x) * channels + c];
  }
};

inline std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command line; true when it exits with 0.
inline bool run_command(const std::string& command) { return std::system(command.c_str()) == 0; }

// The standard output of a command line, "" when it fails.
inline std::string command_output(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  return pclose(pipe) == 0 ? out : "";
}

// P4 (a set bit is black: sample 0 of maxval 1), P5 and P6 of 8 or 16
// bits. False for anything else.
inline bool read_pnm(const std::string& path, PeerImage* image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic;
  const int kind = magic == "P4" ? 4 : magic == "P5" ? 5 : magic == "P6" ? 6 : 0;
  if (!kind) return false;
  auto number = [&in]() {
    int value = -1;
    while (in >> std::ws && in.peek() == '#') in.ignore(1 << 20, '\n');
    in >> value;
    return value;
  };
  *image = PeerImage();
  image->width = number();
  image->height = number();
  image->maxval = kind == 4 ? 1 : number();
  image->channels = kind == 6 ? 3 : 1;
  in.get();
  if (!in || image->width < 1 || image->height < 1 || image->maxval < 1) return false;
  const size_t count = static_cast<size_t>(image->width) * image->height * image->channels;
  image->samples.resize(count);
  if (kind == 4) {
    const size_t row_bytes = (image->width + 7) / 8;
    std::vector<unsigned char> row(row_bytes);
    for (int y = 0; y < image->height; ++y) {
      in.read(reinterpret_cast<char*>(row.data()), row_bytes);
      for (int x = 0; x < image->width; ++x)
        image->samples[static_cast<size_t>(y) * image->width + x] = (row[x / 8] >> (7 - x % 8) & 1) ? 0 : 1;
    }
    return static_cast<bool>(in);
  }
  const bool wide = image->maxval > 255;
  std::vector<unsigned char> bytes(count * (wide ? 2 : 1));
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  for (size_t i = 0; i < count; ++i)
    image->samples[i] = wide ? static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]) : bytes[i];
  return static_cast<bool>(in);
}

inline bool write_pnm(const std::string& path, int width, int height, int channels,
                      const std::vector<uint8_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  out << (channels == 1 ? "P5" : "P6") << "\n" << width << " " << height << "\n255\n";
  out.write(reinterpret_cast<const char*>(samples.data()), samples.size());
  return static_cast<bool>(out);
}

// tifftopnm's picture of a TIFF file; with alpha, its alpha channel (from
// -alphaout) joins as the last channel. By rows it keeps 16-bit samples
// whole; otherwise it goes through libtiff's 8-bit RGBA reading, which
// takes palettes of bytes as such.
inline bool tifftopnm(const std::string& tiff, PeerImage* image, bool alpha, bool by_row) {
  const std::string pnm = tiff + ".pnm", mask = tiff + ".alpha.pgm";
  std::string command = by_row ? "/usr/bin/tifftopnm -quiet -byrow " : "/usr/bin/tifftopnm -quiet ";
  if (alpha) command += "-alphaout=" + shell_quoted(mask) + " ";
  if (!run_command(command + shell_quoted(tiff) + " > " + shell_quoted(pnm)) || !read_pnm(pnm, image)) return false;
  if (!alpha) return true;
  PeerImage a;
  if (!read_pnm(mask, &a) || a.width != image->width || a.height != image->height) return false;
  std::vector<uint16_t> joined;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    for (int c = 0; c < image->channels; ++c) joined.push_back(image->samples[i * image->channels + c]);
    joined.push_back(a.samples[i]);
  }
  image->samples = joined;
  ++image->channels;
  return true;
}

// djpeg -pnm's picture of a JPEG file, with the library's default decoding.
inline bool djpeg(const std::string& jpeg, PeerImage* image) {
  const std::string pnm = jpeg + ".pnm";
  return run_command("/usr/bin/djpeg -pnm -outfile " + shell_quoted(pnm) + " " + shell_quoted(jpeg)) &&
         read_pnm(pnm, image);
}

// Pillow's picture of a file: modes L, I;16, RGB, RGBA and CMYK as they
// are, palettes converted to RGB.
inline bool pillow_decode(const std::string& path, PeerImage* image) {
  const std::string raw = path + ".pillow";
  const char* script =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1])\n"
      "im.load()\n"
      "if im.mode in ('P', '1'): im = im.convert('RGB' if im.mode == 'P' else 'L')\n"
      "with open(sys.argv[2], 'wb') as f:\n"
      "    f.write(('%s %d %d\\n' % (im.mode, im.size[0], im.size[1])).encode())\n"
      "    f.write(im.tobytes())\n";
  if (!run_command("/usr/bin/python3 -c " + shell_quoted(script) + " " + shell_quoted(path) + " " +
                   shell_quoted(raw)))
    return false;
  std::ifstream in(raw, std::ios::binary);
  *image = PeerImage();
  in >> image->mode >> image->width >> image->height;
  in.get();
  const std::string& m = image->mode;
  image->channels = m == "L" || m == "I;16" ? 1 : m == "RGB" ? 3 : m == "RGBA" || m == "CMYK" ? 4 : 0;
  image->maxval = m == "I;16" ? 65535 : 255;
  if (!in || image->channels == 0) return false;
  const size_t count = static_cast<size_t>(image->width) * image->height * image->channels;
  const bool wide = image->maxval > 255;
  std::vector<unsigned char> bytes(count * (wide ? 2 : 1));
  in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  image->samples.resize(count);
  for (size_t i = 0; i < count; ++i)
    image->samples[i] = wide ? static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8) : bytes[i];
  return static_cast<bool>(in);
}

#endif
