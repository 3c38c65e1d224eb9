// The common controls of pages 0 to 2: mirrored copies, Blend, Reset and
// Help, against the stand-in host's log and the records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "callback_log.h"
#include "effect_fixture.h"

using namespace effect_test;

namespace {

// The bytes of every record of a page (value records and buttons), by
// number, from the loaded-records copies.
std::vector<std::vector<unsigned char>> page_bytes(int page) {
  std::vector<std::vector<unsigned char>> bytes;
  for (const RecordCopy& copy : loaded_records()) {
    if (copy.kind == standin_string || copy.number < 6 + 29 * page || copy.number > 34 + 29 * page) continue;
    const unsigned char* p = static_cast<const unsigned char*>(copy.record);
    bytes.emplace_back(p, p + copy.bytes.size());
  }
  return bytes;
}

}  // namespace

// A change of resolution on any page renders, whatever Auto Preview says,
// and leaves the three lists equal; only the changed one is updated.
TEST_F(EffectTest, ResolutionAutoPreviewAndClearOverlayMirror) {
  StartUp(16, 8);
  ASSERT_NE(Process(0), nullptr);
  SparkBoolean34.value = SparkBoolean63.value = SparkBoolean92.value = 0;
  SparkPup91.value = 3;
  standin_clear_log();
  EXPECT_EQ(SetRes3CB(0, standin_info()), standin_buffer_pixels(1));
  EXPECT_EQ(panel_calls(), (Calls{update(91), "render"}));
  EXPECT_EQ(SparkPup33.value, 3);
  EXPECT_EQ(SparkPup62.value, 3);
  EXPECT_EQ(Instance.restart_width, 4);  // the render was at 1/4
  SparkPup33.value = 0;
  EXPECT_NE(SetRes1CB(1, standin_info()), nullptr);
  EXPECT_EQ(SparkPup62.value, 0);
  EXPECT_EQ(SparkPup91.value, 0);

  // Auto Preview and Clear Overlay copy the lowest byte alone; the host's
  // other bytes of each copy stay.
  const struct {
    SparkCallback callback;
    SparkBoolean* changed;
    int number;
    SparkBoolean* mirrors[2];
    bool redraws_only;  // Clear Overlay never renders
  } boxes[] = {
      {Auto2CB, &SparkBoolean63, 63, {&SparkBoolean34, &SparkBoolean92}, false},
      {Auto3CB, &SparkBoolean92, 92, {&SparkBoolean34, &SparkBoolean63}, false},
      {Auto1CB, &SparkBoolean34, 34, {&SparkBoolean63, &SparkBoolean92}, false},
      {Overlay1CB, &SparkBoolean28, 28, {&SparkBoolean57, &SparkBoolean86}, true},
      {Overlay2CB, &SparkBoolean57, 57, {&SparkBoolean28, &SparkBoolean86}, true},
      {Overlay3CB, &SparkBoolean86, 86, {&SparkBoolean28, &SparkBoolean57}, true},
  };
  for (const auto& b : boxes) {
    for (int ticked : {1, 0}) {
      b.changed->value = 0x5500 | ticked;
      b.mirrors[0]->value = 0x1200 | !ticked;
      b.mirrors[1]->value = 0x3400 | !ticked;
      standin_clear_log();
      void* frame = b.callback(1, standin_info());
      EXPECT_EQ(b.mirrors[0]->value, 0x1200 | ticked) << b.number;
      EXPECT_EQ(b.mirrors[1]->value, 0x3400 | ticked) << b.number;
      // Ticking Auto Preview with reason 1 renders at once.
      const bool renders = !b.redraws_only && ticked;
      EXPECT_EQ(panel_calls(), (Calls{update(b.number), renders ? "render" : draw})) << b.number;
      EXPECT_EQ(frame, renders ? standin_buffer_pixels(1) : nullptr) << b.number;
    }
  }
}

