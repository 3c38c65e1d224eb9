// The command-line renderer: loads a plug-in as a host does, feeds its
// clips from files or the built-in clip, animates its controls, runs it
// frame by frame and writes the frames it returns.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "q4_sysinfo.h"
#include "render_clips.h"
#include "render_controls.h"
#include "render_events.h"
#include "render_frame_writer.h"
#include "render_options.h"
#include "standin_host.h"
#include "standin_image_files.h"
#include "standin_viewer.h"

namespace {

const int default_width = 960;
const int default_height = 540;

typedef std::chrono::steady_clock Clock;

void warn(const std::string& text) { std::fprintf(stderr, "tidewright_host: warning: %s\n", text.c_str()); }

// The frame buffers the host gives every plug-in: the output and six clips.
const int host_buffers = standin_last_clip - standin_first_clip + 1;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The host finds a plug-in's control records by name.
void register_controls(void* library) {
  static const struct {
    const char* prefix;
    StandinControlKind kind;
  } kinds[] = {{"SparkFloat", standin_float}, {"SparkUserFloat", standin_user_float},
               {"SparkInt", standin_int},     {"SparkBoolean", standin_boolean},
               {"SparkPup", standin_pup},     {"SparkPush", standin_push},
               {"SparkString", standin_string}};
  for (int number = 0; number < 256; ++number) {
    for (const auto& kind : kinds) {
      char name[32];
      std::snprintf(name, sizeof name, "%s%d", kind.prefix, number);
      if (void* record = dlsym(library, name)) standin_register_control(number, kind.kind, record);
    }
  }
}

template <typename Fn>
Fn entry(void* library, const char* name) {
  return reinterpret_cast<Fn>(dlsym(library, name));
}

// A path as the file system will resolve it, so that two spellings of one
// file compare equal.
std::string resolved(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path full = std::filesystem::weakly_canonical(path, ignored);
  return full.empty() ? path : full.string();
}

// Every file the run writes must differ from every file it reads.
bool outputs_clear_of_inputs(const RenderOptions& options, const ClipInputs& inputs, int start,
                             const std::vector<RenderEvent>& events, std::string& error) {
  std::set<std::string> read;
  for (int clip = 1; clip <= 6; ++clip)
    for (int frame = start; frame <= options.last && !inputs.File(clip, frame).empty(); ++frame)
      read.insert(resolved(inputs.File(clip, frame)));
  for (const std::string& file : {options.setup, options.plugin, options.events})
    if (!file.empty()) read.insert(resolved(file));
  std::vector<std::string> written;
  for (const RenderEvent& event : events)
    if (event.kind == RenderEvent::viewer) written.push_back(event.word);
  for (const std::string& name : {options.output, options.viewer}) {
    Sequence sequence;
    if (!name.empty() && parse_sequence(name, sequence))
      for (int frame = options.first; frame <= options.last; ++frame)
        written.push_back(sequence_file(sequence, frame));
  }
  for (const std::string& file : {options.save_setup, options.log})
    if (!file.empty()) written.push_back(file);
  for (const std::string& file : written) {
    if (read.count(resolved(file))) {
      error = "output " + file + " would overwrite an input";
      return false;
    }
  }
  return true;
}

// Frames whose host buffers alone exceed the machine's memory and swap could
// only end with the kernel stopping the run once they are written: they are
// refused before anything is allocated.
bool fits_the_machine(int width, int height, int depth, std::string& error) {
  const double need = static_cast<double>(host_buffers) * width * height * 3 * (depth == 24 ? 1 : 2);
  unsigned total = 0, free = 0;
  q4mp_get_meminfo(&total, &free, 1);
  if (total == 0 || need <= total * 1024.0) return true;
  error = "frames of " + std::to_string(width) + "x" + std::to_string(height) + " at depth " +
          std::to_string(depth) + " need " + standin_size_text(need) + " for the host's " +
          std::to_string(host_buffers) + " frame buffers alone, more than the " +
          standin_size_text(total * 1024.0) + " of memory here";
  return false;
}

// Why the plug-in may have refused a frame: the resolution list of page 0
// takes every Nth pixel of every Nth row, and a frame under N pixels on a
// side holds no whole preview pixel there (": at resolution 1/32 the 36x30
// frame holds 1x0 preview pixels"); else empty.
std::string preview_too_small(int width, int height) {
  StandinControlEntry list;
  std::string ignored;
  if (!find_control(standin_controls(), "33", list, ignored) || list.kind != standin_pup) return "";
  const SparkPup* pup = static_cast<const SparkPup*>(list.record);
  const int index = pup->value;
  int scale = 0;
  if (index < 0 || index >= pup->count || index >= SPARK_PUP_ITEMS || !pup->items[index] ||
      std::sscanf(pup->items[index], "1/%d", &scale) != 1 || scale < 1 || (width >= scale && height >= scale))
    return "";
  return std::string(": at resolution ") + pup->items[index] + " the " + std::to_string(width) + "x" +
         std::to_string(height) + " frame holds " + std::to_string(width / scale) + "x" +
         std::to_string(height / scale) + " preview pixels";
}

class Renderer {
 public:
  // Listings (--list-controls, --panel) go to `listing`.
  Renderer(const RenderOptions& options, FILE* listing)
      : options_(options), listing_(listing), writer_([this](int frame, double effect) { Progress(frame, effect); }) {}
  ~Renderer() {
    if (library_) dlclose(library_);
  }
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // 0 when every frame was written; otherwise error holds the reason.
  int Run(std::string& error);

