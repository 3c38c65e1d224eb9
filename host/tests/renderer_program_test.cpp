// The renderer run as a person runs it, on the test plug-in: frames made
// and read by netpbm's programs, options, setups, keys and every error.
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "program_run.h"
#include "render_clips.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// The renderer on the test plug-in (or on `plugin`, "" for the built
// effect), its output and errors apart, after the shell commands `before`
// (limits). A sanitized program runs clean without a suppressions file.
Outcome render(const std::string& options, const std::string& plugin = STANDIN_TEST_PLUGIN_PATH,
               const std::string& before = "") {
  Outcome r{};
  const std::string err = home_file("stderr.txt");
  r.out = run(before + " env -u LSAN_OPTIONS " + TIDEWRIGHT_HOST_PATH + " " + options + " " + plugin + " 2>" + err,
              r.status);
  const std::vector<unsigned char> bytes = read_file(err);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

// A 3 x 2 PNG made by netpbm from this text picture, top row first.
const int picture[18] = {10, 20, 30, 40, 50, 60, 70, 80, 90,  //
                         200, 100, 50, 1, 2, 3, 250, 240, 230};

void make_picture(const std::string& png) {
  std::string text = "P3\n3 2\n255\n";
  for (int v : picture) text += std::to_string(v) + " ";
  write_file(png + ".ppm", text + "\n");
  int status = 0;
  run("/usr/bin/pnmtopng " + png + ".ppm > " + png, status);
  ASSERT_EQ(status, 0);
}

// Lines of a text that hold `word`.
int lines_with(const std::string& text, const std::string& word) {
  int count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) count += line.find(word) != std::string::npos;
  return count;
}

// Shell commands before a run that must find memory short: an address-space
// limit, or in a sanitized build (whose shadow memory takes the address
// space) a largest block the sanitizer's allocator refuses with null.
std::string short_of_memory() {
#ifdef __SANITIZE_ADDRESS__
  return "ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1:max_allocation_size_mb=400";
#else
  return "ulimit -v 3000000;";
#endif
}

// A run that ended with exit status 1, not a crash.
bool failed_cleanly(const Outcome& r) { return WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1; }

// Apart from the test plug-in's messages, the standard error holds the one
// error line of the run.
void expect_one_error_line(const Outcome& r, const std::string& message) {
  EXPECT_TRUE(failed_cleanly(r)) << r.status << "\n" << r.err;
  std::istringstream lines(r.err);
  int others = 0;
  for (std::string line; std::getline(lines, line);) others += line.compare(0, 26, "libstandin_test_plugin.so:") != 0;
  EXPECT_EQ(others, 1) << r.err;
  const size_t last = r.err.rfind("tidewright_host: ");
  ASSERT_NE(last, std::string::npos) << r.err;
  EXPECT_EQ(r.err.compare(last, std::string::npos, "tidewright_host: " + message + "\n"), 0) << r.err;
}