// Blend redraws at once and renders only for an interactive change of
// reason 1 with Auto Preview on.
TEST_F(EffectTest, BlendRendersOnlyInteractively) {
  StartUp(16, 8);
  ASSERT_NE(Process(0), nullptr);
  const struct {
    int interactive, reason;
    bool auto_preview;
    Calls calls;
  } cases[] = {
      {1, 1, true, {draw, update(27), "render"}},
      {1, 1, false, {draw, update(27), draw}},
      {0, 1, true, {draw}},
      {1, 0, true, {draw}},
      {2, 1, true, {draw}},
  };
  for (const auto& c : cases) {
    SparkBoolean34.value = c.auto_preview;
    standin_set_interactive(c.interactive);
    standin_clear_log();
    void* frame = Blend1CB(c.reason, standin_info());
    EXPECT_EQ(panel_calls(), c.calls) << c.interactive << " " << c.reason << " " << c.auto_preview;
    EXPECT_EQ(frame, c.calls.back() == "render" ? standin_buffer_pixels(1) : nullptr);
  }
}

// Reset on page 1 with yes: page 1 at its defaults, written in table order
// with a position's X and Y before their updates and a checkbox's lowest
// byte alone; pages 0 and 2 untouched byte for byte; every object synced
// from its record and every rule applied. With no, nothing changes, and
// both end as DefaultCB does.
TEST_F(EffectTest, ResetWritesItsOwnPageOnly) {
  StartUp(16, 8);
  ASSERT_NE(Process(0), nullptr);
  // Every record of pages 0 to 2 away from its default.
  SparkFloat7.value = 0.3f;
  SparkPup10.value = 3;
  SparkBoolean19.value = 0;
  SparkBoolean56.value = 0x0701;
  SparkBoolean36.value = SparkBoolean38.value = SparkBoolean42.value = SparkBoolean49.value = 1;
  SparkPup37.value = 2;
  for (SparkFloat* f : {&SparkFloat39, &SparkFloat40, &SparkFloat43, &SparkFloat44, &SparkFloat45,
                        &SparkFloat46, &SparkFloat47, &SparkFloat48, &SparkFloat50, &SparkFloat51,
                        &SparkFloat52, &SparkFloat53, &SparkFloat54, &SparkFloat55})
    f->value = 17.0f;
  SparkFloat79.value = 90.0f;
  SparkBoolean78.value = 1;
  SparkBoolean34.value = 0;  // Auto Preview off: the reset ends in a redraw
  Instance.c7.value = -1.0;   // objects the reset must sync again
  Instance.c79.x = -1.0;      // a position's Sync does nothing
  const auto page0 = page_bytes(0), page1 = page_bytes(1), page2 = page_bytes(2);

  standin_push_confirm_answer(0);
  standin_clear_log();
  EXPECT_EQ(Reset2CB(1, standin_info()), nullptr);
  EXPECT_EQ(panel_calls(), (Calls{draw}));
  EXPECT_EQ(page_bytes(1), page1);
  EXPECT_EQ(Instance.c7.value, -1.0);

  standin_push_confirm_answer(1);
  standin_clear_log();
  EXPECT_EQ(Reset2CB(1, standin_info()), nullptr);
  EXPECT_EQ(standin_log_count("sparkMessageConfirm(Are you sure you want to reset the current settings "
                              "to default values?) = 1"),
            1);
  const Calls written = {update(56), update(36), update(37), update(38), update(39), update(40),
                         update(42), update(43), update(44), update(45), update(46), update(47),
                         update(48), update(49), update(50), update(51), update(52), update(53),
                         update(54), update(55)};
  // Page 0 still has Pressure Input; page 2's vortex is still on.
  EXPECT_EQ(panel_calls(), written + all_rules({12, 79, 80, 81, 82}) + Calls{draw});
  EXPECT_EQ(page_bytes(0), page0);
  EXPECT_EQ(page_bytes(2), page2);
  EXPECT_EQ(SparkBoolean56.value, 0x0700);
  for (SparkBoolean* box : {&SparkBoolean36, &SparkBoolean38, &SparkBoolean42, &SparkBoolean49})
    EXPECT_EQ(box->value, 0);
  EXPECT_EQ(SparkPup37.value, 0);
  const struct {
    SparkFloat* record;
    float value;
  } defaults[] = {{&SparkFloat39, 0.1f}, {&SparkFloat40, 270}, {&SparkFloat43, 2},  {&SparkFloat44, 50},
                  {&SparkFloat45, 8},    {&SparkFloat46, 8},   {&SparkFloat47, 0},  {&SparkFloat48, 0.5f},
                  {&SparkFloat50, 62},   {&SparkFloat51, 20},  {&SparkFloat52, 8},  {&SparkFloat53, 8},
                  {&SparkFloat54, 270},  {&SparkFloat55, 0.5f}};
  for (const auto& d : defaults) EXPECT_EQ(d.record->value, d.value) << d.record;
  EXPECT_EQ(Instance.c7.value, static_cast<double>(0.3f));  // page 0's object synced
  EXPECT_EQ(Instance.c45.value, 0.08);
  EXPECT_EQ(Instance.c10.value, 4);
  EXPECT_EQ(Instance.c79.x, -1.0);

  // Page 0 with Auto Preview: Input Luma (RiseFall shown, Pressure Force
  // hidden), Edge Escape ticked, and the frame rendered again; Blend, the
  // resolution and Auto Preview stay.
  SparkBoolean34.value = 1;
  SparkFloat27.value = 40.0f;
  SparkPup33.value = 1;
  standin_push_confirm_answer(1);
  standin_clear_log();
  EXPECT_EQ(Reset1CB(1, standin_info()), standin_buffer_pixels(1));
  EXPECT_EQ(SparkPup10.value, 1);
  EXPECT_EQ(SparkBoolean19.value & 0xFF, 1);
  EXPECT_EQ(SparkFloat7.value, 0.01f);
  EXPECT_FALSE(standin_control_hidden(11));
  EXPECT_TRUE(standin_control_hidden(12));
  EXPECT_EQ(SparkFloat27.value, 40.0f);
  EXPECT_EQ(SparkPup33.value, 1);
  EXPECT_EQ(SparkBoolean34.value, 1);
  EXPECT_EQ(panel_calls().back(), "render");

  // Page 2: the vortex off and back at its place; an unscripted answer is no.
  EXPECT_EQ(Reset3CB(1, standin_info()), standin_buffer_pixels(1));
  EXPECT_EQ(SparkBoolean78.value, 1);
  standin_push_confirm_answer(1);
  EXPECT_NE(Reset3CB(1, standin_info()), nullptr);
  EXPECT_EQ(SparkBoolean78.value, 0);
  EXPECT_EQ(SparkFloat79.value, 33.3f);
  EXPECT_EQ(SparkFloat80.value, 50.0f);
  EXPECT_EQ(SparkBoolean65.value, 1);
}

