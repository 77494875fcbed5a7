// File times: when a file was made, last written or last read, to the nanosecond, with
// its size.
#include <ctime>
#include <string>

#include "c4d_file.h"
#include "platform.h"

Bool GeGetFileTime(const Filename& name, LONG mode, LocalFileTime* out) {
  const std::string path = name.GetString().Std();
  host::platform::FileStatus st;
  if (!out || !host::platform::Status(path, &st) || st.isDir) return FALSE;
  // Where the system keeps no creation time, the last status change stands for it.
  const host::platform::FileTimeStamp& ts =
      mode == GE_FILETIME_MODIFIED ? st.modified : (mode == GE_FILETIME_ACCESS ? st.accessed : st.created);
  struct tm utc;
  if (!host::platform::UtcTime(ts.seconds, &utc)) return FALSE;
  out->year = utc.tm_year + 1900;
  out->month = utc.tm_mon + 1;
  out->day = utc.tm_mday;
  out->hour = utc.tm_hour;
  out->minute = utc.tm_min;
  out->second = utc.tm_sec;
  out->nsec = LONG(ts.nsec);
  out->size = st.size;
  return TRUE;
}
