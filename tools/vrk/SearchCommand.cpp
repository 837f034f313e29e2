// vrk search [--db DIR] [--tool D50 ...] [--free] [--source] [--cat K] [--text S]
//
// Runs the program's search on the catalogue in DIR (the demo catalogue by
// default): the same code as the main window's "submit" button, with the
// criteria given as options instead of ticked boxes. --tool names a tool
// field (D10 D20 D30 D40 D50 D60 C10 C30 C40 C50 J10 J20 K10) and may be
// repeated; --cat is the category box's item index (0 "all", -1 for typed
// text). Prints the filter text, the FileName of each result row and the
// search's total (msg::TotalFiles with the count). On failure it prints the message the
// program would show and exits with 1.
#include "Command.h"

#include "Exception.h"
#include "Search.h"
#include "VRKSearchData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace vrk::cli {
namespace {

const char* const kUsage =
    "usage: vrk search [--db DIR] [--tool D50 ...] [--free] [--source] [--cat K] [--text S]\n";

int usageError(const QString& what) {
  std::fprintf(stderr, "vrk search: %s\n%s", qPrintable(what), kUsage);
  return 2;
}

void printLine(const QString& s) {
  const QByteArray b = s.toUtf8();
  std::fwrite(b.constData(), 1, static_cast<std::size_t>(b.size()), stdout);
  std::fputc('\n', stdout);
}

int searchCommand(const QStringList& argsIn) {
  QStringList args = argsIn;
  QString dir = defaultDatabaseDir();
  SearchCriteria criteria;
  while (!args.isEmpty()) {
    const QString a = args.takeFirst();
    const bool takesValue = a == QLatin1String("--db") || a == QLatin1String("--tool") ||
                            a == QLatin1String("--cat") || a == QLatin1String("--text");
    if (takesValue && args.isEmpty()) return usageError(a + QStringLiteral(" needs a value"));
    if (a == QLatin1String("--db")) {
      dir = args.takeFirst();
    } else if (a == QLatin1String("--tool")) {
      const QString name = args.takeFirst();
      int box = 0;
      while (box < ToolBoxCount && toolField(box).compare(name, Qt::CaseInsensitive) != 0) ++box;
      if (box == ToolBoxCount) return usageError(QStringLiteral("unknown tool field ") + name);
      criteria.tools[static_cast<std::size_t>(box)] = true;
    } else if (a == QLatin1String("--free")) {
      criteria.freeware = true;
    } else if (a == QLatin1String("--source")) {
      criteria.withSource = true;
    } else if (a == QLatin1String("--cat")) {
      bool ok = false;
      criteria.category = args.takeFirst().toInt(&ok);
      if (!ok) return usageError(QStringLiteral("--cat needs a whole number"));
    } else if (a == QLatin1String("--text")) {
      criteria.text = args.takeFirst();
    } else {
      return usageError(QStringLiteral("unknown option ") + a);
    }
  }

  // The catalogue is reached the way the program reaches it: through the
  // data module and the alias, here in a private program directory whose
  // alias registry points at DIR (its settings file stays there too).
  QTemporaryDir programDir;
  QFile aliases(QDir(programDir.path()).filePath(QStringLiteral("aliases.ini")));
  if (!programDir.isValid() || !aliases.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "vrk search: cannot create a temporary directory\n");
    return 1;
  }
  aliases.write("[Quorvane]\nPATH=" + QDir(dir).absolutePath().toUtf8() + "\n");
  aliases.close();

  try {
    TVRKData data(programDir.path());
    printLine(buildFilterText(criteria, trueWord()));
    const SearchResult result = search(data.tbFiles, data.mtFiles, criteria);
    TField* name = data.mtFiles.fieldByName(QStringLiteral("FileName"));
    for (data.mtFiles.first(); !data.mtFiles.eof(); data.mtFiles.next()) printLine(name->asString());
    printLine(totalFilesText(result.total));
  } catch (const Exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
    return 1;
  }
  return 0;
}

}  // namespace

VRK_COMMAND("search", "search [--db DIR] [--tool D50 ...] [--free] [--source] [--cat K] [--text S]",
            searchCommand);

}  // namespace vrk::cli
