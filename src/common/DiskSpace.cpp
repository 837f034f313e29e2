#include "DiskSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace vrk {

qint64 freeBytes(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return -1;
  struct statvfs vfs {};
  if (::fstatvfs(fd, &vfs) != 0) return -1;
  return static_cast<qint64>(vfs.f_bavail) * static_cast<qint64>(vfs.f_frsize);
}

}  // namespace vrk
