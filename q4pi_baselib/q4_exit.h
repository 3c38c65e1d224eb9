#ifndef Q4_EXIT_H
#define Q4_EXIT_H

// Exit handlers for programs. Registration takes over the process's signal
// handlers, so plug-in code never calls it.
void register_exit_handler(void (*fn)(void*), void* arg);
void call_exit_handlers();
void call_exit_handlers_abend(int signal);
void exit_wait(int status);
extern "C" void exit_wait_c(int status);

#endif
