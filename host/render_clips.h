#ifndef RENDER_CLIPS_H
#define RENDER_CLIPS_H

// What the renderer feeds the plug-in's clips and where it writes frames:
// numbered file sequences, the built-in clip, and the turn between files
// (top row first) and host frame buffers (bottom row first).

#include <pthread.h>

#include <string>
#include <vector>

#include "standin_image_files.h"

// One file of a numbered sequence names them all: "shots/take.0042.png" is
// "shots/take." + frame in 4 digits + ".png". A name without digits before
// its extension is one still file for every frame; see ClipInputs::Set for
// a still whose name has digits.
struct Sequence {
  std::string head;  // folder and base
  std::string extension;
  int digits = 0;
};

// False when the name has no extension.
bool parse_sequence(const std::string& path, Sequence& sequence);
std::string sequence_file(const Sequence& sequence, int frame);

// Host buffers: width x height RGB, row 0 the bottom row; 8-bit packed
// bytes, or 12-bit values in the top bits of 16-bit words (the low four bits
// are the host's: left alone on the way in, dropped on the way out). Rows
// run in bands on `workers` of the worker pool. host_to_frame is false
// with the reason when the image's samples cannot be allocated.
void frame_to_host(const FrameImage& image, void* buffer, bool deep12, int workers = 1);
bool host_to_frame(const void* buffer, int width, int height, bool deep12, FrameImage& image,
                   std::string& error);

// The built-in clip: colour bars under bright shapes and a dark grid, so
// that any flow is plain to see; the same pixels for the same frame and
// size on every run. A small square crosses the frame over 50 frames. False
// when the picture cannot be allocated.
bool draw_builtin_clip(int frame, int width, int height, FrameImage& image);

// The six clip inputs: a sequence, a still, the built-in clip, or nothing
// (black, left as the host made it).
class ClipInputs {
 public:
  enum Kind { none, builtin, still, sequence };

  ClipInputs() = default;
  ~ClipInputs();
  ClipInputs(const ClipInputs&) = delete;
  ClipInputs& operator=(const ClipInputs&) = delete;

  // Clip 1..6; a name of "builtin" picks the built-in clip. A name with a
  // number before its extension is a sequence when that file does not
  // exist or files with other numbers in its place do; otherwise it is a
  // still ("clip5.ppm" alone in its folder).
  void Set(int clip, const std::string& name);
  Kind kind(int clip) const;
  // What clip 1..6 reads over frames first..last, for the summary
  // ("shot.0001.png .. shot.0048.png, a sequence"); empty for none.
  std::string Summary(int clip, int first, int last) const;
  // The worker count of the bands that fill host buffers.
  void SetWorkers(int workers) { workers_ = workers; }
  // A sequence's next frame, up to `last`, is decoded on a thread of its
  // own while the frame it follows is rendered.
  void SetLast(int last) { last_ = last; }
  // The size of clip 1..6's file for `frame`, from a read whose picture
  // the first Fill of that frame takes, so the file is opened once; false
  // with error as Fill's.
  bool Probe(int clip, int frame, int& width, int& height, std::string& error);
  // The file clip `clip` reads for `frame`, empty for none or built-in.
  std::string File(int clip, int frame) const;
  // Fills the host buffer of clip 1..6 for frame; false with error
  // ("clip 1 frame 7: file: reason") when a file is missing, unreadable or
  // of another size than width x height, or memory is short.
  bool Fill(int clip, int frame, void* buffer, int width, int height, bool deep12,
            std::string& error);

 private:
  // A read done before its frame is asked for: by Probe, or on the
  // thread that reads a sequence ahead.
  struct Read {
    int frame = 0;
    bool ok = false;
    std::string error;
    FrameImage image;
    std::string file;
  };
  struct Input {
    Kind kind = none;
    Sequence files;
    FrameImage loaded;  // a still, once read
    Read ahead;
    bool held = false;     // ahead holds a read
    bool reading = false;  // ahead is being read on `reader`
    pthread_t reader{};
  };
  static void* ReadAhead(void* read);
  // The read of `frame` into `read`: the one held or being read ahead, else
  // one made now.
  void Take(Input& input, int clip, int frame, Read& read);
  void Finish(Input& input);
  Input inputs_[6];
  int last_ = 0;
  // What the built-in clip shows on every frame, drawn once per size.
  FrameImage background_;
  int workers_ = 1;
};

#endif
