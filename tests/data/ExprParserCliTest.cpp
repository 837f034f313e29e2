// vrk filter end to end: the program prints a text's filter block as hex,
// or the message the program would show, with a non-zero exit.
#include "CatalogueFixture.h"
#include "ProcessRun.h"

#include <gtest/gtest.h>

namespace vrk {
namespace {

using CliRun = test::ProcessRun;

CliRun vrk(const QStringList& args) {
  return test::runProcess(test::testProgram(QStringLiteral("vrk")),
                          QStringList{QStringLiteral("filter")} + args);
}

TEST(ExprParserCli, PrintsTheBlockOrTheMessage) {
  test::CatalogueFixture cat;
  cat.addFiles({test::filesRow(QStringLiteral("a.zip"), 3), test::filesRow(QStringLiteral("b.zip"), 4)});
  const CliRun ok = vrk({QStringLiteral("--db"), cat.dbDir(), QStringLiteral("D10=Wahr")});
  EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
  EXPECT_EQ(ok.out,
            QStringLiteral("02 00 36 00 ff ff 0a 00 30 00 02 00 00 00 03 00 00 00 0c 00 18 00 04 00 00 00 "
                           "12 00 00 00 06 00 00 00 05 00 00 00 13 00 00 00 04 00 02 00 04 00 44 31 30 00 "
                           "01 00\n"));

  const CliRun bad = vrk({QStringLiteral("--db"), cat.dbDir(), QStringLiteral("D10=True")});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.out, QString());
  EXPECT_EQ(bad.err, QStringLiteral("tbFiles: Das Feld 'True' wurde nicht gefunden\n"));

  const CliRun walk =
      vrk({QStringLiteral("--db"), cat.dbDir(), QStringLiteral("--walk"), QStringLiteral("FileCatID=4")});
  EXPECT_EQ(walk.exitCode, 0) << walk.err.toStdString();
  EXPECT_TRUE(walk.out.contains(QStringLiteral("\nrows 1 ("))) << walk.out.toStdString();
}

}  // namespace
}  // namespace vrk
