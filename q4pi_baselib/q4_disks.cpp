#include "q4_disks.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mntent.h>
#include <sys/vfs.h>

#include "q4_memory.h"

namespace {

char time_text[64];

// Network and virtual file systems are no local disks.
bool is_local_disk(const mntent* entry, struct statfs* info) {
  if (strcmp(entry->mnt_type, "ignore") == 0 || strcmp(entry->mnt_type, "nfs") == 0) return false;
  if (statfs(entry->mnt_dir, info) != 0) return false;
  const long type = static_cast<long>(info->f_type);
  if (type == 0x6969 || type == 0x9fa0 || type == 0x517b) return false;
  return strncmp(entry->mnt_fsname, "/dev", 4) == 0;
}

}  // namespace

tagDISK_INFO* get_disk_info(int& count) {
  count = 0;
  FILE* table = setmntent("/etc/mtab", "r");
  if (!table) return nullptr;
  struct statfs info;
  int found = 0;
  while (const mntent* entry = getmntent(table))
    if (is_local_disk(entry, &info)) ++found;
  endmntent(table);
  if (found == 0) return nullptr;

  tagDISK_INFO* disks = static_cast<tagDISK_INFO*>(
      q4_calloc(static_cast<unsigned>(found), sizeof(tagDISK_INFO), __FILE__, __LINE__));
  if (!disks) return nullptr;
  table = setmntent("/etc/mtab", "r");
  if (!table) {
    q4_free(disks, __FILE__, __LINE__);
    return nullptr;
  }
  // The table may have changed between the readings: never past found.
  int filled = 0;
  while (const mntent* entry = getmntent(table)) {
    if (filled == found) break;
    if (!is_local_disk(entry, &info)) continue;
    tagDISK_INFO& disk = disks[filled++];
    snprintf(disk.device, sizeof disk.device, "%s", entry->mnt_fsname);
    snprintf(disk.mount_point, sizeof disk.mount_point, "%s", entry->mnt_dir);
    const double block = static_cast<double>(info.f_bsize);
    disk.total = static_cast<double>(info.f_blocks) * block / 1024.0;
    disk.available = static_cast<double>(info.f_bavail) * block / 1024.0;
    disk.used = disk.total > 0.0 ? (1.0 - disk.available / disk.total) * 100.0 : 0.0;
    // A whole option: "errors=remount-ro" is no read-only mount.
    disk.read_only = hasmntopt(entry, "ro") != nullptr;
  }
  endmntent(table);
  count = filled;
  if (filled == 0) {
    q4_free(disks, __FILE__, __LINE__);
    return nullptr;
  }
  return disks;
}

void secs_to_dhms(int secs, int& d, int& h, int& m, int& s) {
  d = secs / 86400;
  h = secs / 3600 - 24 * d;
  m = secs / 60 - 60 * (24 * d + h);
  s = secs - 60 * (60 * (24 * d + h) + m);
}

char* cur_time_string() {
  const time_t now = time(nullptr);
  ctime_r(&now, time_text);
  time_text[strcspn(time_text, "\n")] = '\0';
  return time_text;
}
