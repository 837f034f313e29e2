// Walks tbFiles of the catalogue in a program directory the way the program
// does (open, first, next until end of table) and reads every field of every
// row, so that the walk does the work sqlite3 does when it prints the table.
//
//   bench_store_walk PROGRAMDIR
// Prints the rows walked, the time to the first row and the total time.
#include "Store.h"

#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_store_walk PROGRAMDIR\n");
    return 2;
  }
  using namespace vrk;
  QElapsedTimer timer;
  timer.start();
  TDatabase db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
               QString::fromLocal8Bit(argv[1]));
  TTable files(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB"));
  files.open();
  files.first();
  const QString firstName = files.fieldByName(QStringLiteral("FileName"))->asString();
  const double firstMs = timer.nsecsElapsed() / 1e6;
  long rows = 0;
  std::size_t bytes = 0;
  while (!files.eof()) {
    for (int i = 0; i < files.fieldCount(); ++i) bytes += files.field(i)->asString().size();
    ++rows;
    files.next();
  }
  std::printf("rows %ld first-row %.2f ms total %.3f s (%zu chars, first %s)\n", rows, firstMs,
              timer.nsecsElapsed() / 1e9, bytes, qPrintable(firstName));
  return 0;
}
