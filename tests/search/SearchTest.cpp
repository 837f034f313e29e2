// The search over a real catalogue (SQLite files table with its filter) and a
// real result table: the copy-all and text branches, the total, the filter
// left on the files table, and the failures.
#include "Search.h"

#include "CatalogueFixture.h"
#include "MemTable.h"
#include "Schema.h"
#include "VRKSearchData.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrk {
namespace {

using test::filesRow;
using test::Row;

Row flagged(const QString& name, int cat, const QString& description,
            std::initializer_list<const char*> yes) {
  Row r = filesRow(name, cat, description);
  for (const char* flag : schema::flagColumns()) r[QString::fromLatin1(flag)] = false;
  for (const char* flag : yes) r[QString::fromLatin1(flag)] = true;
  return r;
}

QStringList names(TMemoryTable& t) {
  QStringList out;
  TField* f = t.fieldByName(QStringLiteral("FileName"));
  for (t.first(); !t.eof(); t.next()) out << f->asString();
  return out;
}

// The result table as the data module designs it: one field per FILES column.
std::unique_ptr<TMemoryTable> designedResultTable() {
  auto t = std::make_unique<TMemoryTable>(QStringLiteral("mtFiles"));
  for (const schema::Column& c : schema::filesColumns()) {
    t->createField(QString::fromLatin1(c.name), c.type, c.type == TFieldType::ftMemo ? 0 : c.size,
                   c.required);
  }
  return t;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue.addFiles({
        flagged("grid.zip", 1, "A data Grid with sorting", {"D50", "Free"}),
        flagged("edit.zip", 2, "Masked edit control", {"D40", "WithSource"}),
        flagged("kylix.zip", 3, "Cross-platform GRID for Kylix", {"K10", "Free", "WithSource"}),
        flagged("tool.zip", 3, "Build tool  with two spaces", {"C50"}),
        flagged("old.zip", 7, "Grid for Delphi 1", {"D10", "Free"}),
    });
    data = std::make_unique<TVRKData>(catalogue.programDir());
    mtFiles = designedResultTable();
  }

  QStringList names() { return vrk::names(*mtFiles); }

  SearchResult run(const SearchCriteria& c) { return search(data->tbFiles, *mtFiles, c); }

  test::CatalogueFixture catalogue;
  std::unique_ptr<TVRKData> data;
  std::unique_ptr<TMemoryTable> mtFiles;
};

TEST_F(SearchTest, NothingTickedCopiesEveryRowInTableOrder) {
  const SearchResult r = run({});
  EXPECT_EQ(r.filter, QString());
  EXPECT_EQ(r.total, 5);
  // It stands on its first row.
  EXPECT_EQ(mtFiles->recNo(), 1);
  EXPECT_EQ(mtFiles->fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("grid.zip"));
  EXPECT_EQ(names(), QStringList({"grid.zip", "edit.zip", "kylix.zip", "tool.zip", "old.zip"}));
  EXPECT_EQ(totalFilesText(r.total), QStringLiteral(" Total Files 5"));
  // The result table took the files table's structure.
  EXPECT_EQ(mtFiles->fieldCount(), data->tbFiles.fieldCount());
}

TEST_F(SearchTest, TickedCriteriaFilterTheRows) {
  struct Case {
    SearchCriteria criteria;
    QStringList expected;
  };
  SearchCriteria d5free;
  d5free.tools[tbDelphi5] = true;
  d5free.freeware = true;
  SearchCriteria d4d5;
  d4d5.tools[tbDelphi4] = true;
  d4d5.tools[tbDelphi5] = true;
  SearchCriteria freeSourceCat3;
  freeSourceCat3.freeware = true;
  freeSourceCat3.withSource = true;
  freeSourceCat3.category = 3;
  SearchCriteria cat7;  // item 7 → FileCatID=7, whatever the category list says
  cat7.category = 7;
  SearchCriteria typed;  // typed text in the category box
  typed.category = -1;
  const Case cases[] = {
      {d5free, {"grid.zip"}},
      {d4d5, {"grid.zip", "edit.zip"}},
      {freeSourceCat3, {"kylix.zip"}},
      {cat7, {"old.zip"}},
      {typed, {}},
  };
  for (const Case& c : cases) {
    const SearchResult r = run(c.criteria);
    EXPECT_EQ(names(), c.expected) << r.filter.toStdString();
    EXPECT_EQ(r.total, c.expected.size());
  }
}

TEST_F(SearchTest, TextMatchesDescriptionsWithoutRegardToCase) {
  for (const char* text : {"grid", "GRID", "Grid", "gRiD"}) {
    SearchCriteria c;
    c.text = QString::fromLatin1(text);
    const SearchResult r = run(c);
    EXPECT_EQ(r.filter, QString());
    EXPECT_EQ(names(), QStringList({"grid.zip", "kylix.zip", "old.zip"})) << text;
    EXPECT_EQ(r.total, 3);
  }
  // The file name is not searched.
  SearchCriteria byName;
  byName.text = QStringLiteral("edit.zip");
  EXPECT_EQ(run(byName).total, 0);
}

