#ifndef Q4_MP_HOOKS_H
#define Q4_MP_HOOKS_H

// The hooks through which library objects hand row bands to whoever runs
// them in parallel (the framework's executor in the plug-in) and ask whether
// rendering is to stop. Bounds are inclusive.
typedef void (*mp_worker_fn)(void* object, int first_row, int last_row);
typedef void (*mp_exec_fn)(void* context, mp_worker_fn worker, int count, void* object);
typedef int (*abort_test_fn)(void* context);

#endif
