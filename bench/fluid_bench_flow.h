#ifndef FLUID_BENCH_FLOW_H
#define FLUID_BENCH_FLOW_H

// The set-up both fluid benchmarks start from, as the frame driver makes it:
// a fresh quiet stand-in host with `workers` workers, and a flow whose bands
// the plug-in forks on them, at unit time step, with walls and a texture
// flow.

#include <memory>

#include "PluginQ4.h"
#include "effect_services.h"
#include "standin_host.h"

template <typename Flow>
std::unique_ptr<Flow> bench_flow(PluginQ4& plugin, int workers, int nx, int ny, int method) {
  standin_reset();
  standin_set_logging(false);
  standin_set_processes(workers);
  DLnumProc = workers;
  auto flow = std::make_unique<Flow>(nx, ny, method, 0, 0);
  flow->set_mp_exec(&plugin, lib_mp_exec);
  flow->set_abort_test(&plugin, lib_abort_render);
  flow->set_time_step(1.0f);
  flow->no_boundaries_mode(false);
  flow->create_texture_flow();
  return flow;
}

#endif