TEST_F(SearchTest, TextAndCriteriaTogether) {
  SearchCriteria c;
  c.freeware = true;
  c.text = QStringLiteral("grid");
  EXPECT_EQ(run(c).filter, QStringLiteral("Free=Wahr"));
  EXPECT_EQ(names(), QStringList({"grid.zip", "kylix.zip", "old.zip"}));
  c.tools[tbKylix] = true;
  EXPECT_EQ(run(c).total, 1);
  EXPECT_EQ(names(), QStringList({"kylix.zip"}));
}

TEST_F(SearchTest, SpacesOnlyTextIsSearchedAsItIs) {
  SearchCriteria c;
  c.text = QStringLiteral("  ");
  EXPECT_EQ(run(c).total, 1);
  EXPECT_EQ(names(), QStringList({"tool.zip"}));
}

TEST_F(SearchTest, TextFoundNowhereGivesAnEmptyResult) {
  SearchCriteria all;
  EXPECT_EQ(run(all).total, 5);
  SearchCriteria c;
  c.text = QStringLiteral("no such words");
  const SearchResult r = run(c);
  EXPECT_EQ(r.total, 0);
  EXPECT_EQ(totalFilesText(r.total), QStringLiteral(" Total Files 0"));
  // The text branch keeps the structure and only clears the rows.
  EXPECT_EQ(mtFiles->fieldCount(), 34);
  EXPECT_TRUE(mtFiles->active());
}

TEST_F(SearchTest, FilterStaysOnTheFilesTable) {
  SearchCriteria c;
  c.tools[tbDelphi1] = true;
  run(c);
  EXPECT_EQ(data->tbFiles.Filter(), QStringLiteral("D10=Wahr"));
  EXPECT_TRUE(data->tbFiles.filtered());
  data->tbFiles.first();
  int seen = 0;
  for (; !data->tbFiles.eof(); data->tbFiles.next()) ++seen;
  EXPECT_EQ(seen, 1);
  // Only a search with nothing ticked lets every row pass again.
  run({});
  EXPECT_EQ(data->tbFiles.Filter(), QString());
  EXPECT_EQ(mtFiles->recordCount(), 5);
}

TEST_F(SearchTest, LaterSearchesReplaceTheRows) {
  SearchCriteria c;
  c.text = QStringLiteral("grid");
  run(c);
  run(c);
  EXPECT_EQ(mtFiles->recordCount(), 3);
  run({});
  run({});
  EXPECT_EQ(mtFiles->recordCount(), 5);
}

class SearchFailureTest : public ::testing::Test {
 protected:
  // Rebuilds FILES with FileSize optional, so that the catalogue can hold a
  // row that the result table's designed FileSize field refuses.
  void makeFileSizeOptional() {
    std::vector<schema::Column> cols = schema::filesColumns();
    for (schema::Column& c : cols) {
      if (QByteArray(c.name) == "FileSize") c.required = false;
    }
    catalogue.exec(QStringLiteral("FILES.DB"), QStringLiteral("DROP TABLE FILES"));
    catalogue.exec(QStringLiteral("FILES.DB"), QString::fromUtf8(schema::createTableSql("FILES", cols)));
  }
  test::CatalogueFixture catalogue;
};

TEST_F(SearchFailureTest, RefusedRowStopsTheTextBranchKeepingEarlierRows) {
  makeFileSizeOptional();
  Row bad = filesRow(QStringLiteral("bad.zip"), 1, QStringLiteral("grid without a size"));
  bad.remove(QStringLiteral("FileSize"));
  catalogue.addFiles({filesRow(QStringLiteral("a.zip"), 1, QStringLiteral("grid one")), bad,
                      filesRow(QStringLiteral("c.zip"), 1, QStringLiteral("grid three"))});
  TVRKData data(catalogue.programDir());
  auto mtFiles = designedResultTable();
  SearchCriteria c;
  c.text = QStringLiteral("grid");
  try {
    search(data.tbFiles, *mtFiles, c);
    FAIL() << "the refused row raised nothing";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Feld 'FileSize' muß einen Wert haben"));
  }
  EXPECT_EQ(mtFiles->recordCount(), 1);
  // The files table shows every passing row again, not only those with the
  // text.
  EXPECT_EQ(data.tbFiles.recordCount(), 3);
  // The refused row is not left pending: the next search does not trip on it.
  EXPECT_EQ(mtFiles->state(), TDataSetState::dsBrowse);
  c.text = QStringLiteral("three");
  EXPECT_EQ(search(data.tbFiles, *mtFiles, c).total, 1);
}

TEST_F(SearchFailureTest, RefusedRowInTheCopyAllBranchIsDiscarded) {
  // An empty description: the result table reads an empty memo as no value,
  // and Description is required.
  Row bad = filesRow(QStringLiteral("bad.zip"), 1, QString(""));
  catalogue.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 1), bad,
                      filesRow(QStringLiteral("d.zip"), 1)});
  TVRKData data(catalogue.programDir());
  auto mtFiles = designedResultTable();
  const SearchResult r = search(data.tbFiles, *mtFiles, {});
  // The rows copied before the error, and no exception.
  EXPECT_EQ(r.total, 2);
  EXPECT_EQ(mtFiles->state(), TDataSetState::dsBrowse);
  // A text search afterwards clears the rows without tripping on it.
  SearchCriteria c;
  c.text = QStringLiteral("demo");
  EXPECT_EQ(search(data.tbFiles, *mtFiles, c).total, 3);
}

