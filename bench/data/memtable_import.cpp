// ImportRows(tbFiles, 0, ImportReplace) into the result table on the
// catalogue in a program directory, the way a search that copies all rows
// does it.
//
//   bench_memtable_import PROGRAMDIR
// Prints the rows copied, the import time (wall and CPU), the rows' own data
// (their packed values), the heap the table holds afterwards and the growth
// of the process's peak resident size during the import.
#include "MemTable.h"
#include "Store.h"

#include <QElapsedTimer>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::size_t heapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_memtable_import PROGRAMDIR\n");
    return 2;
  }
  using namespace vrk;
  TDatabase db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
               QString::fromLocal8Bit(argv[1]));
  TTable tbFiles(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB"));
  TMemoryTable mtFiles(QStringLiteral("mtFiles"));

  const std::size_t heapBefore = heapInUse();
  const long residentBefore = residentKiB();
  const double cpuBefore = cpuSeconds();
  QElapsedTimer timer;
  timer.start();
  const int rows = mtFiles.importRows(&tbFiles, 0, ImportReplace);
  const double seconds = timer.nsecsElapsed() / 1e9;
  const double cpu = cpuSeconds() - cpuBefore;
  const long peakGrowth = peakKiB() - residentBefore;
  const std::size_t heapHeld = heapInUse() - heapBefore;

  std::size_t own = 0;
  for (int i = 0; i < mtFiles.recordCount(); ++i) {
    own += mtFiles.row(i).packedSize();
  }
  std::printf(
      "rows %d import %.3f s cpu %.3f s own-data %.1f MiB heap-held %.1f MiB peak-growth %.1f MiB "
      "per-row own %.0f B held %.0f B\n",
      rows, seconds, cpu, own / 1048576.0, heapHeld / 1048576.0, peakGrowth / 1024.0,
      rows ? double(own) / rows : 0.0, rows ? double(heapHeld) / rows : 0.0);
  return 0;
}
