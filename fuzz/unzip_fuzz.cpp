// libFuzzer target for the extraction library. The input is a Zip image in
// memory, extracted through UnzipSingleEntry into a fresh directory, with
// the options the program passes (and, for odd-sized inputs, a password).
// Whatever the image holds, nothing may appear beside that directory, and
// only regular files may appear in it: no link, no subdirectory, no
// temporary file left behind, no control character in a name. Anything else
// aborts.
#include "unzip/MemberFile.h"
#include "unzip/UnzipLibrary.h"
#include "unzip/ZipDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

[[noreturn]] void fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "unzip fuzz: %s: %s\n", what, name.c_str());
  std::abort();
}

// A private directory for the run (in memory where possible), removed at exit.
struct TWorkDir {
  TWorkDir() {
    struct stat st;
    base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm/vrkfuzz-XXXXXX"
                                                               : "/tmp/vrkfuzz-XXXXXX";
    if (!::mkdtemp(base.data())) fail("cannot create", base);
    out = base + "/out";
  }
  ~TWorkDir() {
    for (const std::string& n : entries(out)) ::unlink((out + "/" + n).c_str());
    ::rmdir(out.c_str());
    ::rmdir(base.c_str());
  }
  std::string base, out;
};

int g_passwordAnswer = 1;
// Bare names of the listed members: a member may itself be called like a
// temporary file (".vrkunzip-" and 16 hexadecimal digits).
std::set<std::string> g_listedBareNames;

int passwordRequest(char* buffer, int size, const char*, const char*) {
  if (g_passwordAnswer == 0 && size > 1) buffer[0] = 'x';
  return g_passwordAnswer;
}

void memberListing(uint32_t, uint32_t, uint32_t, uint32_t month, uint32_t day, uint32_t, uint32_t hour,
                   uint32_t minute, char, const char* name, const char* method, uint32_t, char) {
  if (month > 15 || day > 31 || hour > 31 || minute > 63 || !name || !method)
    fail("listing out of range", name);
  if (vrk::unzip::PrintableName(name) != name) fail("control character in a listed name", name);
  g_listedBareNames.insert(vrk::unzip::BareName(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TWorkDir work;
  const int image = ::memfd_create("zip", MFD_CLOEXEC);
  if (image < 0 || ::write(image, data, size) != static_cast<ssize_t>(size)) fail("memfd", "");
  const std::string path = "/proc/self/fd/" + std::to_string(image);
  if (::mkdir(work.out.c_str(), 0700) != 0) fail("mkdir", work.out);

  vrk::unzip::TUnzipOptions options{};
  options.overwriteExisting = 1;
  options.quietLevel = 2;
  options.zipFile = path.c_str();
  options.targetDir = work.out.c_str();
  vrk::unzip::TUnzipCallbacks callbacks{
      nullptr, nullptr, nullptr, passwordRequest, memberListing, nullptr, 0, 0, 0, 0, 0};
  g_passwordAnswer = size % 2 ? 0 : 1;
  g_listedBareNames.clear();
  vrk::unzip::UnzipSingleEntry(0, nullptr, 0, nullptr, &options, &callbacks);
  ::close(image);

  for (const std::string& n : entries(work.base))
    if (n != "out") fail("written beside the directory", n);
  for (const std::string& n : entries(work.out)) {
    struct stat st;
    const std::string file = work.out + "/" + n;
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) fail("not a regular file", n);
    if (vrk::unzip::PrintableName(n) != n) fail("control character in a landing name", n);
    if (n.size() == 26 && n.rfind(".vrkunzip-", 0) == 0 && !g_listedBareNames.count(n))
      fail("temporary file left", n);
    ::unlink(file.c_str());
  }
  if (::rmdir(work.out.c_str()) != 0) fail("rmdir", work.out);
  return 0;
}
