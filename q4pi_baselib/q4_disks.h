#ifndef Q4_DISKS_H
#define Q4_DISKS_H

// Local disks and time formatting.
struct tagDISK_INFO {
  char device[256];
  char mount_point[256];
  double total;      // kilobytes
  double available;  // kilobytes
  double used;       // percent
  bool read_only;
};

// The local disks in a q4_malloc array the caller frees; null and count 0
// when there is none.
tagDISK_INFO* get_disk_info(int& count);
void secs_to_dhms(int secs, int& d, int& h, int& m, int& s);
// The ctime text of now without its newline, in a static buffer.
char* cur_time_string();

#endif
