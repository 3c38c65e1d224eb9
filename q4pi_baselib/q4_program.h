#ifndef Q4_PROGRAM_H
#define Q4_PROGRAM_H

// Helpers for stand-alone programs built on the base library.
int is_program_running(const char* name);
bool program_lock(const char* name, char* buffer, int size);
void remove_program_lock(void* path);
void startup_info(const char* title, const char* date, const char* time);
extern "C" void startup_info_c(const char* title);

#endif
