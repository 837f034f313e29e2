// Writing one extracted member into the extraction directory, and nowhere
// else. Every name is taken relative to the directory opened once for the
// whole extraction, never as a path. A member is first written to a fresh
// temporary file in that directory (created exclusively, so no existing
// file or link is ever opened) and takes its final name by a rename only
// when the caller commits it, after its data checked out. The rename
// replaces whatever entry had that name, a link included, and never writes
// through it; an uncommitted temporary file is removed.
//
// One thread per directory object.
#pragma once

#include "FileDescriptor.h"

#include <cstddef>
#include <ctime>
#include <string>

namespace vrk::unzip {

// The name a member lands under: the last component of the member's name as
// text, after a leading drive prefix ("C:") is dropped, with every control
// character replaced by '_'. The name is split at '/', and at '\' as well
// when it holds no '/': a tool that writes backslashes for separators writes
// no slashes, while in a name with slashes a backslash belongs to its
// component (the second byte of a Shift-JIS character, read in code page
// 437, is one). Empty when the member must not be written: the bare name is
// empty, "." or "..", or holds a NUL byte.
std::string BareName(const std::string& memberName);

// An errno of writing a member, as the reason shown for that member, and
// whether the rest of the extraction can still succeed (a full disk or an
// unwritable directory stops it). replacing: the error came from giving the
// file its final name, where a refusal concerns that one name only.
struct TWriteFailure {
  std::string reason;
  bool stop = false;
};
TWriteFailure DescribeWriteError(int error, bool replacing = false);

// The extraction directory, open for the duration of one extraction.
class TTargetDir final {
 public:
  TTargetDir() = default;
  TTargetDir(const TTargetDir&) = delete;
  TTargetDir& operator=(const TTargetDir&) = delete;

  // 0 or an errno.
  int open(const char* path);
  int fd() const { return m_fd.get(); }
  // Whether an entry of that name (of any kind, a link included) exists.
  bool exists(const std::string& name) const;

 private:
  TFileDescriptor m_fd;
};

class TMemberFile final {
 public:
  explicit TMemberFile(const TTargetDir& dir) : m_dir(dir) {}
  // Removes the temporary file unless it was committed.
  ~TMemberFile();
  TMemberFile(const TMemberFile&) = delete;
  TMemberFile& operator=(const TMemberFile&) = delete;

  // Each returns 0 or an errno.
  int create();
  // Requires: create() succeeded.
  int write(const char* data, size_t size);
  // Gives the file its time (unless 0) and its final name.
  // Requires: create() succeeded; every write succeeded.
  int commit(const std::string& name, time_t mtime);

 private:
  void discard();

  const TTargetDir& m_dir;
  std::string m_tempName;
  TFileDescriptor m_fd;
};

}  // namespace vrk::unzip
