// The built plug-in as the host sees it: found by name with dlsym, records
// checked against the panel tables, and unloaded for real by dlclose.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "spark.h"
#include "standin_host.h"

namespace {

class Plugin {
 public:
  Plugin() : handle_(dlopen(TIDEWRIGHT_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~Plugin() {
    if (handle_) dlclose(handle_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
  bool loaded() const { return handle_ != nullptr; }
  template <typename T>
  T* find(const std::string& name) const {
    return static_cast<T*>(dlsym(handle_, name.c_str()));
  }
  template <typename T>
  T* find(const std::string& prefix, int n) const {
    return find<T>(prefix + std::to_string(n));
  }

 private:
  void* handle_;
};

// The conversions of a printf format: each as its final letter.
std::string conversions(const char* format) {
  std::string found;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    ++p;
    while (*p && std::strchr("-+ #0123456789.", *p)) ++p;
    if (!*p) break;
    found += *p;
  }
  return found;
}

bool ends_in_blanks(const char* text, size_t blanks) {
  const size_t n = std::strlen(text);
  if (n <= blanks || text[n - blanks - 1] == ' ') return false;
  for (size_t i = n - blanks; i < n; ++i)
    if (text[i] != ' ') return false;
  return true;
}

// The function each record's callback names, from the panel tables: the
// generated dlcb_<N> of every control with an object (a position's Y record
// calls its X's), the common controls' own and the amplitude import.
std::map<int, std::string> callback_names() {
  std::map<int, std::string> names;
  for (int n : {7,  8,  23, 24, 20, 21, 22, 18, 19, 10, 12, 11, 14, 15, 16, 17, 66, 67,
                68, 69, 29, 30, 13, 6,  35, 64, 56, 36, 37, 38, 39, 40, 42, 43, 45, 46,
                47, 48, 49, 50, 52, 53, 54, 55, 71, 72, 74, 76, 77, 65, 78, 79, 81, 82})
    names[n] = "dlcb_" + std::to_string(n);
  for (int x : {43, 50, 72, 74, 79}) names[x + 1] = "dlcb_" + std::to_string(x);
  const char* const pages[3][5] = {{"Overlay1CB", "HelpCB", "Reset1CB", "SetRes1CB", "Auto1CB"},
                                   {"Overlay2CB", "HelpCB", "Reset2CB", "SetRes2CB", "Auto2CB"},
                                   {"Overlay3CB", "HelpCB", "Reset3CB", "SetRes3CB", "Auto3CB"}};
  for (int page = 0; page < 3; ++page) {
    const int base = 29 * page;  // Clear Overlay 28, Help 31, Reset 32, resolution 33, Auto Preview 34
    const int offsets[5] = {28, 31, 32, 33, 34};
    for (int k = 0; k < 5; ++k) names[base + offsets[k]] = pages[page][k];
  }
  names[27] = "Blend1CB";
  names[114] = "_Z14import_aiff_CBi13SparkHostInfo";
  return names;
}

}  // namespace

// Every record kind in its number, with sound defaults, ranges and titles,
// and the callback of every record is the function of its name.
TEST(Module, RecordsAsTheHostFindsThem) {
  standin_reset();
  Plugin plugin;
  ASSERT_TRUE(plugin.loaded()) << dlerror();
  const std::map<int, std::string> named = callback_names();
  int callbacks = 0;
  auto expect_callback = [&](int n, SparkCallback callback) {
    const auto name = named.find(n);
    if (name == named.end()) {
      EXPECT_EQ(callback, nullptr) << n;
      return;
    }
    void* function = plugin.find<void>(name->second);
    ASSERT_NE(function, nullptr) << name->second;
    EXPECT_EQ(reinterpret_cast<void*>(callback), function) << n << " " << name->second;
    ++callbacks;
  };
  std::map<std::string, int> counts;
  std::set<int> checkboxes_ticked;
  for (int n = 0; n < 256; ++n) {
    if (const SparkFloat* f = plugin.find<SparkFloat>("SparkFloat", n)) {
      ++counts["float"];
      EXPECT_LE(f->min, f->value) << n;
      EXPECT_LE(f->value, f->max) << n;
      EXPECT_GT(f->step, 0.0f) << n;
      EXPECT_EQ(conversions(f->title), "f") << n << " " << f->title;
      EXPECT_EQ(f->flags, n == 15 ? 8 : 0) << n;
      expect_callback(n, f->callback);
    }
    if (const SparkInt* i = plugin.find<SparkInt>("SparkInt", n)) {
      ++counts["int"];
      EXPECT_LE(i->min, i->value);
      EXPECT_LE(i->value, i->max);
      EXPECT_EQ(conversions(i->title), "d") << i->title;
      expect_callback(n, i->callback);
    }
    if (const SparkUserFloat* u = plugin.find<SparkUserFloat>("SparkUserFloat", n)) {
      ++counts["userfloat"];
      EXPECT_EQ(n, 93);
      EXPECT_LE(u->min, u->value);
      EXPECT_LE(u->value, u->max);
      EXPECT_EQ(conversions(u->title), "f");
      expect_callback(n, u->callback);
    }
    if (const SparkBoolean* b = plugin.find<SparkBoolean>("SparkBoolean", n)) {
      ++counts["boolean"];
      EXPECT_EQ(conversions(b->title), "") << n;
      if (b->value) checkboxes_ticked.insert(n);
      const bool common = std::strcmp(b->title, "Clear Overlay") == 0 || std::strcmp(b->title, "Auto Preview") == 0;
      EXPECT_TRUE(common || ends_in_blanks(b->title, 3)) << n << " '" << b->title << "'";
      expect_callback(n, b->callback);
    }
    if (const SparkPush* k = plugin.find<SparkPush>("SparkPush", n)) {
      ++counts["push"];
      EXPECT_EQ(conversions(k->title), "") << n;
      if (std::strncmp(k->title, "Restart", 7) == 0) {
        EXPECT_TRUE(ends_in_blanks(k->title, 3)) << n;
      }
      expect_callback(n, k->callback);
    }
    if (const SparkPup* p = plugin.find<SparkPup>("SparkPup", n)) {
      ++counts["pup"];
      ASSERT_GT(p->count, 0);
      ASSERT_LE(p->count, SPARK_PUP_ITEMS);
      EXPECT_GE(p->value, 0) << n;
      EXPECT_LT(p->value, p->count) << n;
      expect_callback(n, p->callback);
      EXPECT_EQ(p->value, n == 10 ? 1 : 0) << n;
      for (int k = 0; k < SPARK_PUP_ITEMS; ++k) {
        if (k >= p->count) {
          EXPECT_EQ(p->items[k], nullptr) << n << " " << k;
          continue;
        }
        ASSERT_NE(p->items[k], nullptr) << n << " " << k;
        EXPECT_EQ(conversions(p->items[k]), "") << p->items[k];
        const bool resolution = n == 33 || n == 62 || n == 91;
        EXPECT_TRUE(resolution || ends_in_blanks(p->items[k], 2)) << p->items[k];
      }
    }
    if (const SparkString* s = plugin.find<SparkString>("SparkString", n)) {
      ++counts["string"];
      EXPECT_STREQ(s->format, "%s");
      EXPECT_EQ(s->flags, 16);
      EXPECT_EQ(s->callback, nullptr);
      static const char* const names[] = {"1: Flow Clip", "2: BackGround", "3: Alt Clip",
                                          "4: Sources Clip", "5: Sinks Clip", "6: Barrier Clip"};
      ASSERT_LT(n, 6);
      EXPECT_STREQ(s->text, names[n]);
    }
  }
  EXPECT_EQ(counts, (std::map<std::string, int>{{"boolean", 20}, {"float", 36}, {"int", 1},
                                                 {"pup", 9}, {"push", 10}, {"string", 6},
                                                 {"userfloat", 1}}));
  EXPECT_EQ(checkboxes_ticked, (std::set<int>{19, 34, 63, 65, 92}));
  EXPECT_EQ(callbacks, static_cast<int>(named.size()));  // 76 records name one
  // Ranges a slip would change.
  EXPECT_EQ(plugin.find<SparkFloat>("SparkFloat22")->min, 0.01f);
  EXPECT_EQ(plugin.find<SparkFloat>("SparkFloat22")->max, 99.99f);
  EXPECT_EQ(plugin.find<SparkFloat>("SparkFloat81")->min, 0.1f);
  EXPECT_EQ(plugin.find<SparkFloat>("SparkFloat7")->min, 0.00001f);
  EXPECT_EQ(plugin.find<SparkFloat>("SparkFloat79")->value, 33.3f);
  EXPECT_STREQ(plugin.find<SparkFloat>("SparkFloat52")->title, "Scale A B: %.2f");
  EXPECT_EQ(plugin.find<int>("DL_Sync_Ctrl")[0], 1);
}

// Each value control of the 54 bound ones has its auxiliary record, which
// agrees with its host record; no other record has one.
TEST(Module, AuxiliaryRecordsAgreeWithTheirRecords) {
  standin_reset();
  Plugin plugin;
  ASSERT_TRUE(plugin.loaded()) << dlerror();
  // The bound value controls by object kind, from the panel tables.
  const std::map<std::string, std::vector<int>> kinds = {
      {"Float", {7, 8, 24, 22, 12, 11, 15, 16, 17, 67, 69, 39, 48, 55, 76, 77, 82}},
      {"Angle", {40, 47, 54}},
      {"Size", {45, 46, 52, 53, 81}},
      {"Position", {43, 50, 72, 74, 79}},
      {"Integer", {21}},
      {"List", {10, 14, 66, 68, 29, 37}},
      {"Checkbox", {23, 20, 18, 19, 30, 13, 56, 36, 38, 42, 49, 71, 65, 78}}};
  int found = 0;
  for (int n = 0; n < 256; ++n) {
    for (const auto& kind : kinds) {
      void* aux = plugin.find<void>("AuxQ4" + kind.first, n);
      const bool expected = std::find(kind.second.begin(), kind.second.end(), n) != kind.second.end();
      EXPECT_EQ(aux != nullptr, expected) << kind.first << n;
      if (!aux) continue;
      ++found;
      if (kind.first == "Float" || kind.first == "Angle" || kind.first == "Size") {
        const AuxQ4Float* range = static_cast<AuxQ4Float*>(aux);
        const SparkFloat* record = plugin.find<SparkFloat>("SparkFloat", n);
        EXPECT_EQ(range->min, record->min) << n;
        EXPECT_EQ(range->max, record->max) << n;
      } else if (kind.first == "Position") {
        const AuxQ4Position* range = static_cast<AuxQ4Position*>(aux);
        const SparkFloat* x = plugin.find<SparkFloat>("SparkFloat", n);
        const SparkFloat* y = plugin.find<SparkFloat>("SparkFloat", n + 1);
        EXPECT_EQ(range->min_x, x->min);
        EXPECT_EQ(range->max_x, x->max);
        EXPECT_EQ(range->min_y, y->min);
        EXPECT_EQ(range->max_y, y->max);
      } else if (kind.first == "Integer") {
        const AuxQ4Integer* range = static_cast<AuxQ4Integer*>(aux);
        EXPECT_EQ(range->min, 2);
        EXPECT_EQ(range->max, 1000);
      } else if (kind.first == "List") {
        const AuxQ4List* list = static_cast<AuxQ4List*>(aux);
        const SparkPup* record = plugin.find<SparkPup>("SparkPup", n);
        EXPECT_EQ(list->default_item, record->value) << n;
        EXPECT_EQ(list->count, record->count) << n;
        for (int k = 0; k < record->count; ++k) {
          // The item without the list's name, its colon and blank.
          const std::string full = record->items[k];
          EXPECT_EQ(full.substr(full.find(": ") + 2), list->items[k]) << n << " " << k;
        }
      } else if (kind.first == "Checkbox") {
        EXPECT_EQ(static_cast<AuxQ4Checkbox*>(aux)->count, 0) << n;
      }
    }
  }
  EXPECT_EQ(found, 51);  // the 54 bound controls but the three restart buttons
}

// A library's dynamic symbols: name (without version), binding, and
// whether it is defined there.
struct DynamicSymbol {
  std::string name;
  std::string bind;
  bool defined;
};

std::vector<DynamicSymbol> dynamic_symbols(const std::string& library) {
  int status = 0;
  std::istringstream lines(run("/usr/bin/readelf -W --dyn-syms " + library, status));
  EXPECT_EQ(status, 0) << library;
  std::vector<DynamicSymbol> symbols;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, visibility, section, name;
    if (!(fields >> num >> value >> size >> type >> bind >> visibility >> section >> name)) continue;
    if (num.back() != ':' || !std::isdigit(static_cast<unsigned char>(num[0]))) continue;
    symbols.push_back({name.substr(0, name.find('@')), bind, section != "UND"});
  }
  return symbols;
}

// The dynamic symbols are the host's entry points, the records, their
// auxiliary records, the callbacks and the sync flag; every undefined one
// is a spark* service, GL, or found in a library the plug-in names; nothing
// keeps the library loaded after dlclose.
TEST(Module, ExportsOnlyWhatTheHostLooksUp) {
  int status = 0;
  std::set<std::string> provided;
  std::istringstream needed(run(std::string("/usr/bin/ldd ") + TIDEWRIGHT_PLUGIN_PATH, status));
  ASSERT_EQ(status, 0);
  for (std::string line; std::getline(needed, line);) {
    // "name => /path (address)", or the dynamic loader (which provides
    // __tls_get_addr to thread-local storage) as "/path (address)".
    const size_t arrow = line.find("=> /");
    const size_t start = arrow != std::string::npos ? arrow + 3 : line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '/') continue;
    const std::string path = line.substr(start, line.find(" (", start) - start);
    for (const DynamicSymbol& symbol : dynamic_symbols(path))
      if (symbol.defined) provided.insert(symbol.name);
  }
  ASSERT_GT(provided.count("malloc"), 0u);
  int defined = 0;
  for (const DynamicSymbol& symbol : dynamic_symbols(TIDEWRIGHT_PLUGIN_PATH)) {
    const std::string& name = symbol.name;
    EXPECT_NE(symbol.bind, "UNIQUE") << name;
    if (symbol.bind == "LOCAL") continue;
    if (!symbol.defined) {
      EXPECT_TRUE(symbol.bind == "WEAK" || provided.count(name) || name.compare(0, 5, "spark") == 0 ||
                  name.compare(0, 2, "gl") == 0)
          << name;
      continue;
    }
    ++defined;
    static const char* const entries[] = {"SparkInitialise", "SparkProcess", "SparkClips",
                                          "SparkMemoryTempBuffers", "SparkProcessStart",
                                          "SparkChannelEditor", "SparkUnInitialise",
                                          "SparkOverlay", "SparkInteract",
                                          "render_string", "DL_Sync_Ctrl",
                                          "_Z14import_aiff_CBi13SparkHostInfo"};
    bool known = name.compare(0, 5, "Spark") == 0 || name.compare(0, 5, "AuxQ4") == 0 ||
                 name.compare(0, 5, "dlcb_") == 0;
    for (const char* entry : entries) known = known || name == entry;
    for (const auto& callback : callback_names()) known = known || name == callback.second;
    EXPECT_TRUE(known) << name;
  }
  // 83 records, 51 auxiliary records, 9 entry points, render_string, the
  // sync flag, the amplitude import, 54 control callbacks and the 14 of the
  // common controls.
  EXPECT_EQ(defined, 83 + 51 + 9 + 3 + 54 + 14);
  const std::string dynamic = run(std::string("/usr/bin/readelf -d ") + TIDEWRIGHT_PLUGIN_PATH, status);
  EXPECT_EQ(dynamic.find("NODELETE"), std::string::npos) << dynamic;
}

// dlclose really unloads: a new dlopen starts from the defaults.
TEST(Module, ReloadStartsAfresh) {
  standin_reset();
  for (int round = 0; round < 2; ++round) {
    Plugin plugin;
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    SparkFloat* viscosity = plugin.find<SparkFloat>("SparkFloat7");
    int* sync = plugin.find<int>("DL_Sync_Ctrl");
    EXPECT_EQ(viscosity->value, 0.01f) << round;
    EXPECT_EQ(*sync, 1) << round;
    // Start-up and a frame through the plug-in's own entry points.
    standin_set_frame(16, 8, 24);
    auto initialise = reinterpret_cast<SparkInitialiseFn>(plugin.find<void>("SparkInitialise"));
    auto process = reinterpret_cast<SparkProcessFn>(plugin.find<void>("SparkProcess"));
    auto buffers = reinterpret_cast<SparkCountFn>(plugin.find<void>("SparkMemoryTempBuffers"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(initialise(standin_info()), 2);
    testing::internal::GetCapturedStdout();
    buffers();
    plugin.find<SparkFloat>("SparkFloat27")->value = 100.0f;
    standin_fill_buffer(2, 0, 0);
    EXPECT_EQ(process(standin_info()), standin_buffer_pixels(1));
    EXPECT_EQ(std::memcmp(standin_buffer_pixels(1), standin_buffer_pixels(2), standin_frame_bytes()), 0);
    EXPECT_EQ(*sync, 0);
    viscosity->value = 0.75f;
  }
  // Once closed, the library is gone from the process.
  EXPECT_EQ(dlopen(TIDEWRIGHT_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
}
