#ifndef STANDIN_HOST_H
#define STANDIN_HOST_H

// The stand-in host behind the spark* services: its frame buffers, workers,
// curves, setup file and scripted answers, configured by the host program or
// by tests, and the log of every service call made to it.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "spark.h"

// Back to a fresh host: no buffers, one worker, no curves, controls, answers
// or log entries, default answers (API 4.0, 8 free buffers, ratio 1.0).
void standin_reset();

// --- frames and buffers ----------------------------------------------------
// Clip ids 1..7 are the host buffers (1 the output); temporary buffers get
// ids from standin_temp_base upwards as they are registered.
enum { standin_first_clip = 1, standin_last_clip = 7, standin_temp_base = 100 };

// Sets the frame size and depth (24: packed 8-bit RGB; 48 or 64: 12-bit,
// three 16-bit words a pixel) and (re)allocates the clip buffers and every
// registered temporary buffer. Any other depth is refused (false) and
// changes nothing. False too when the buffers cannot be allocated: then
// every buffer is empty and standin_short_of names them.
bool standin_set_frame(int width, int height, int depth);
// The buffers the host last could not allocate ("the host's 7 frame buffers
// of 12000x12000 at depth 24, 432 MB each"; a temporary buffer that cannot
// be had is registered without pixels), empty when none.
std::string standin_short_of();
int standin_frame_width();
int standin_frame_height();
bool standin_deep12();
void standin_withhold_buffer(int id, bool withheld);
// The host gives the buffer's descriptor with a null pixel pointer.
void standin_null_buffer_pixels(int id, bool null);
// The pixels of a buffer, or null when there is none.
void* standin_buffer_pixels(int id);
// Bytes one frame buffer holds at the current size and depth.
size_t standin_frame_bytes();

// Workers sparkMpFork runs (at least 1); also the info record's count
// (capped at 127) unless a raw byte is scripted below.
void standin_set_processes(int count);
int standin_processes();
// With adapt on (off after standin_reset), each info record taken sets the
// workers of the forks that follow, and the record's count, to as many of
// the processes as have cores to run on (q4_pool_runners): a host never
// has the machine to itself, and a worker sharing a core with another
// program holds up every fork whose band it holds.
void standin_set_adapt_processes(bool adapt);
// The workers sparkMpFork runs now.
int standin_fork_processes();
// Scripts the info record's signed process byte (offset 4148) apart from
// the worker count: its low 8 bits, so a host can present 0, a negative or
// a wrapped value. Holds until standin_reset.
void standin_set_info_procs_byte(int raw);
void standin_set_pixel_aspect(float aspect);
void standin_set_frame_number(unsigned frame);
// The info record's byte 4120: 0 tells the plug-in pen events are not its
// own. 1 after standin_reset.
void standin_set_interactive(int interactive);

// The info record the host passes with the current settings.
SparkHostInfo standin_info();

// sparkGetFrame fills a buffer from this source (the default draws
// standin_pattern_value for every channel).
typedef std::function<void(int clip, int frame, void* buffer, int width, int height,
                           bool deep12)>
    StandinFrameSource;
void standin_set_frame_source(StandinFrameSource source);
// The default source's host value (a byte, or a whole 12-bit word with its
// low four host bits) of channel 0..2 at (x, y); any frame number.
unsigned standin_pattern_value(int clip, int frame, int x, int y, int channel, bool deep12);
// Loads frame `frame` of input clip `clip` (0-based) from the frame source
// into host buffer `id`, as the host does before each render.
bool standin_fill_buffer(int id, int clip, int frame);

// --- controls, curves and setups -------------------------------------------
enum StandinControlKind {
  standin_float,
  standin_user_float,
  standin_int,
  standin_boolean,
  standin_pup,
  standin_push,
  standin_string
};
// The word a setup file uses for each kind ("float", "userfloat", "int",
// "boolean", "pup", "push", "string").
const char* standin_kind_name(StandinControlKind kind);

// Makes a plug-in's control record known to the host by number (a null
// record forgets it). Strings have their own numbers (SparkString<N>).
void standin_register_control(int number, StandinControlKind kind, void* record);
struct StandinControlEntry {
  int number;
  StandinControlKind kind;
  void* record;
};
// Every registered record: value controls in number order, then strings.
std::vector<StandinControlEntry> standin_controls();
// The one rule for values beyond a control's range, from the command line,
// events or a setup file: a finite value outside it (floats compared as the
// record holds them; lists by item index, checkboxes 0 and 1) is brought to
// the nearer end, and the text for the warning ("is out of its range 0 ..
// 100: clamped to 100") returned; empty when the value lies inside.
std::string standin_clamp_value(StandinControlKind kind, const void* record, double& value);
// Writes value into a value control's record as its own type (truncated for
// integers); buttons and strings hold no value and are left alone.
void standin_store_value(StandinControlKind kind, void* record, double value);
bool standin_control_hidden(int number);

// Curves animate value controls over the frames: linear between keys for
// floats and integers (integers rounded), stepping for lists and
// checkboxes, held before the first and after the last key. A key value
// that is not finite is refused.
std::vector<std::pair<int, float>> standin_curve_keys(int control);
// The host's own keys (the artist's), apart from the plug-in's
// sparkSetCurveKey: not logged.
bool standin_set_curve_key(int control, int frame, float value);
void standin_clear_curve(int control);
// Writes every curve's value at `frame` into its record, as the host does
// before it processes a frame (clamped to the record's range).
void standin_apply_curves(int frame);

// Files read by sparkLoadSetup and written by sparkSaveSetup; empty: none
// (the call fails).
void standin_set_setup_paths(const std::string& load, const std::string& save);
// What the last sparkLoadSetup or sparkSaveSetup found: an error (for a
// load "file:line: ...") when it refused the file (a load then changes
// nothing), and one warning per value a load clamped or line it ignored.
std::string standin_setup_error();
std::vector<std::string> standin_setup_warnings();

// --- scripted answers ------------------------------------------------------
void standin_set_api_version(double version);
void standin_set_free_buffers(int count);
void standin_set_viewer_ratio(float ratio);
// Answers of the coming confirmations, first in first out; when none is
// queued the answer is 0 (no).
void standin_push_confirm_answer(int answer);
void standin_set_working_dir(const std::string& path);
// Path the next file browser picks (once); empty: the artist cancels.
void standin_set_browser_choice(const std::string& path);
// One line for each confirmation answered no and each file browser
// cancelled because nothing was scripted for it, since the last call.
std::vector<std::string> standin_take_dialogue_warnings();
// Whether sparkViewingDraw asked for a redraw since the last call. The
// viewer is the host's: it redraws after the plug-in's call returns, never
// inside it.
bool standin_take_viewer_mark();
int standin_cursor();

// --- messages ----------------------------------------------------------------
// With a plug-in name, every sparkMessage and sparkError is also shown as one
// line on the standard error: "NAME: TEXT", "NAME: error: TEXT" (line ends
// become blanks). Empty: only logged, as after standin_reset.
void standin_show_messages(const std::string& plugin);

// --- call log --------------------------------------------------------------
// Every service call as "name(arguments)". Logging can be switched off for
// long runs (benchmarks).
void standin_set_logging(bool enabled);
std::vector<std::string> standin_log();
void standin_clear_log();
int standin_log_count(const std::string& prefix);

#endif
