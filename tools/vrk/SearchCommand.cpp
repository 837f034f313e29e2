// vrk search: runs the program's search on the catalogue in DIR (by default
// the one the program uses): the same code as the main window's "submit"
// button, with the criteria given as options instead of ticked boxes. --tool
// names a tool field (D10 D20 D30 D40 D50 D60 C10 C30 C40 C50 J10 J20 K10) and
// may be repeated; --cat is the category box's item index (0 "all", -1 for
// typed text). Prints the filter text, the FileName of each result row and the
// search's total (msg::TotalFiles with the count). On failure it prints the
// message the program would show and exits with 1.
#include "Command.h"

#include "Exception.h"
#include "Search.h"
#include "VRKSearchData.h"

#include <cstdio>

namespace vrk::cli {

void declareSearch(QCommandLineParser& parser) {
  declareDatabaseOption(parser);
  parser.addOption({QStringLiteral("tool"), QStringLiteral("A tool field an entry must support; repeatable."),
                    QStringLiteral("D50")});
  parser.addOption({QStringLiteral("free"), QStringLiteral("Freeware only.")});
  parser.addOption({QStringLiteral("source"), QStringLiteral("With source only.")});
  parser.addOption({QStringLiteral("cat"), QStringLiteral("The category list's item index (0: all)."),
                    QStringLiteral("K")});
  parser.addOption(
      {QStringLiteral("text"), QStringLiteral("A text the description must contain."), QStringLiteral("S")});
}

int runSearch(const TCommandLine& line) {
  SearchCriteria criteria;
  for (const QString& name : line.values(QStringLiteral("tool"))) {
    int box = 0;
    while (box < ToolBoxCount && toolField(box).compare(name, Qt::CaseInsensitive) != 0) ++box;
    if (box == ToolBoxCount) return line.usageError(QStringLiteral("unknown tool field ") + name);
    criteria.tools[static_cast<std::size_t>(box)] = true;
  }
  criteria.freeware = line.isSet(QStringLiteral("free"));
  criteria.withSource = line.isSet(QStringLiteral("source"));
  if (line.isSet(QStringLiteral("cat"))) {
    bool ok = false;
    criteria.category = line.value(QStringLiteral("cat")).toInt(&ok);
    if (!ok) return line.usageError(QStringLiteral("--cat needs a whole number"));
  }
  criteria.text = line.value(QStringLiteral("text"));

  // The data module's settings file stays in the private program directory.
  return runOnCatalogue(line, [&](const QString& programDir) {
    TVRKData data(programDir);
    printOut(buildFilterText(criteria, trueWord()));
    const SearchResult result = search(data.tbFiles, data.mtFiles, criteria);
    TField* name = data.mtFiles.fieldByName(QStringLiteral("FileName"));
    for (data.mtFiles.first(); !data.mtFiles.eof(); data.mtFiles.next()) printOut(name->asString());
    printOut(totalFilesText(result.total));
    return 0;
  });
}

}  // namespace vrk::cli