TEST_F(SearchFailureTest, FilterOnAMissingColumnFails) {
  catalogue.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2),
                      filesRow(QStringLiteral("c.zip"), 3)});
  // A files table without the Kylix column.
  catalogue.exec(QStringLiteral("FILES.DB"), QStringLiteral("ALTER TABLE FILES DROP COLUMN K10"));
  TVRKData data(catalogue.programDir());
  auto mtFiles = designedResultTable();
  // A first search fills the result table, which then stands on its second row.
  ASSERT_EQ(search(data.tbFiles, *mtFiles, {}).total, 3);
  mtFiles->setRecNo(2);
  const int fields = mtFiles->fieldCount();
  SearchCriteria c;
  c.tools[tbKylix] = true;
  try {
    search(data.tbFiles, *mtFiles, c);
    FAIL() << "the filter raised nothing";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("tbFiles: Das Feld 'K10' wurde nicht gefunden"));
  }
  // The result table was not touched: its rows, its row and its fields.
  EXPECT_TRUE(mtFiles->active());
  EXPECT_EQ(mtFiles->recordCount(), 3);
  EXPECT_EQ(mtFiles->recNo(), 2);
  EXPECT_EQ(mtFiles->fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("b.zip"));
  EXPECT_EQ(mtFiles->fieldCount(), fields);
  EXPECT_EQ(names(*mtFiles), QStringList({"a.zip", "b.zip", "c.zip"}));
}

TEST_F(SearchFailureTest, MissingFilesTableFails) {
  QFile::remove(catalogue.filePath(QStringLiteral("FILES.DB")));
  TVRKData data(catalogue.programDir());
  auto mtFiles = designedResultTable();
  EXPECT_THROW(search(data.tbFiles, *mtFiles, {}), Exception);
}

// The text branch compares each description as the catalogue holds it: text
// with letters beyond Latin-1 before or after the match, ß against SS, bytes
// that are not UTF-8 (read as replacement characters), a description stored
// as a blob, and an ASCII text longer than one step of the comparison.
TEST(SearchDescriptions, EveryStoredFormIsComparedAsItsText) {
  test::CatalogueFixture catalogue;
  catalogue.addFiles({
      filesRow(QStringLiteral("before.zip"), 1, QStringLiteral("\u01c6ungla grid")),
      filesRow(QStringLiteral("after.zip"), 1, QStringLiteral("Grid \u01c4")),
      filesRow(QStringLiteral("gross.zip"), 1, QStringLiteral("Gr\u00f6\u00dfere Projekte")),
      filesRow(QStringLiteral("broken.zip"), 1, QStringLiteral("x")),
      filesRow(QStringLiteral("split.zip"), 1, QStringLiteral("x")),
      filesRow(QStringLiteral("blob.zip"), 1, QStringLiteral("x")),
      filesRow(QStringLiteral("long.zip"), 1, QStringLiteral("a long description of a data GRID control")),
      filesRow(QStringLiteral("none.zip"), 1, QStringLiteral("no match here")),
  });
  const auto describe = [&](const char* file, const char* value) {
    catalogue.exec(QStringLiteral("FILES.DB"),
                   QStringLiteral("UPDATE FILES SET Description = %1 WHERE FileName = '%2'")
                       .arg(QLatin1String(value), QLatin1String(file)));
  };
  describe("broken.zip", "CAST(X'C32867726964' AS TEXT)");  // C3 ( g r i d
  describe("split.zip", "CAST(X'67C3726964' AS TEXT)");     // g C3 r i d
  describe("blob.zip", "CAST('A grid' AS BLOB)");
  TVRKData data(catalogue.programDir());
  auto mtFiles = designedResultTable();
  const auto found = [&](const char* text) {
    SearchCriteria c;
    c.text = QString::fromUtf8(text);
    search(data.tbFiles, *mtFiles, c);
    QStringList out;
    TField* f = mtFiles->fieldByName(QStringLiteral("FileName"));
    for (mtFiles->first(); !mtFiles->eof(); mtFiles->next()) out << f->asString();
    return out;
  };
  EXPECT_EQ(found("grid"), QStringList({"before.zip", "after.zip", "broken.zip", "blob.zip", "long.zip"}));
  EXPECT_EQ(found("gr\u00f6sse"), QStringList({"gross.zip"}));
  EXPECT_EQ(found("\u01c4UNGLA"), QStringList({"before.zip"}));
  EXPECT_EQ(found("\xef\xbf\xbd("), QStringList({"broken.zip"}));
  EXPECT_EQ(found("data grid c"), QStringList({"long.zip"}));
}

}  // namespace
}  // namespace vrk