std::string text_of(const std::string& path) {
  const std::vector<unsigned char> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// The program loads a plug-in whose spark* references resolve against it,
// exports nothing else, and feeds clip 1 from the built-in clip.
TEST(Renderer, LoadsAndDrivesAPlugin) {
  const std::string log = home_file("calls.log");
  const Outcome r = render("--size 50x20 --procs 3 --frames 0-1 --log " + log + " --output " +
                           home_file("frame.0000.ppm"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string calls = text_of(log);
  EXPECT_NE(calls.find("sparkMessage(init own=4242 api=4 depth=24 value7=0.25)"), std::string::npos) << calls;
  EXPECT_NE(calls.find("sparkMessage(frame 1 workers 3 of 3"), std::string::npos) << calls;
  EXPECT_NE(r.err.find("frame 2 of 2 (1)"), std::string::npos) << r.err;
  // The plug-in's messages reach the artist, named after it.
  EXPECT_NE(r.err.find("\nlibstandin_test_plugin.so: frame 1 workers 3 of 3"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("output: " + home_file("frame.0000.ppm") + " .. " + home_file("frame.0001.ppm")),
            std::string::npos)
      << r.err;

  // The clip drawn in bands, its square moving, is the clip drawn whole.
  for (int at : {0, 1}) {
    FrameImage clip;
    ASSERT_TRUE(draw_builtin_clip(at, 50, 20, clip));
    const Plain frame = decode(home_file("frame.000" + std::to_string(at) + ".ppm"));
    ASSERT_EQ(frame.width, 50);
    ASSERT_EQ(frame.height, 20);
    for (size_t i = 0; i < frame.samples.size(); ++i) ASSERT_EQ(frame.samples[i], 255 - clip.samples[i]) << i;
  }

  int status = 0;
  const std::string symbols = run(std::string("nm -D --defined-only ") + TIDEWRIGHT_HOST_PATH, status);
  ASSERT_EQ(status, 0);
  std::vector<std::string> names;
  std::istringstream lines(symbols);
  for (std::string line; std::getline(lines, line);) {
    const std::string name = line.substr(line.rfind(' ') + 1);
    // Lower-case types are local: the linker lists some there, unexported.
    const char type = line[line.rfind(' ') - 1];
    if (std::islower(static_cast<unsigned char>(type))) continue;
    // Versioned names are the C library's copy relocations; __asan and
    // __ubsan ones belong to a sanitizer build's runtime.
    const bool foreign = name.find('@') != std::string::npos || name.compare(0, 6, "__asan") == 0 ||
                         name.compare(0, 7, "__ubsan") == 0 || name.compare(0, 6, "__lsan") == 0;
    if (!foreign) names.push_back(name);
  }
  EXPECT_EQ(names.size(), 29u);
  for (const std::string& name : names) EXPECT_EQ(name.compare(0, 5, "spark"), 0) << name;

  const Outcome refused = render("", "/nonexistent.so");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("cannot load the plug-in"), std::string::npos) << refused.err;
}

// Files are top row first, host buffers bottom row first: a picture netpbm
// made comes back negated pixel for pixel, at 8 and 16 bits, in PNG and
// PPM, and the plug-in sees the picture's bottom-left pixel first. A PNG of
// depth 64 holds a solid matte, as ImageMagick reads it; a frame written
// as ".cin" and read back through the plug-in is the picture again.
TEST(Renderer, OrientationThroughNetpbmPeers) {
  const std::string in = home_file("in.0001.png");
  make_picture(in);
  for (const char* depth : {"24", "48", "64"}) {
    for (const char* format : {"png", "ppm"}) {
      const std::string out = home_file(std::string("out") + depth + ".0001." + format);
      const std::string log = home_file("orientation.log");
      const Outcome r = render(std::string("--depth ") + depth + " --input 1=" + in + " --output " + out +
                           " --log " + log);
      ASSERT_EQ(r.status, 0) << r.err;
      const bool deep = std::strcmp(depth, "24") != 0;
      // 12-bit frames travel as 16-bit files; netpbm brings them to 8.
      const Plain plain = decode(out, deep ? " | /usr/bin/pamdepth 255" : "");
      EXPECT_EQ(plain.width, 3);
      EXPECT_EQ(plain.height, 2);
      EXPECT_EQ(plain.maxval, 255);
      for (int i = 0; i < 18; ++i) EXPECT_EQ(plain.samples[i], 255 - picture[i]) << depth << format << i;
      if (!deep) {
        EXPECT_NE(text_of(log).find("first=200,100,50"), std::string::npos) << text_of(log);
      } else {
        EXPECT_EQ(decode(out).maxval, 65535);
      }
      int status = 0;
      if (std::strcmp(format, "png") == 0) {
        EXPECT_EQ(run("/usr/bin/identify -format '%[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig] %[opaque]' " +
                          out, status),
                  std::string(std::strcmp(depth, "64") == 0 ? "6 16 true" : deep ? "2 16 true" : "2 8 true"))
            << depth;
      }
    }
    const std::string cin = home_file(std::string("out") + depth + ".0001.cin"),
                      back = home_file(std::string("back") + depth + ".0001.ppm");
    ASSERT_EQ(render(std::string("--depth ") + depth + " --input 1=" + in + " --output " + cin).status, 0);
    const Outcome again = render(std::string("--depth ") + depth + " --input 1=" + cin + " --output " + back);
    ASSERT_EQ(again.status, 0) << again.err;
    const Plain plain = decode(back, std::strcmp(depth, "24") != 0 ? " | /usr/bin/pamdepth 255" : "");
    EXPECT_EQ(plain.samples, std::vector<int>(picture, picture + 18)) << depth;
  }
}

// Frames P..A-1 run unwritten, so a part of a range renders as in the
// whole range even for a plug-in with memory.
TEST(Renderer, PrerollMatchesTheFullRender) {
  const std::string common = "--size 8x6 --set Accumulate=on --output ";
  ASSERT_EQ(render("--frames 0-4 " + common + home_file("full.0000.ppm")).status, 0);
  const Outcome part = render("--frames 3-4 --preroll 0 " + common + home_file("part.0000.ppm"));
  ASSERT_EQ(part.status, 0) << part.err;
  EXPECT_EQ(lines_with(part.err, "preroll)"), 3) << part.err;
  ASSERT_EQ(render("--frames 3-4 " + common + home_file("cold.0000.ppm")).status, 0);
  for (const char* frame : {"0003", "0004"}) {
    const std::vector<unsigned char> full = read_file(home_file(std::string("full.") + frame + ".ppm"));
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(read_file(home_file(std::string("part.") + frame + ".ppm")), full) << frame;
    // Without the preroll the plug-in's memory differs: the test can fail.
    EXPECT_NE(read_file(home_file(std::string("cold.") + frame + ".ppm")), full) << frame;
  }
  for (const char* frame : {"0000", "0001", "0002"})
    EXPECT_FALSE(exists(home_file(std::string("part.") + frame + ".ppm"))) << frame;
}

// Every record kind goes through a saved setup and comes back; the loaded
// setup is never the one written; out-of-range values are clamped with a
// warning; the listing shows the values in force.
TEST(Renderer, SetupsRoundTrip) {
  const std::string first = home_file("first.setup"), second = home_file("second.setup");
  const Outcome saved = render("--set Test=0.5 --set Count=7 --set Accumulate=on --set Mode=c "
                           "--key Test@0=0 --key Test@10=1 --res 1/3 --list-controls --save-setup " +
                           first);
  ASSERT_EQ(saved.status, 0) << saved.err;
  const std::string text = text_of(first);
  for (const char* line : {"float 7 0.5\n", "int 21 7\n", "boolean 23 1\n", "pup 10 2\n",
                           "pup 33 2\n", "pup 62 2\n", "pup 91 2\n", "userfloat 93 0\n",
                           "string 0 1: Flow Clip\n", "key 7 0 0\n", "key 7 10 1\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  EXPECT_EQ(lines_with(saved.out, "Test"), 1);
  EXPECT_NE(saved.out.find("     7  float      Test                      0.5"), std::string::npos) << saved.out;
  EXPECT_NE(saved.out.find("    10  pup        Mode                      C"), std::string::npos) << saved.out;

  const Outcome again = render("--setup " + first + " --save-setup " + second + " --list-controls");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(text_of(second), text);
  EXPECT_EQ(again.out, saved.out);
  EXPECT_EQ(text_of(first), text);

  const Outcome over = render("--setup " + first + " --save-setup " + first);
  EXPECT_NE(over.status, 0);
  EXPECT_NE(over.err.find("would overwrite an input"), std::string::npos) << over.err;
  EXPECT_EQ(text_of(first), text);

  const std::string wide = home_file("wide.setup");
  write_file(wide, "int 21 1e10\nfloat 7 -3\n");
  const Outcome clamped = render("--setup " + wide + " --list-controls");
  ASSERT_EQ(clamped.status, 0) << clamped.err;
  EXPECT_NE(clamped.err.find("warning: " + wide + ":1: int 21 value 1e+10 is out of its range 0 .. 100: clamped to 100"),
            std::string::npos)
      << clamped.err;
  EXPECT_NE(clamped.err.find("warning: " + wide + ":2: float 7 value -3 is out of its range 0 .. 1: clamped to 0"),
            std::string::npos);
  EXPECT_NE(clamped.out.find("    21  int        Count                     100"), std::string::npos)
      << clamped.out;
}

// Keys are written into the records before each frame: floats linearly,
// lists and checkboxes stepping. Keys win over --set and --res wherever they
// come from, the command line or a setup, with a warning, so a setup saved
// from a run renders that run again under the same options.
TEST(Renderer, KeysAnimateTheRecordsAndWin) {
  const std::string log = home_file("keys.log"), saved = home_file("keys.setup");
  const Outcome r = render("--size 4x4 --frames 0-4 --log " + log +
                           " --key Test@0=0 --key Test@4=1 --key Mode@0=A --key Mode@2=C "
                           "--key Accumulate@0=off --key Accumulate@3=on --key 21@0=10 --key 21@4=20 "
                           "--set Test=0.125 --res 1/3 --key 33@2=1/4 --save-setup " + saved);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string calls = text_of(log);
  for (const char* line :
       {"frame 0 workers", "value7=0 count=10 accumulate=0 mode=0 res=3", "frame 1 workers",
        "value7=0.25 count=13 accumulate=0 mode=0 res=3", "value7=0.5 count=15 accumulate=0 mode=2 res=3",
        "value7=0.75 count=18 accumulate=1 mode=2 res=3", "value7=1 count=20 accumulate=1 mode=2 res=3"})
    EXPECT_NE(calls.find(line), std::string::npos) << line << calls;
  EXPECT_NE(r.err.find("warning: --set Test=0.125: control 7 has keys, which set its value on every frame"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("warning: --res 1/3: control 33 has keys"), std::string::npos) << r.err;

  const Outcome again = render("--size 4x4 --frames 0-4 --log " + log + " --setup " + saved + " --res 1/3 --set Test=0.125");
  ASSERT_EQ(again.status, 0) << again.err;
  const auto frames = [](const std::string& text) {
    std::string lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, 19, "sparkMessage(frame ") == 0) lines += line + "\n";
    return lines;
  };
  EXPECT_EQ(frames(text_of(log)), frames(calls));
  EXPECT_EQ(lines_with(frames(calls), "res=3 "), 5);
}

// Every error is one line and a non-zero exit; frames written before it
// stay whole, and nothing partial or temporary is left.
TEST(Renderer, ErrorsAreOneLineAndKeepEarlierFrames) {
  int status = 0;
  const std::string folder = home_file("errors");
  std::filesystem::create_directories(folder);
  const std::string good = folder + "/in.0001.ppm";
  run("/usr/bin/ppmmake rgb:10/20/30 4 3 > " + good, status);
  run("/usr/bin/ppmmake rgb:10/20/30 4 3 > " + folder + "/in.0002.ppm", status);
  run("/usr/bin/ppmmake rgb:10/20/30 5 3 > " + folder + "/wide.0002.ppm", status);
  run("cp " + good + " " + folder + "/wide.0001.ppm", status);
  run("cp " + good + " " + folder + "/junk.0001.ppm", status);
  write_file(folder + "/junk.0002.ppm", "P6\n4 3\n255\nshort");
  write_file(folder + "/bad.setup", "float 7 0.5\nint 21 nan\n");
  write_file(folder + "/garbage.setup", "int 21 \x1b[2J\xff\x07\n");
  write_file(folder + "/garbage.events", "1 \x1b[2J\x07 5\n");
  ASSERT_EQ(status, 0);
  const std::string out = " --output " + folder + "/out.0001.png";
  const struct {
    std::string options;
    std::string message;
    int written;  // output frames that stay
    std::string plugin = STANDIN_TEST_PLUGIN_PATH;  // "": the built effect
  } cases[] = {
      {"--frobnicate", "unknown option: --frobnicate", 0},
      {"--set Nope=1", "unknown control: Nope", 0},
      {"--set Mode=Z", "unknown item Z of control 10 (Mode) (A, B, C)", 0},
      {"--set 'Clear Overlay=on'", "ambiguous control name: Clear Overlay names controls 28 57", 0},
      {"--set Test=nan", "not a number: nan of control 7 (Test)", 0},
      {"--res 1/5", "unknown item 1/5 of control 33", 0},
      {"--setup " + folder + "/bad.setup", (folder + "/bad.setup:2: malformed setup line: int 21 nan"), 0},
      {"--setup " + folder + "/none.setup", "--setup", 0},
      // A folder is no empty setup or list of events; a line's bytes are shown, not played.
      {"--setup " + folder, folder + ": cannot read the setup file: Is a directory", 0},
      {"--events " + folder, "--events " + folder + ": Is a directory", 0},
      {"--setup " + folder + "/garbage.setup", "garbage.setup:1: malformed setup line: int 21 \\x1B[2J\\xFF\\x07", 0},
      {"--events " + folder + "/garbage.events", "garbage.events:1: unknown event \\x1B[2J\\x07", 0},
      {"--input 1=" + folder + "/in.0001.ppm --frames 1-3" + out,
       ("clip 1 frame 3: " + folder + "/in.0003.ppm: No such file"), 2},
      {"--input 1=" + folder + "/junk.0001.ppm --frames 1-3" + out,
       ("clip 1 frame 2: " + folder + "/junk.0002.ppm: PPM file ends"), 1},
      {"--input 1=" + folder + "/wide.0001.ppm --frames 1-2" + out,
       ("clip 1 frame 2: " + folder + "/wide.0002.ppm: 5x3, the frames are 4x3"), 1},
      {"--input 2=" + folder + "/in.0001.ppm --size 9x9 --frames 1-2" + out,
       "clip 2 frame 1: " + folder + "/in.0001.ppm: 4x3, the frames are 9x9", 0},
      {"--input 3=builtin", "--input 3: the plug-in takes 2 clips", 0},
      {"--input 1=" + folder + "/in.0001.ppm --output " + folder + "/in.0001.ppm",
       ("output " + folder + "/in.0001.ppm would overwrite an input"), 0},
      {"--size 4x3 --frames 1-4 --key Count@1=5 --key Count@3=0" + out,
       "frame 3: the plug-in refused the frame", 2},
      // The effect refuses a preview under one pixel; the line says why.
      {"--size 36x30 --res 1/32" + out,
       "frame 1: the plug-in refused the frame: at resolution 1/32 the 36x30 frame holds 1x0 preview pixels", 0, ""},
      {"--size 40x30 --frames 1-2 --key 33@1=FULL --key 33@2=1/32" + out,
       "frame 2: the plug-in refused the frame: at resolution 1/32 the 40x30 frame holds 1x0 preview pixels", 1, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(folder + "/outputs");
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().filename().string().compare(0, 3, "out") == 0) std::filesystem::remove(entry.path());
    const Outcome r = render(c.options, c.plugin);
    EXPECT_NE(r.status, 0) << c.options;
    // One line of error; progress lines of frames done may come before it.
    EXPECT_EQ(lines_with(r.err, "tidewright_host:"), 1) << c.options << "\n" << r.err;
    const size_t last = r.err.rfind("tidewright_host: ");
    ASSERT_NE(last, std::string::npos) << c.options;
    EXPECT_NE(r.err.find(c.message, last), std::string::npos) << c.options << "\n" << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(r.err.find('\n', last), r.err.size() - 1) << r.err;
    for (int frame = 1; frame <= 4; ++frame) {
      char name[32];
      std::snprintf(name, sizeof name, "/out.%04d.png", frame);
      EXPECT_EQ(exists(folder + name), frame <= c.written) << c.options << name;
      if (frame <= c.written) {
        EXPECT_GT(decode(folder + name).width, 0);
      }
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
}

// 12-bit depths travel as three 16-bit words a pixel and are written as
// 16-bit files; the viewer shows the frame with the overlay drawn over it
// (and a sanitized program finds no leak in doing so: render() gives it no
// suppressions file).
TEST(Renderer, DeepFramesAndTheViewer) {
  const std::string log = home_file("deep.log");
  const Outcome r = render("--size 6x4 --depth 64 --log " + log + " --output " + home_file("deep.0001.ppm") +
                       " --viewer " + home_file("view.0001.png"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(text_of(log).find("depth=64"), std::string::npos);
  EXPECT_NE(text_of(log).find("sparkMessage(overlay at zoom 1)"), std::string::npos);
  EXPECT_EQ(decode(home_file("deep.0001.ppm")).maxval, 65535);
  const Plain view = decode(home_file("view.0001.png"));
  EXPECT_EQ(view.width, 6);
  EXPECT_EQ(view.height, 4);
  EXPECT_EQ(view.maxval, 255);
}

TEST(Renderer, HelpAndResolution) {
  const Outcome help = render("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--preroll P"), std::string::npos);
  const std::string log = home_file("res.log");
  const Outcome r = render("--size 8x8 --res 1/4 --log " + log);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(text_of(log).find("res=3 "), std::string::npos) << text_of(log);
}

// A frame whose buffers cannot be had is one line naming them, exit 1, the
// frames before it kept: the host's frame buffers, the effect's own images
// (told in the effect's words), and a size beyond the machine's memory or
// a file's beyond the image-file library's limit refused before anything
// is allocated.
TEST(Renderer, MemoryShortIsOneLineNamingWhatWasShort) {
  const std::string folder = home_file("memory");
  std::filesystem::create_directories(folder);
  int status = 0;
  run("/usr/bin/ppmmake rgb:10/20/30 4 3 > " + folder + "/big.0001.ppm", status);
  ASSERT_EQ(status, 0);
  write_file(folder + "/big.0002.ppm", "P6\n60000 60000\n255\n");
  const std::string out = " --output " + folder + "/out.0001.png";
  const struct {
    std::string options, plugin, message;
    int written;
  } cases[] = {
      {"--size 12000x12000" + out, STANDIN_TEST_PLUGIN_PATH,
       "cannot allocate the host's 7 frame buffers of 12000x12000 at depth 24, 432 MB each", 0},
      {"--size 65536x65536 --depth 64" + out, STANDIN_TEST_PLUGIN_PATH,
       "frames of 65536x65536 at depth 64 need 180.4 GB for the host's 7 frame buffers alone, more than the ", 0},
      {"--input 1=" + folder + "/big.0001.ppm --frames 1-2" + out, STANDIN_TEST_PLUGIN_PATH,
       "clip 1 frame 2: " + folder + "/big.0002.ppm: PPM: Image size 60000x60000 is out of range.", 1},
      {"--size 8000x8000" + out, "", "frame 1: the plug-in refused the frame", 0},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(folder + "/out.0001.png");
    const Outcome r = render(c.options, c.plugin, short_of_memory());
    EXPECT_TRUE(failed_cleanly(r)) << c.options << " " << r.status << "\n" << r.err;
    EXPECT_EQ(lines_with(r.err, "tidewright_host:"), 1) << r.err;
    EXPECT_NE(r.err.find("tidewright_host: " + c.message), std::string::npos) << r.err;
    EXPECT_EQ(exists(folder + "/out.0001.png"), c.written == 1) << c.options;
    if (c.plugin.empty()) {
      EXPECT_NE(r.err.find("\nlibtidewright.so: error: 4-Tidewright: not enough memory for the frame images.\n"),
                std::string::npos)
          << r.err;
    }
  }
}

// Every failed write is one line naming the file and the system's reason,
// exit 1, and leaves neither the frame nor a temporary file: a file size
// limit makes the write fail, in every format, and also where a write
// first stops short at it (SGI at 10 KB). A signal that ends the run
// mid-write takes the temporary file or folder of the frame with it, and
// keeps the frames before whole.
TEST(Renderer, FailedWritesNameTheFileAndTheReason) {
  const std::string folder = home_file("limited");
  std::filesystem::create_directories(folder);
  const auto limited = [&](const std::string& extension, const std::string& blocks) {
    const std::string out = folder + "/f.0001." + extension;
    const std::string limit = "ulimit -f " + blocks + ";";
    expect_one_error_line(render("--size 200x100 --output " + out, STANDIN_TEST_PLUGIN_PATH, limit),
                          "frame 1: " + out + ": File too large");
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << extension;
  };
  for (const char* extension : {"ppm", "png", "tq4", "tif", "jpg", "ras", "tga", "rgb", "sgi", "cin", "gif",
                                "pxr", "rla", "pic", "dump", "als", "r"})
    limited(extension, "1");
  for (const char* extension : {"rgb", "sgi"}) limited(extension, "20");
  auto hidden = [&] {
    bool any = false;
    for (const auto& e : std::filesystem::directory_iterator(folder)) any |= e.path().filename().string()[0] == '.';
    return any;
  };
  // Each run is stopped while frame 2's rename waits (a preloaded rename
  // that says so on the standard error), its temporary on disk and later
  // frames' beside it: our own formats' file, the library's folder.
  const std::pair<int, std::string> ends[] = {{SIGINT, "ppm"}, {SIGTERM, "png"}, {SIGHUP, "tif"}};
  for (const auto& [number, extension] : ends) {
    const std::string command = std::string("RENAME_PAUSE_NAME=f.0002.") + extension + " LD_PRELOAD=" +
                                RENAME_PAUSE_PATH + " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 exec " +
                                TIDEWRIGHT_HOST_PATH + " --size 90x60 --frames 1-9 --procs 4 --output " + folder +
                                "/f.0001." + extension + " " + STANDIN_TEST_PLUGIN_PATH;
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      for (int inherited : {SIGINT, SIGTERM, SIGHUP}) std::signal(inherited, SIG_DFL);
      dup2(err[1], STDERR_FILENO);
      execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    close(err[1]);
    FILE* lines = fdopen(err[0], "r");
    char line[256];
    bool paused = false;
    while (!paused && std::fgets(line, sizeof line, lines)) paused = std::strcmp(line, "rename paused\n") == 0;
    EXPECT_TRUE(paused && hidden()) << command;
    if (paused) kill(pid, number);
    std::fclose(lines);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << command << ": " << status;
    EXPECT_FALSE(hidden()) << extension;
    EXPECT_TRUE(exists(folder + "/f.0001." + extension));
    // The frames of every run so far, whole.
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_EQ(decode(entry.path().string()).height, 60) << entry.path();
  }
}

// Frames encoded side by side are named in frame order, with their
// progress lines: frame k's write failing (a file-size limit on its larger
// file) leaves frames 1..k-1 whole and nothing after, not even a temporary,
// and the same run unlimited writes every frame from its own input.
TEST(Renderer, ParallelWritesKeepFrameOrder) {
  const std::string folder = home_file("parallel");
  std::filesystem::create_directories(folder);
  // Eight 64x64 frames, each its own grey, but frame 4 noise that no PNG
  // encoder packs under 4 KB.
  std::vector<std::string> inputs(9);
  for (int frame = 1; frame <= 8; ++frame) {
    std::string pixels(64 * 64 * 3, static_cast<char>(frame * 20));
    for (size_t i = 0; frame == 4 && i < pixels.size(); ++i) pixels[i] = static_cast<char>(i * 2654435761u >> 24);
    inputs[frame] = folder + "/in.000" + std::to_string(frame) + ".ppm";
    write_file(inputs[frame], "P6\n64 64\n255\n" + pixels);
  }
  const std::string options = "--procs 8 --frames 1-8 --input 1=" + inputs[1] + " --output " + folder + "/out.0001.png";
  for (const int limit : {4, 0}) {
    const Outcome r = render(options, STANDIN_TEST_PLUGIN_PATH, limit ? "ulimit -f 4;" : "");
    const int whole = limit ? 3 : 8;
    EXPECT_EQ(r.status == 0, limit == 0) << r.err;
    EXPECT_EQ(lines_with(r.err, "tidewright_host:"), 1) << r.err;
    const std::string message = "tidewright_host: frame 4: " + folder + "/out.0004.png: File too large\n";
    EXPECT_EQ(failed_cleanly(r) && r.err.find(message) != std::string::npos, limit != 0) << r.err;
    size_t at = 0;
    for (int frame = 1; frame <= 8; ++frame) {
      const std::string out = folder + "/out.000" + std::to_string(frame) + ".png";
      const size_t progress = r.err.find("frame " + std::to_string(frame) + " of 8 ");
      EXPECT_EQ(progress != std::string::npos && progress >= at, frame <= whole) << frame << "\n" << r.err;
      at = progress == std::string::npos ? at : progress;
      ASSERT_EQ(exists(out), frame <= whole) << out;
      if (frame > whole) continue;
      const Plain in = decode(inputs[frame]), written = decode(out);
      ASSERT_EQ(written.samples.size(), in.samples.size()) << out;
      for (size_t i = 0; i < in.samples.size(); ++i) ASSERT_EQ(written.samples[i], 255 - in.samples[i]) << out;
      std::filesystem::remove(out);
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_EQ(entry.path().filename().string().compare(0, 3, "in."), 0) << entry.path();
  }
}

// The effect on the stand-in: its listing alone on the standard output (the
// start-up banner goes to the standard error), and its messages on the
// standard error named after it: a help browser that cannot be started is
// told in the effect's own words.
TEST(Renderer, TheEffectSpeaksOnStderrAndListsOnStdout) {
  const Outcome listing = render("--list-controls", "");
  ASSERT_EQ(listing.status, 0) << listing.err;
  std::istringstream lines(listing.out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.compare(0, 12, "number  kind"), 0) << line;
  int rows = 0;
  for (; std::getline(lines, line); ++rows)
    EXPECT_TRUE(line.size() > 8 && std::isdigit(static_cast<unsigned char>(line[5])) && line.compare(6, 2, "  ") == 0)
        << line;
  EXPECT_GT(rows, 50);
  EXPECT_NE(listing.err.find("4-Tidewright"), std::string::npos) << listing.err;

  const std::string events = home_file("help.events");
  write_file(events, "1 push 31\n");
  const Outcome help = render("--size 32x18 --events " + events, "", "Q4_HELP_BROWSER=" + home_file("no-browser"));
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_NE(help.err.find("\nlibtidewright.so: error: Error in opening help file (failed to spawn netscape process)\n"),
            std::string::npos)
      << help.err;
}

// A name with a number before its extension is a sequence when that file is
// missing or others of its numbering exist, else a still; the summary says
// which.
TEST(Renderer, StillsAndSequencesDecidedAtStart) {
  const std::string folder = home_file("stills");
  std::filesystem::create_directories(folder);
  int status = 0;
  for (const char* name : {"clip5.ppm", "take7.ppm", "take8.ppm"})
    run("/usr/bin/ppmmake rgb:10/20/30 4 3 > " + folder + "/" + name, status);
  ASSERT_EQ(status, 0);
  const struct {
    std::string options;
    bool ok;
    std::string message;
  } cases[] = {
      {"--input 1=" + folder + "/clip5.ppm --frames 1-3", true, "  clip 1: " + folder + "/clip5.ppm, a still\n"},
      {"--size 4x3 --input 2=" + folder + "/clip5.ppm", true, "  clip 2: " + folder + "/clip5.ppm, a still\n"},
      {"--input 1=" + folder + "/take7.ppm --frames 7-8", true,
       "  clip 1: " + folder + "/take7.ppm .. " + folder + "/take8.ppm, a sequence\n"},
      {"--input 1=" + folder + "/take7.ppm --frames 7-9", false, "clip 1 frame 9: " + folder + "/take9.ppm: No such file"},
      {"--input 1=" + folder + "/shot.0001.ppm", false, "clip 1 frame 1: " + folder + "/shot.0001.ppm: No such file"},
  };
  for (const auto& c : cases) {
    const Outcome r = render(c.options);
    EXPECT_EQ(r.status == 0, c.ok) << c.options << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// One rule for a value beyond its control's range, from --set, --key, an
// event or a setup: a finite value is clamped, with a warning that names the
// control and its range.
TEST(Renderer, OneClampRuleForEverySource) {
  const std::string log = home_file("clamp.log"), events = home_file("clamp.events"), setup = home_file("clamp.setup");
  write_file(events, "2 set Test -3\n");
  write_file(setup, "userfloat 93 -1e40\n");
  const Outcome r = render("--size 4x4 --frames 1-2 --log " + log + " --events " + events + " --setup " + setup +
                           " --set Test=1e40 --key Count@1=1e40 --list-controls");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& warning :
       {std::string("--set Test=1e40: value 1e40 of control 7 (Test) is out of its range 0 .. 1: clamped to 1"),
        std::string("--key Count@1=1e40: value 1e40 of control 21 (Count) is out of its range 0 .. 100: clamped to 100"),
        events + ":1: value -3 of control 7 (Test) is out of its range 0 .. 1: clamped to 0",
        setup + ":1: userfloat 93 value -1e+40 is out of its range -1000 .. 1000: clamped to -1000"})
    EXPECT_NE(r.err.find("tidewright_host: warning: " + warning + "\n"), std::string::npos) << warning << "\n" << r.err;
  EXPECT_NE(r.out.find("    93  userfloat  Amplitude Import          -1000"), std::string::npos) << r.out;
}
