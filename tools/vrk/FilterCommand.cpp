// vrk filter: parses TEXT as a filter of the files table of the catalogue in
// DIR (by default the one the program uses) and prints the filter block as
// hex. On failure it prints exactly the message the program would show and
// exits with 1. --sql also prints the SQL condition the store evaluates;
// --walk sets the filter on tbFiles, switches it on, walks the passing rows
// reading every field, and prints their number.
#include "Command.h"

#include "FilterEval.h"
#include "Store.h"

#include <cstdio>

namespace vrk::cli {

void declareFilter(QCommandLineParser& parser) {
  declareDatabaseOption(parser);
  parser.addOption(
      {QStringLiteral("sql"), QStringLiteral("Also prints the SQL condition the store evaluates.")});
  parser.addOption(
      {QStringLiteral("walk"), QStringLiteral("Walks the passing rows and prints their number.")});
}

int runFilter(const TCommandLine& line) {
  const QString text = line.argument(0);
  return runOnCatalogue(line, [&](const QString& programDir) {
    TDatabase database(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
                       programDir);
    TTable tbFiles(QStringLiteral("tbFiles"), &database, QStringLiteral("FILES.DB"));
    tbFiles.open();
    const TExprParser parser(&tbFiles, text, tbFiles.FilterOptions());
    std::printf("%s\n", parser.filterData().toHex(' ').constData());
    if (line.isSet(QStringLiteral("sql"))) {
      std::vector<TFilterColumn> columns;
      for (const TFieldDef& d : tbFiles.fieldDefs()) columns.push_back({d.name, d.dataType});
      std::printf("%s\n", filterBlockToSql(parser.filterData(), columns).constData());
    }
    if (line.isSet(QStringLiteral("walk"))) {
      tbFiles.setFilter(text);
      tbFiles.setFiltered(true);
      long rows = 0;
      std::size_t chars = 0;
      while (!tbFiles.eof()) {
        for (int i = 0; i < tbFiles.fieldCount(); ++i) chars += tbFiles.field(i)->asString().size();
        ++rows;
        tbFiles.next();
      }
      std::printf("rows %ld (%zu chars)\n", rows, chars);
    }
    return 0;
  });
}

}  // namespace vrk::cli
