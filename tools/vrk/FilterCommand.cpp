// vrk filter [--db DIR] [--sql] [--walk] TEXT
//
// Parses TEXT as a filter of the files table of the catalogue in DIR (the
// demo catalogue by default) and prints the filter block as hex. On failure
// it prints exactly the message the program would show and exits with 1.
// --sql also prints the SQL condition the store evaluates; --walk sets the
// filter on tbFiles, switches it on, walks the passing rows reading every
// field, and prints their number.
#include "Command.h"

#include "FilterEval.h"
#include "Store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace vrk::cli {
namespace {

int filterCommand(const QStringList& argsIn) {
  QStringList args = argsIn;
  QString dir = defaultDatabaseDir();
  bool printSql = false;
  bool walk = false;
  QString text;
  bool haveText = false;
  while (!args.isEmpty()) {
    const QString a = args.takeFirst();
    if (a == QLatin1String("--db") && !args.isEmpty())
      dir = args.takeFirst();
    else if (a == QLatin1String("--sql"))
      printSql = true;
    else if (a == QLatin1String("--walk"))
      walk = true;
    else if (!haveText) {
      text = a;
      haveText = true;
    } else {
      std::fprintf(stderr, "usage: vrk filter [--db DIR] [--sql] [--walk] TEXT\n");
      return 2;
    }
  }
  if (!haveText) {
    std::fprintf(stderr, "usage: vrk filter [--db DIR] [--sql] [--walk] TEXT\n");
    return 2;
  }

  // The catalogue is reached the way the program reaches it: through the
  // alias, here in a private alias registry that points at DIR.
  QTemporaryDir programDir;
  QFile aliases(QDir(programDir.path()).filePath(QStringLiteral("aliases.ini")));
  if (!programDir.isValid() || !aliases.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "vrk filter: cannot create a temporary directory\n");
    return 1;
  }
  aliases.write("[Quorvane]\nPATH=" + QDir(dir).absolutePath().toUtf8() + "\n");
  aliases.close();

  try {
    TDatabase database(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
                       programDir.path());
    TTable tbFiles(QStringLiteral("tbFiles"), &database, QStringLiteral("FILES.DB"));
    tbFiles.open();
    const TExprParser parser(&tbFiles, text, tbFiles.FilterOptions());
    std::printf("%s\n", parser.filterData().toHex(' ').constData());
    if (printSql) {
      std::vector<TFilterColumn> columns;
      for (const TFieldDef& d : tbFiles.fieldDefs()) columns.push_back({d.name, d.dataType});
      std::printf("%s\n", filterBlockToSql(parser.filterData(), columns).constData());
    }
    if (walk) {
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
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
    return 1;
  }
  return 0;
}

}  // namespace

VRK_COMMAND("filter", "filter [--db DIR] [--sql] [--walk] TEXT", filterCommand);

}  // namespace vrk::cli
