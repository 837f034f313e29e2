// Filtered walk of tbFiles the way the search does it: open the table, set
// the filter text, switch filtering on, then walk the passing rows (first,
// next until end of table) reading every field of every row, so that the
// walk does the work sqlite3 does when it prints the same rows.
//
//   bench_filter_walk PROGRAMDIR TEXT
// Prints the rows walked, the time to the first row and the total time.
#include "Store.h"

#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_filter_walk PROGRAMDIR TEXT\n");
    return 2;
  }
  using namespace vrk;
  QElapsedTimer timer;
  timer.start();
  TDatabase db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
               QString::fromLocal8Bit(argv[1]));
  TTable files(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB"));
  try {
    files.open();
    files.setFilter(QString::fromLocal8Bit(argv[2]));
    files.setFiltered(true);
    const double firstMs = timer.nsecsElapsed() / 1e6;
    long rows = 0;
    std::size_t chars = 0;
    while (!files.eof()) {
      for (int i = 0; i < files.fieldCount(); ++i) chars += files.field(i)->asString().size();
      ++rows;
      files.next();
    }
    std::printf("rows %ld first-row %.2f ms total %.3f s (%zu chars)\n", rows, firstMs,
                timer.nsecsElapsed() / 1e9, chars);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
