#ifndef FRAME_FIXTURE_H
#define FRAME_FIXTURE_H

// A fresh stand-in host and fresh effect globals for every framework test.

#include <gtest/gtest.h>

#include "effect_globals.h"
#include "effect_services.h"
#include "standin_host.h"

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin_reset();
    reset_effect_globals();
  }

  // The host runs `count` workers and the framework splits for as many.
  static void use_workers(int count) {
    standin_set_processes(count);
    DLnumProc = count;
  }
};

#endif
