#ifndef BENCH_RENDER_SUMMARY_H
#define BENCH_RENDER_SUMMARY_H

#include <cstdio>
#include <string>

// The effect's time a frame, in ms, from the closing lines a render printed
// ("  effect S s (MS ms a frame)"); 0 when it has none.
inline double render_effect_ms(const std::string& text) {
  const size_t line = text.rfind("  effect ");
  double seconds = 0.0, ms = 0.0;
  if (line == std::string::npos ||
      std::sscanf(text.c_str() + line, "  effect %lf s (%lf ms a frame)", &seconds, &ms) != 2)
    return 0.0;
  return ms;
}

#endif