 private:
  bool Prepare(std::string& error);
  int Workers() const { return options_.processes > 0 ? options_.processes : q4mp_get_raw_cpu_count(); }
  bool Load(std::string& error);
  bool ApplyControls(std::string& error);
  bool RenderFrame(int frame, double& effect_seconds, std::string& error);
  // The progress line of a frame done: rendered, and written if it is.
  void Progress(int frame, double effect_seconds) const;
  bool PlayEvents(int frame, std::string& error);
  bool Play(const RenderEvent& event, void*& returned, bool& redraw, std::string& error);
  // The viewer shows a frame buffer the plug-in returned.
  void Show(const void* frame);
  // Redraws the viewer (frame, then the plug-in's overlay) and, with
  // --viewer, writes it as the current frame's file.
  bool Redraw(std::string& error);
  void WriteLog();

  const RenderOptions& options_;
  FILE* listing_;
  Clock::time_point wall_ = Clock::now();
  FrameWriter writer_;
  ClipInputs inputs_;
  int start_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool deep12_ = false;
  std::string plugin_;
  void* library_ = nullptr;
  SparkProcessFn process_ = nullptr;
  SparkOverlayFn overlay_ = nullptr;
  SparkInteractFn interact_ = nullptr;
  int clips_ = 0;
  Sequence output_;
  Sequence viewer_files_;
  StandinViewer viewer_;
  bool viewing_ = false;
  int pan_x_ = 0;
  int pan_y_ = 0;
  float zoom_ = 1.0f;
  StandinArray<unsigned char> shown_;  // the frame the viewer shows, once there is one
  bool showing_ = false;
  int frame_ = 0;                     // the frame being rendered
  std::vector<RenderEvent> events_;
  std::string source_error_;
};

bool Renderer::Prepare(std::string& error) {
  start_ = options_.preroll >= 0 ? options_.preroll : options_.first;
  if (options_.inputs.empty()) inputs_.Set(1, "builtin");
  for (const RenderOptions::Input& input : options_.inputs) inputs_.Set(input.clip, input.name);
  inputs_.SetWorkers(Workers());
  inputs_.SetLast(options_.last);
  plugin_ = options_.plugin.empty() ? TIDEWRIGHT_DEFAULT_PLUGIN : options_.plugin;
  if (!options_.events.empty() && !read_events(options_.events, start_, options_.last, events_, error))
    return false;
  if (!outputs_clear_of_inputs(options_, inputs_, start_, events_, error)) return false;
  if (!options_.setup.empty()) {
    FILE* setup = std::fopen(options_.setup.c_str(), "r");
    if (!setup) {
      error = "--setup " + options_.setup + ": " + std::strerror(errno);
      return false;
    }
    std::fclose(setup);
  }
  // The frame size: given, else that of the first file input's first frame.
  width_ = options_.width;
  height_ = options_.height;
  for (int clip = 1; clip <= 6 && width_ == 0; ++clip)
    if (!inputs_.File(clip, start_).empty() && !inputs_.Probe(clip, start_, width_, height_, error)) return false;
  if (width_ == 0) {
    width_ = default_width;
    height_ = default_height;
  }
  if (!fits_the_machine(width_, height_, options_.depth, error)) return false;
  parse_sequence(options_.output, output_);
  parse_sequence(options_.viewer, viewer_files_);
  // Events need the viewer: pen events act on the widgets it last drew.
  viewing_ = !options_.viewer.empty() || !options_.events.empty();
  std::string reason;
  if (viewing_ && !viewer_.Open(width_, height_, &reason)) {
    error = "cannot open the viewer: " + reason;
    return false;
  }
  return true;
}

bool Renderer::Load(std::string& error) {
  standin_reset();
  standin_set_logging(!options_.log.empty());
  standin_show_messages(plugin_.substr(plugin_.rfind('/') + 1));
  if (!standin_set_frame(width_, height_, options_.depth)) {
    error = "cannot allocate " + standin_short_of();
    return false;
  }
  deep12_ = standin_deep12();
  if (viewing_ && !shown_.Allocate(standin_frame_bytes())) {
    error = "cannot allocate the viewer's copy of the frame (" +
            standin_size_text(static_cast<double>(standin_frame_bytes())) + ")";
    return false;
  }
  standin_set_processes(Workers());
  standin_set_adapt_processes(true);
  standin_set_setup_paths(options_.setup, options_.save_setup);
  // Frames the plug-in fetches itself; a failure ends the run after the
  // frame that asked.
  standin_set_frame_source([this](int clip, int frame, void* buffer, int width, int height,
                                  bool deep12) {
    std::string error;
    if (!inputs_.Fill(clip + 1, frame, buffer, width, height, deep12, error) && source_error_.empty())
      source_error_ = error;
  });
  library_ = dlopen(plugin_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    error = std::string("cannot load the plug-in: ") + dlerror();
    return false;
  }
  process_ = entry<SparkProcessFn>(library_, "SparkProcess");
  overlay_ = entry<SparkOverlayFn>(library_, "SparkOverlay");
  interact_ = entry<SparkInteractFn>(library_, "SparkInteract");
  if (!entry<SparkInitialiseFn>(library_, "SparkInitialise") || !process_) {
    error = plugin_ + " lacks SparkInitialise or SparkProcess";
    return false;
  }
  register_controls(library_);
  std::vector<std::string> warnings;
  if (!resolve_events(standin_controls(), options_.events, events_, warnings, error)) return false;
  for (const std::string& warning : warnings) warn(warning);
  return true;
}

// After start-up, which loaded the setup: --set, --key and --res, checked
// before any is applied. Keys win wherever they come from (the setup or
// --key): a set value holds only for a control without keys.
bool Renderer::ApplyControls(std::string& error) {
  const std::vector<StandinControlEntry> controls = standin_controls();
  struct Change {
    StandinControlEntry control;
    std::string option;  // as typed, for warnings
    const RenderOptions::Assignment* key;
    double value;
  };
  std::vector<Change> changes;
  std::vector<std::string> warnings;
  auto add = [&](const std::string& name, const std::string& value, const std::string& option,
                 const RenderOptions::Assignment* key) {
    Change change{{}, option, key, 0.0};
    std::string warning;
    if (!find_control(controls, name, change.control, error) ||
        !parse_control_value(change.control, value, change.value, error, warning))
      return false;
    if (!warning.empty()) warnings.push_back(option + ": " + warning);
    changes.push_back(change);
    return true;
  };
  for (const RenderOptions::Assignment& set : options_.sets)
    if (!add(set.control, set.value, "--set " + set.control + "=" + set.value, nullptr)) return false;
  for (const RenderOptions::Assignment& key : options_.keys)
    if (!add(key.control, key.value, "--key " + key.control + "@" + std::to_string(key.frame) + "=" + key.value, &key))
      return false;
  if (!options_.resolution.empty()) {
    for (const char* number : {"33", "62", "91"}) {
      StandinControlEntry list;
      if (!find_control(controls, number, list, error) || list.kind != standin_pup) {
        error = std::string("--res: the plug-in has no resolution list ") + number;
        return false;
      }
      if (!add(number, options_.resolution, "--res " + options_.resolution, nullptr)) return false;
    }
  }
  for (const Change& change : changes)
    if (change.key)
      standin_set_curve_key(change.control.number, change.key->frame, static_cast<float>(change.value));
  for (const Change& change : changes) {
    if (change.key) continue;
    set_control_value(change.control, change.value);
    if (!standin_curve_keys(change.control.number).empty())
      warnings.push_back(change.option + ": control " + std::to_string(change.control.number) +
                         " has keys, which set its value on every frame");
  }
  for (const std::string& warning : warnings) warn(warning);
  return true;
}

bool Renderer::RenderFrame(int frame, double& effect_seconds, std::string& error) {
  const std::string at = "frame " + std::to_string(frame) + ": ";
  standin_apply_curves(frame);
  standin_set_frame_number(static_cast<unsigned>(frame));
  for (int clip = 1; clip <= clips_; ++clip)
    if (!inputs_.Fill(clip, frame, standin_buffer_pixels(clip + 1), width_, height_, deep12_, error))
      return false;
  frame_ = frame;
  if (!PlayEvents(frame, error)) return false;
  const Clock::time_point begin = Clock::now();
  void* result = process_(standin_info());
  effect_seconds = seconds_since(begin);
  if (!source_error_.empty()) {
    error = source_error_;
    return false;
  }
  if (!result || result != standin_buffer_pixels(1)) {
    error = at + (result ? "the plug-in returned a buffer that is not its output"
                         : "the plug-in refused the frame" + preview_too_small(width_, height_));
    return false;
  }
  if (frame >= options_.first && !options_.output.empty()) {
    FrameImage image;
    image.matte = options_.depth == 64;
    if (!host_to_frame(result, width_, height_, deep12_, image, error)) {
      error = at + error;
      return false;
    }
    // A write that failed is told by the writer, in its place in order.
    if (!writer_.Write(frame, sequence_file(output_, frame), effect_seconds, std::move(image))) return false;
  } else {
    Progress(frame, effect_seconds);
  }
  // The host shows every frame it renders.
  if (viewing_) {
    Show(result);
    if (!Redraw(error)) {
      error = at + error;
      return false;
    }
  }
  return true;
}

void Renderer::Show(const void* frame) {
  std::memcpy(shown_.data(), frame, shown_.size());
  showing_ = true;
}

bool Renderer::Redraw(std::string& error) {
  viewer_.DrawFrame(showing_ ? shown_.data() : nullptr, width_, height_, deep12_);
  viewer_.DrawOverlay(overlay_, standin_info());
  // Asked for inside the overlay itself, a redraw is the one just made.
  standin_take_viewer_mark();
  if (options_.viewer.empty() || frame_ < options_.first) return true;
  return viewer_.Write(sequence_file(viewer_files_, frame_).c_str(), &error);
}

// One event, as the artist's action reaches the plug-in: `returned` is the
// frame a callback or pen event gave back, `redraw` whether the viewer
// changed.
bool Renderer::Play(const RenderEvent& event, void*& returned, bool& redraw, std::string& error) {
  const float x = static_cast<float>(event.x), y = static_cast<float>(event.y);
  switch (event.kind) {
    case RenderEvent::set:
      // As the panel writes it: any animation of the control gives way.
      standin_clear_curve(event.control.number);
      set_control_value(event.control, event.value);
      [[fallthrough]];  // then the record's callback, as for a button
    case RenderEvent::push:
      if (SparkCallback callback = control_callback(event.control)) returned = callback(1, standin_info());
      return true;
    case RenderEvent::confirm: standin_push_confirm_answer(event.x != 0.0 ? 1 : 0); return true;
    case RenderEvent::pick: standin_set_browser_choice(event.word); return true;
    case RenderEvent::press:
    case RenderEvent::drag:
    case RenderEvent::release:
    case RenderEvent::hover: {
      const bool down = event.kind == RenderEvent::press || event.kind == RenderEvent::drag;
      if (interact_) returned = interact_(standin_info(), 0, 0, down ? 1.0f : 0.0f, x, y);
      return true;
    }
    case RenderEvent::zoom:
    case RenderEvent::pan:
      if (event.kind == RenderEvent::zoom) {
        zoom_ = x;
      } else {
        pan_x_ = static_cast<int>(event.x);
        pan_y_ = static_cast<int>(event.y);
      }
      viewer_.SetView(pan_x_, pan_y_, zoom_);
      redraw = true;
      return true;
    case RenderEvent::ratio:
      standin_set_viewer_ratio(x);
      redraw = true;
      return true;
    case RenderEvent::aspect:
      standin_set_pixel_aspect(x);
      redraw = true;
      return true;
    case RenderEvent::interactive: standin_set_interactive(event.x != 0.0 ? 1 : 0); return true;
    case RenderEvent::viewer: return viewer_.Write(event.word.c_str(), &error);
  }
  return true;
}

bool Renderer::PlayEvents(int frame, std::string& error) {
  for (const RenderEvent& event : events_) {
    if (event.frame != frame) continue;
    const std::string at = options_.events + ":" + std::to_string(event.line) + ": ";
    void* returned = nullptr;
    bool redraw = false;
    if (!Play(event, returned, redraw, error)) {
      error = at + error;
      return false;
    }
    for (const std::string& warning : standin_take_dialogue_warnings()) warn(at + warning);
    if (!source_error_.empty()) {
      error = source_error_;
      return false;
    }
    if (returned && returned != standin_buffer_pixels(1)) {
      error = at + "the plug-in returned a buffer that is not its output";
      return false;
    }
    // A frame given back is what the viewer shows; a redraw the plug-in
    // asked for is made once its call has returned.
    if (returned) Show(returned);
    redraw = standin_take_viewer_mark() || redraw || returned;
    if (redraw && !Redraw(error)) {
      error = at + error;
      return false;
    }
    if (options_.panel) {
      std::fprintf(listing_, "panel after %s:%d (frame %d: %s)\n", options_.events.c_str(), event.line, frame,
                  event.text.substr(event.text.find_first_not_of("0123456789 \t")).c_str());
      print_panel(standin_controls(), listing_);
    }
  }
  return true;
}

void Renderer::WriteLog() {
  if (options_.log.empty() || !library_) return;
  FILE* file = std::fopen(options_.log.c_str(), "w");
  if (!file) {
    std::fprintf(stderr, "tidewright_host: --log %s: %s\n", options_.log.c_str(), std::strerror(errno));
    return;
  }
  for (const std::string& line : standin_log()) std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

void Renderer::Progress(int frame, double effect_seconds) const {
  const int count = options_.last - start_ + 1, done = frame - start_ + 1;
  const double elapsed = seconds_since(wall_);
  std::fprintf(stderr, "frame %d of %d (%d%s): effect %.1f ms; wall %.1f ms a frame, %.1f fps, %.1f s left\n",
               done, count, frame, frame < options_.first ? ", preroll" : "", effect_seconds * 1000.0,
               elapsed * 1000.0 / done, done / elapsed, elapsed / done * (count - done));
}

int Renderer::Run(std::string& error) {
  if (!writer_.Start(Workers(), error) || !Prepare(error) || !Load(error)) return 1;
  entry<SparkInitialiseFn>(library_, "SparkInitialise")(standin_info());
  if (!options_.setup.empty() && !standin_setup_error().empty()) {
    error = standin_setup_error();
    WriteLog();
    return 1;
  }
  for (const std::string& warning : standin_setup_warnings()) warn(warning);
  if (!ApplyControls(error)) {
    WriteLog();
    return 1;
  }
  auto uninitialise = entry<SparkUnInitialiseFn>(library_, "SparkUnInitialise");
  auto finish = [&]() {
    if (uninitialise) uninitialise(standin_info());
    if (!options_.save_setup.empty() && !standin_setup_error().empty()) {
      error = standin_setup_error();
      return false;
    }
    return true;
  };
  if (options_.list_controls) {
    list_controls(standin_controls(), listing_);
    const bool saved = finish();
    WriteLog();
    return saved ? 0 : 1;
  }

  auto clips_fn = entry<SparkCountFn>(library_, "SparkClips");
  clips_ = clips_fn ? clips_fn() : 1;
  clips_ = clips_ < 0 ? 0 : (clips_ > standin_last_clip - 1 ? standin_last_clip - 1 : clips_);
  for (const RenderOptions::Input& input : options_.inputs) {
    if (input.clip > clips_) {
      error = "--input " + std::to_string(input.clip) + ": the plug-in takes " +
              std::to_string(clips_) + " clips";
      WriteLog();
      return 1;
    }
  }
  for (const char* name : {"SparkMemoryTempBuffers", "SparkChannelEditor"})
    if (auto call = entry<SparkCountFn>(library_, name)) call();
  if (!standin_short_of().empty()) {
    error = "cannot allocate " + standin_short_of();
    WriteLog();
    return 1;
  }
  auto process_start = entry<SparkCountFn>(library_, "SparkProcessStart");
  if (process_start && process_start() == 0) {
    error = "the plug-in refused to start processing";
    WriteLog();
    return 1;
  }
  // The viewer is up before the artist's first action.
  frame_ = start_;
  if (!events_.empty() && !Redraw(error)) {
    WriteLog();
    return 1;
  }

  const int count = options_.last - start_ + 1;
  double effect_total = 0.0;
  bool rendered = true;
  for (int frame = start_; rendered && frame <= options_.last; ++frame) {
    double effect = 0.0;
    rendered = RenderFrame(frame, effect, error);
    effect_total += effect;
  }
  // The frames before a failure are written whole; a failed write comes
  // before any later failure of the render.
  std::string unwritten;
  if (!writer_.Finish(unwritten)) error = unwritten;
  if (!rendered || !unwritten.empty()) {
    WriteLog();
    return 1;
  }
  const bool saved = finish();
  WriteLog();
  if (!saved) return 1;

  const int written = options_.last - options_.first + 1;
  std::fprintf(stderr, "tidewright_host: %d frame%s %d-%d of %dx%d at depth %d through %s\n",
               written, written == 1 ? "" : "s", options_.first, options_.last, width_, height_,
               options_.depth, plugin_.c_str());
  if (start_ < options_.first)
    std::fprintf(stderr, "  preroll: frames %d-%d\n", start_, options_.first - 1);
  for (int clip = 1; clip <= clips_; ++clip) {
    const std::string input = inputs_.Summary(clip, start_, options_.last);
    if (!input.empty()) std::fprintf(stderr, "  clip %d: %s\n", clip, input.c_str());
  }
  if (!options_.output.empty())
    std::fprintf(stderr, "  output: %s .. %s\n", sequence_file(output_, options_.first).c_str(),
                 sequence_file(output_, options_.last).c_str());
  if (!options_.viewer.empty())
    std::fprintf(stderr, "  viewer: %s .. %s\n", sequence_file(viewer_files_, options_.first).c_str(),
                 sequence_file(viewer_files_, options_.last).c_str());
  if (!options_.save_setup.empty()) std::fprintf(stderr, "  setup: %s\n", options_.save_setup.c_str());
  if (!options_.log.empty()) std::fprintf(stderr, "  log: %s\n", options_.log.c_str());
  std::fprintf(stderr, "  effect %.3f s (%.1f ms a frame), wall %.3f s\n", effect_total,
               effect_total * 1000.0 / count, seconds_since(wall_));
  return 0;
}

// A file size limit fails the write, told in the run's one error line ("File
// too large"), where its signal would end the run without a word and leave
// the frame's temporary behind; a signal that ends the run removes it.
// One ignored by whoever started the run (nohup, a background job) stays so.
// Only the frame writers take them: every thread the program starts begins
// with them blocked, so that the handler never runs on a thread that is
// making or renaming a temporary the handler does not yet know.
void handle_signals() {
  std::signal(SIGXFSZ, SIG_IGN);
  render_block_signals();
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    if (sigaction(number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action.sa_handler = image_file_end_by_signal;
    sigemptyset(&action.sa_mask);
    // The handler returns only while a temporary is being made, and that
    // call goes on.
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
  }
}

}  // namespace

#ifdef __SANITIZE_ADDRESS__
// Mesa's off-screen frontend never frees the framebuffers it creates for a
// context's colour buffer: the sanitized program carries that one
// suppression itself, so it runs clean without LSAN_OPTIONS and still
// reports every leak of its own.
extern "C" const char* __lsan_default_suppressions() { return "leak:libOSMesa.so\n"; }
#endif

int main(int argc, char** argv) {
  RenderOptions options;
  std::string error;
  if (!parse_render_options(argc, argv, options, error)) {
    std::fprintf(stderr, "tidewright_host: %s (--help lists the options)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(render_usage(), stdout);
    return 0;
  }
  handle_signals();
  // The listings are the program's standard output; whatever the plug-in
  // prints there (a start-up banner) goes to the standard error, so that a
  // pipe receives the listing alone.
  const int own = dup(STDOUT_FILENO);
  FILE* listing = own >= 0 ? fdopen(own, "w") : nullptr;
  if (listing)
    dup2(STDERR_FILENO, STDOUT_FILENO);
  else if (own >= 0)
    close(own);
  Renderer renderer(options, listing ? listing : stdout);
  const int status = renderer.Run(error);
  std::fflush(stdout);
  if (listing) std::fclose(listing);
  if (status) std::fprintf(stderr, "tidewright_host: %s\n", error.c_str());
  return status;
}
