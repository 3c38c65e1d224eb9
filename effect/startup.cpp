// The entry points around the frames: start-up, clips, buffers, the
// channel editor and shut-down.
#include <cstdio>
#include <cstring>

#include "control_records.h"
#include "host_state.h"
#include "q4_pause.h"
#include "tidewright.h"

int deep12 = 0;
int no_buffers = 0;

extern "C" {
int TempID = 0;
}

namespace {

const char rule_of_equals[] = "===================================================";
const char rule_of_pluses[] = "+++++++++++++++++++++++++++++++++++++++++++++++++++";

// The banner, the bit mode and the buffer check; with too few image buffers
// every frame is refused until the library is loaded again.
void show_version_orvalle(const SparkHostInfo&, const char* name, int needed8, int needed12,
                          const char* release, int interface_kind) {
  const char* interface_word = interface_kind == 1 ? "UCAPI" : (interface_kind == 0 ? "NATIVE" : " ");
  std::printf("%s\n", rule_of_equals);
  std::printf("Veltrane TZ-V%s.%s Orvalle %s for IFFFS %s\n    %s  Built %s at %s\n", "1.2",
              release, name, " ", interface_word, __DATE__, __TIME__);
  std::printf("%s\n", rule_of_equals);
  std::fflush(stdout);
  std::fputs(deep12 ? "... 12 bit mode selected.\n" : "... 8-10 bit mode selected.\n", stdout);
  std::fflush(stdout);
  const int available = sparkMemGetFreeMemory();
  std::printf("Available buffers = %d\n", available);
  std::fflush(stdout);
  std::printf("%s\n\n", rule_of_pluses);
  const int needed = deep12 ? needed12 : needed8;
  if (available >= needed) {
    no_buffers = 0;
    return;
  }
  std::printf("ERROR: we need %d image buffers, but we only got %d.\n", needed, available);
  std::printf("... Processing will be turned off ...\n");
  std::fflush(stdout);
  sparkMessage("Insufficient image buffers available! Giving up!");
  q4_pause(5.0);
  no_buffers = 1;
}

// Titles of the value records by number, for the channel editor.
struct Title {
  int number;
  const char* text;
};

#define TIDEWRIGHT_TITLE_None(n, title)
#define TIDEWRIGHT_TITLE_Pup(n, title)
#define TIDEWRIGHT_TITLE_Push(n, title)
#define TIDEWRIGHT_TITLE_String(n, title)
#define TIDEWRIGHT_TITLE_Boolean(n, title)
#define TIDEWRIGHT_TITLE_UserFloat(n, title)
#define TIDEWRIGHT_TITLE_Float(n, title) {n, title},
#define TIDEWRIGHT_TITLE_Int(n, title) {n, title},
#define TIDEWRIGHT_TITLE(n, record, object, member, page, def, low, high, step, flags, title, \
                         callback, form, rule)                                               \
  TIDEWRIGHT_TITLE_##record(n, title)

const Title titles[] = {TIDEWRIGHT_CONTROLS(TIDEWRIGHT_TITLE)};

// The name the channel editor shows: the title up to its colon.
void name_in_channel_editor(int number) {
  for (const Title& title : titles) {
    if (title.number != number) continue;
    char name[64];
    const size_t length = std::strcspn(title.text, ":");
    std::snprintf(name, sizeof name, "%.*s", static_cast<int>(length), title.text);
    sparkSetControlName(1, number, name);
  }
}

// Control 15 keeps the name the host gives it.
const int named_controls[] = {7,  8,  24, 21, 22, 12, 11, 16, 17, 67, 69, 39,
                              40, 43, 44, 45, 46, 47, 48, 50, 51, 52, 53, 54,
                              55, 72, 73, 74, 75, 76, 77, 79, 80, 81, 82};

struct Folder {
  const char* name;
  int controls[6];
};

const Folder folders[] = {
    {"Viscosity", {7}},
    {"Swirl", {8}},
    {"Diffusion", {24}},
    {"Dissipation", {21, 22}},
    {"Forces", {12, 11, 67, 69}},
    {"Random", {15, 16, 17}},
    {"Gravity", {39, 40}},
    {"VelocityA", {43, 44, 45, 46, 47, 48}},
    {"VelocityB", {50, 51, 52, 53, 54, 55}},
    {"Wind1S", {72, 73}},
    {"Wind1E", {74, 75}},
    {"Wind1", {76, 77}},
    {"Vortex1", {79, 80, 81, 82}},
    {"Common", {27}},
};

}  // namespace

extern "C" {

int SparkInitialise(SparkHostInfo info) {
  if (sparkAPIVersionInfo() < 4.0)
    sparkError("This version of \"4-Tidewright\" needs IFFFS 7.0/4.0 (sparks API 4.0) or higher.");
  deep12 = info.frame_depth == 48 || info.frame_depth == 64 ? 1 : 0;
  sparkLoadSetup(&info);
  show_version_orvalle(info, "4-Tidewright", 2, 2, "1", 1);
  Instance.BindControls();
  // The drawn widgets have their controls and owner before any pen event,
  // and no handle anywhere until they are drawn.
  Instance.BindWidgets();
  Instance.ForgetWidgetHandles();
  sparkControlTitle(3, "Import AIFF");
  sparkControlTitle(0, "Tidewright");
  sparkControlTitle(1, "Forces1");
  sparkControlTitle(2, "Forces2");
  sparkClipControlTitle(0, "Input");
  sparkClipControlTitle(1, "Back");
  sparkClipControlTitle(2, "Alt");
  DL_Sync_Ctrl = 1;
  for (int number : named_controls) name_in_channel_editor(number);
  return 2;
}

int SparkClips(void) { return 6; }

int SparkMemoryTempBuffers(void) { return TempID = sparkMemRegisterBuffer(); }

int SparkProcessStart(void) { return 1; }

int SparkChannelEditor(void) {
  for (const Folder& folder : folders) {
    sparkCeAddFolder(1, folder.name);
    for (int number : folder.controls)
      if (number) sparkCeAddControl(2, 1, number);
  }
  // The amplitude curve goes into the last folder without the flag.
  return sparkCeAddControl(2, 0, 93);
}

void SparkUnInitialise(SparkHostInfo info) { sparkSaveSetup(&info); }

void render_string(void) {}
}
