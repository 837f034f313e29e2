#include "MemberFile.h"

#include "Messages.h"
#include "ZipDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace vrk::unzip {
namespace {

// Names of temporary files: a per-process random start and a counter. They
// are created exclusively, so a clash only costs another try.
std::string nextTempName() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return static_cast<uint64_t>(rd()) << 32 | rd();
  }();
  static std::atomic<uint64_t> counter{0};
  uint64_t x = seed + 0x9E3779B97F4A7C15ull * ++counter;  // splitmix64 step
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  char name[40];
  std::snprintf(name, sizeof name, ".vrkunzip-%016llx", static_cast<unsigned long long>(x));
  return name;
}

}  // namespace

std::string BareName(const std::string& memberName) {
  std::string name = memberName;
  if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
    name.erase(0, 2);
  const size_t cut = name.find('/') != std::string::npos ? name.rfind('/') : name.rfind('\\');
  if (cut != std::string::npos) name.erase(0, cut + 1);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return {};
  return ReplaceControls(name, '_');
}

TWriteFailure DescribeWriteError(int error, bool replacing) {
  if (replacing && (error == EACCES || error == EPERM)) return {msg::ZipCannotReplace, false};
  switch (error) {
    case ENOSPC:
    case EDQUOT: return {msg::ZipDiskFull, true};
    case EROFS:
    case EACCES:
    case EPERM: return {msg::ZipDirectoryNotWritable, true};
    case EFBIG: return {msg::ZipFileTooLarge, false};
    case ENAMETOOLONG: return {msg::ZipNameTooLong, false};
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST: return {msg::ZipDirectoryInTheWay, false};
    default: return {msg::ZipCannotWrite + sysErrorText(error), false};
  }
}

int TTargetDir::open(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  m_fd.reset(fd);
  return 0;
}

bool TTargetDir::exists(const std::string& name) const {
  struct stat st;
  return ::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

TMemberFile::~TMemberFile() { discard(); }

int TMemberFile::create() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = nextTempName();
    const int fd =
        ::openat(m_dir.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int err = errno;
      if (err != EEXIST) return err;
      continue;
    }
    m_fd.reset(fd);
    m_tempName = std::move(name);
    return 0;
  }
  return EEXIST;
}

int TMemberFile::write(const char* data, size_t size) { return writeAll(m_fd.get(), data, size).error; }

int TMemberFile::commit(const std::string& name, time_t mtime) {
  if (mtime != 0) {
    // The stored time is a convenience; a file system that refuses it does
    // not make the member fail.
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    (void)::futimens(m_fd.get(), times);
  }
  if (const int err = m_fd.close()) return err;
  if (::renameat(m_dir.fd(), m_tempName.c_str(), m_dir.fd(), name.c_str()) != 0) return errno;
  m_tempName.clear();
  return 0;
}

void TMemberFile::discard() {
  m_fd.reset();
  if (!m_tempName.empty()) {
    ::unlinkat(m_dir.fd(), m_tempName.c_str(), 0);
    m_tempName.clear();
  }
}

}  // namespace vrk::unzip