// Help opens the topic's page in the browser Q4_HELP_BROWSER names; when the
// page's address does not fit, the artist is told in these words.
TEST_F(EffectTest, HelpOpensThePageOrSaysWhy) {
  const std::string dir = std::string(std::getenv("Q4_HOME_DIR")) + "/help-browser";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string fifo = dir + "/args", script = dir + "/browser";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FILE* f = std::fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "#!/bin/sh\nprintf '%%s\\n' \"$@\" > '%s'\n", fifo.c_str());
  std::fclose(f);
  chmod(script.c_str(), 0700);
  setenv("Q4_HELP_BROWSER", script.c_str(), 1);
  setenv("DIR_4", "/opt/tidewright", 1);

  for (SparkCallback help : {HelpCB, SparkPush60.callback, SparkPush89.callback}) {
    EXPECT_EQ(help(1, standin_info()), nullptr);
    // Reading the FIFO waits for the browser script.
    const int fd = open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string arguments;
    char chunk[256];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) arguments.append(chunk, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(arguments, "-geometry\n+50+50\nfile:/opt/tidewright/dl/help/tidewright.htm\n");
  }
  EXPECT_EQ(standin_log_count("sparkError"), 0);

  setenv("DIR_4", std::string(2000, 'd').c_str(), 1);
  EXPECT_EQ(HelpCB(1, standin_info()), nullptr);
  EXPECT_EQ(standin_log(), (std::vector<std::string>{
                               "sparkError(Error in opening help file (failed to spawn netscape process))"}));
  unsetenv("DIR_4");
  unsetenv("Q4_HELP_BROWSER");
  std::filesystem::remove_all(dir);
}
