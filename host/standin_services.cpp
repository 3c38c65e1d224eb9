// Dialogue, titles, the viewer and the other one-line host services.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "standin_state.h"

namespace {

// A host shows the plug-in's messages to the artist: here one line each on
// the standard error, named after the plug-in.
void show(const char* kind, const char* text) {
  const std::string plugin = standin_read(&StandinState::message_plugin);
  if (plugin.empty()) return;
  std::string line = text ? text : "";
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::fprintf(stderr, "%s: %s%s\n", plugin.c_str(), kind, line.c_str());
}

}  // namespace

void standin_show_messages(const std::string& plugin) { standin_write(&StandinState::message_plugin, plugin); }

extern "C" void sparkMessage(const char* text) {
  standin_logf("sparkMessage(%s)", text ? text : "");
  show("", text);
}

extern "C" void sparkError(const char* text) {
  standin_logf("sparkError(%s)", text ? text : "");
  show("error: ", text);
}

extern "C" int sparkMessageConfirm(const char* text) {
  StandinState& state = standin_state();
  int answer = 0;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.confirm_answers.empty()) {
      answer = state.confirm_answers.front();
      state.confirm_answers.pop_front();
    } else {
      state.dialogue_warnings.push_back(std::string("no answer scripted for \"") + (text ? text : "") +
                                        "\": answered no");
    }
  }
  standin_logf("sparkMessageConfirm(%s) = %d", text ? text : "", answer);
  return answer;
}

extern "C" double sparkAPIVersionInfo(void) {
  const double version = standin_read(&StandinState::api_version);
  standin_logf("sparkAPIVersionInfo() = %g", version);
  return version;
}

extern "C" int sparkControlTitle(int page, const char* title) {
  standin_logf("sparkControlTitle(%d, %s)", page, title ? title : "");
  return 1;
}

extern "C" int sparkClipControlTitle(int clip, const char* title) {
  standin_logf("sparkClipControlTitle(%d, %s)", clip, title ? title : "");
  return 1;
}

extern "C" int sparkSetControlName(int kind, int control, const char* name) {
  standin_logf("sparkSetControlName(%d, %d, %s)", kind, control, name ? name : "");
  return 1;
}

extern "C" int sparkCeAddFolder(int kind, const char* name) {
  standin_logf("sparkCeAddFolder(%d, %s)", kind, name ? name : "");
  return 1;
}

extern "C" int sparkCeAddControl(int kind, int flag, int control) {
  standin_logf("sparkCeAddControl(%d, %d, %d)", kind, flag, control);
  return 1;
}

extern "C" int sparkControlUpdate(int control) {
  standin_logf("sparkControlUpdate(%d)", control);
  return 1;
}

namespace {

int set_hidden(const char* name, int kind, int control, bool hidden) {
  {
    StandinState& state = standin_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (hidden)
      state.hidden.insert(control);
    else
      state.hidden.erase(control);
  }
  standin_logf("%s(%d, %d)", name, kind, control);
  return 1;
}

}  // namespace

extern "C" int sparkEnableParameter(int kind, int control) {
  return set_hidden("sparkEnableParameter", kind, control, false);
}

extern "C" int sparkDisableParameter(int kind, int control) {
  return set_hidden("sparkDisableParameter", kind, control, true);
}

bool standin_control_hidden(int number) {
  std::lock_guard<std::mutex> lock(standin_state().mutex);
  return standin_state().hidden.count(number) != 0;
}

extern "C" void sparkCursorBusy(void) {
  standin_write(&StandinState::cursor, 0);
  standin_logf("sparkCursorBusy()");
}

extern "C" void sparkViewingCursor(int cursor) {
  standin_write(&StandinState::cursor, cursor);
  standin_logf("sparkViewingCursor(%d)", cursor);
}

extern "C" float sparkGetViewerRatio(void) {
  const float ratio = standin_read(&StandinState::viewer_ratio);
  standin_logf("sparkGetViewerRatio() = %g", ratio);
  return ratio;
}

extern "C" void sparkViewingDraw(void) {
  standin_write(&StandinState::viewer_marked, true);
  standin_logf("sparkViewingDraw()");
}

extern "C" int sparkWorkingDir(char* path) {
  std::string dir = standin_read(&StandinState::working_dir);
  if (dir.empty()) {
    char cwd[SPARK_PATH_MAX];
    dir = getcwd(cwd, sizeof cwd) ? cwd : "/";
  }
  standin_logf("sparkWorkingDir(%s)", dir.c_str());
  if (!path) return 0;
  const size_t n = dir.size() < SPARK_PATH_MAX - 1 ? dir.size() : SPARK_PATH_MAX - 1;
  std::memcpy(path, dir.data(), n);
  path[n] = '\0';
  return 1;
}

extern "C" int sparkFileBrowserDisplay(const char* start_dir, const char* extension,
                                       SparkFileCallback callback) {
  std::string choice;
  {
    StandinState& state = standin_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    choice.swap(state.browser_choice);
    if (choice.empty()) state.dialogue_warnings.push_back("no file scripted for the file browser: cancelled");
  }
  standin_logf("sparkFileBrowserDisplay(%s, %s)", start_dir ? start_dir : "",
               extension ? extension : "");
  if (choice.empty() || !callback) return 0;
  callback(choice.c_str());
  return 1;
}
