#ifndef Q4_SYSINFO_H
#define Q4_SYSINFO_H

// Thin wrappers over the operating system's clock, processor, memory, user
// and host queries.

double q4mp_getclock();
int q4mp_yield();
int q4mp_timedwait(long long nanoseconds);
int q4mp_get_raw_cpu_count();
int q4mp_get_pagesize();
char* q4mp_username();
char* q4mp_machinename();
char* q4os_errormsg();
// Kilobytes; with_swap non-zero adds the swap space to both figures.
void q4mp_get_meminfo(unsigned* total, unsigned* free, int with_swap);
unsigned q4mp_memfree(unsigned* out);
int q4mp_schedule_ndpi();
void q4mp_schedule_high();
void q4mp_schedule_normal();
void q4mp_schedule_low();
void q4mp_list_activeinfo();

#endif
