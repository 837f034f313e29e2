// `vrk search` on a real catalogue: the filter text, the result file names
// and the total, and its failures; the usage lines of every vrk command.
#include "CatalogueFixture.h"
#include "ProcessRun.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace vrk {
namespace {

using CommandRun = test::ProcessRun;

CommandRun vrk(const QStringList& args) {
  return test::runProcess(test::testProgram(QStringLiteral("vrk")),
                          QStringList{QStringLiteral("search")} + args);
}

class SearchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::Row a = test::filesRow(QStringLiteral("a.zip"), 3, QStringLiteral("A GRID control"));
    a[QStringLiteral("D50")] = true;
    a[QStringLiteral("Free")] = true;
    test::Row b = test::filesRow(QStringLiteral("b.zip"), 3, QStringLiteral("an editor"));
    b[QStringLiteral("D40")] = true;
    test::Row c = test::filesRow(QStringLiteral("c.zip"), 1, QStringLiteral("grid for Kylix"));
    c[QStringLiteral("K10")] = true;
    catalogue.addFiles({a, b, c});
  }
  QStringList db() const { return {QStringLiteral("--db"), catalogue.dbDir()}; }
  test::CatalogueFixture catalogue;
};

TEST_F(SearchCommandTest, PrintsFilterRowsAndTotal) {
  struct Case {
    QStringList args;
    const char* out;
  };
  const Case cases[] = {
      {{}, "\na.zip\nb.zip\nc.zip\n Total Files 3\n"},
      {{"--tool", "D40", "--tool", "d50"}, "D40=Wahr OR D50=Wahr\na.zip\nb.zip\n Total Files 2\n"},
      {{"--tool", "D50", "--free", "--source", "--cat", "3"},
       "(D50=Wahr) AND Free=Wahr AND WithSource=Wahr AND FileCatID=3\n Total Files 0\n"},
      {{"--cat", "3"}, "FileCatID=3\na.zip\nb.zip\n Total Files 2\n"},
      {{"--text", "Grid"}, "\na.zip\nc.zip\n Total Files 2\n"},
      {{"--cat", "-1"}, "FileCatID=-1\n Total Files 0\n"},
  };
  for (const Case& c : cases) {
    const CommandRun r = vrk(db() + c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), c.out) << c.args.join(' ').toStdString();
  }
}

TEST_F(SearchCommandTest, Failures) {
  catalogue.exec(QStringLiteral("FILES.DB"), QStringLiteral("ALTER TABLE FILES DROP COLUMN K10"));
  CommandRun r = vrk(db() + QStringList{QStringLiteral("--tool"), QStringLiteral("K10")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.trimmed(), QStringLiteral("tbFiles: Das Feld 'K10' wurde nicht gefunden"));
  r = vrk(db() + QStringList{QStringLiteral("--tool"), QStringLiteral("D70")});
  EXPECT_EQ(r.exitCode, 2);
  r = vrk(db() + QStringList{QStringLiteral("--cat"), QStringLiteral("x")});
  EXPECT_EQ(r.exitCode, 2);
  r = vrk(db() + QStringList{QStringLiteral("--text")});
  EXPECT_EQ(r.exitCode, 2);
}

// Each command's usage line (in `vrk --help`, after a wrong command line
// and in the manual page) names every option that `vrk COMMAND --help`
// lists, its own --help and --version aside.
TEST(VrkUsage, EveryCommandsUsageLineNamesItsOptions) {
  const QString vrkProgram = test::testProgram(QStringLiteral("vrk"));
  const CommandRun tool = test::runProcess(vrkProgram, {QStringLiteral("--help")});
  ASSERT_EQ(tool.exitCode, 0);
  const QString list = tool.out.mid(tool.out.indexOf(QStringLiteral("\nCommands:\n")));
  int commands = 0;
  for (auto c = QRegularExpression(QStringLiteral("\n  ([a-z]+) ")).globalMatch(list); c.hasNext();
       ++commands) {
    const QString name = c.next().captured(1);
    const CommandRun help = test::runProcess(vrkProgram, {name, QStringLiteral("--help")});
    const QString usage = help.out.section(QLatin1Char('\n'), 0, 0);
    EXPECT_TRUE(usage.startsWith(QStringLiteral("usage: vrk ") + name)) << usage.toStdString();
    for (auto o = QRegularExpression(QStringLiteral("\n  (-[-a-z]+)")).globalMatch(help.out); o.hasNext();) {
      const QString option = o.next().captured(1);
      if (option == QLatin1String("-h") || option == QLatin1String("--version")) continue;
      EXPECT_TRUE(usage.contains(QRegularExpression(
          QStringLiteral("[[ |]") + QRegularExpression::escape(option) + QStringLiteral("[] ]"))))
          << option.toStdString() << " is missing from " << usage.toStdString();
    }
  }
  EXPECT_GT(commands, 0) << tool.out.toStdString();
}

}  // namespace
}  // namespace vrk
