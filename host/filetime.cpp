// File times: when a file was made, last written or last read, to the nanosecond, with
// its size.
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "c4d_file.h"

Bool GeGetFileTime(const Filename& name, LONG mode, LocalFileTime* out) {
  const std::string path = name.GetString().Std();
  struct stat st;
  if (!out || path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return FALSE;
  // Linux keeps no creation time in struct stat: the last status change stands for it.
  const struct timespec& ts = mode == GE_FILETIME_MODIFIED ? st.st_mtim : (mode == GE_FILETIME_ACCESS ? st.st_atim : st.st_ctim);
  struct tm utc;
  const time_t seconds = ts.tv_sec;
  if (!gmtime_r(&seconds, &utc)) return FALSE;
  out->year = utc.tm_year + 1900;
  out->month = utc.tm_mon + 1;
  out->day = utc.tm_mday;
  out->hour = utc.tm_hour;
  out->minute = utc.tm_min;
  out->second = utc.tm_sec;
  out->nsec = LONG(ts.tv_nsec);
  out->size = LLONG(st.st_size);
  return TRUE;
}
