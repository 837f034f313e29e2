#include "CatalogueFixture.h"
#include "Store.h"

#include <QDate>
#include <QFile>

#include <gtest/gtest.h>

using namespace vrk;
using test::CatalogueFixture;
using test::filesRow;

namespace {

struct Store {
  explicit Store(const CatalogueFixture& fx)
      : db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
           fx.programDir()),
        files(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB")) {}
  TDatabase db;
  TTable files;
};

QStringList walkNames(TTable& t) {
  QStringList names;
  t.first();
  while (!t.eof()) {
    names << t.fieldByName(QStringLiteral("FileName"))->asString();
    t.next();
  }
  return names;
}

}  // namespace

TEST(Store, OpenIsIdempotentAndFieldDefinitionsFollowTableOrder) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1)});
  Store s(fx);
  EXPECT_FALSE(s.db.connected());
  s.files.open();
  EXPECT_TRUE(s.db.connected());
  s.files.next();
  s.files.open();  // no effect: the cursor is not moved back
  EXPECT_TRUE(s.files.eof());

  const TFieldDefs& defs = s.files.fieldDefs();
  ASSERT_EQ(defs.size(), 34u);
  EXPECT_EQ(defs[0].name, QStringLiteral("FileName"));
  EXPECT_EQ(defs[0].dataType, TFieldType::ftString);
  EXPECT_EQ(defs[0].size, 120);
  EXPECT_EQ(defs[2].dataType, TFieldType::ftBoolean);
  EXPECT_EQ(defs[3].dataType, TFieldType::ftSmallint);
  EXPECT_EQ(defs[4].dataType, TFieldType::ftInteger);
  EXPECT_TRUE(defs[4].required);
  EXPECT_EQ(defs[16].name, QStringLiteral("Description"));
  EXPECT_EQ(defs[16].dataType, TFieldType::ftMemo);
  EXPECT_TRUE(defs[16].required);
  EXPECT_EQ(defs[18].dataType, TFieldType::ftDate);
  EXPECT_EQ(defs[33].name, QStringLiteral("K10"));
  EXPECT_EQ(s.files.fieldCount(), 34);
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("fileversion"))->size(), 20);
}

TEST(Store, EndOfTableRuleAndValueReading) {
  CatalogueFixture fx;
  test::Row r = filesRow(QStringLiteral("first.zip"), 3, QStringLiteral("Grid component"));
  r[QStringLiteral("D50")] = true;
  fx.addFiles({r, filesRow(QStringLiteral("second.zip"), 4), filesRow(QStringLiteral("third.zip"), 5)});
  Store s(fx);
  s.files.open();
  EXPECT_FALSE(s.files.eof());
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("first.zip"));
  EXPECT_TRUE(s.files.fieldByName(QStringLiteral("D50"))->asBoolean());
  EXPECT_FALSE(s.files.fieldByName(QStringLiteral("D10"))->asBoolean());  // empty reads as no
  EXPECT_TRUE(s.files.fieldByName(QStringLiteral("D10"))->isNull());
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("Condition"))->asString(), QString());  // empty text
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("Created"))->value().toDate(), QDate(1999, 5, 17));
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileCatID"))->asInteger(), 3);

  EXPECT_EQ(walkNames(s.files), (QStringList{QStringLiteral("first.zip"), QStringLiteral("second.zip"),
                                             QStringLiteral("third.zip")}));
  // At end of table the cursor stays on the last row.
  EXPECT_TRUE(s.files.eof());
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("third.zip"));
  s.files.next();
  EXPECT_TRUE(s.files.eof());

  s.files.last();
  EXPECT_TRUE(s.files.eof());
  s.files.prior();
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("second.zip"));
  EXPECT_EQ(s.files.recNo(), 2);
  EXPECT_EQ(s.files.recordCount(), 3);
}

TEST(Store, EmptyTableIsAtEndAtOnceAndEditStartsAnInsert) {
  CatalogueFixture fx;
  Store s(fx);
  s.files.open();
  EXPECT_TRUE(s.files.eof());
  EXPECT_TRUE(s.files.isEmpty());
  s.files.edit();
  EXPECT_EQ(s.files.state(), TDataSetState::dsInsert);
  s.files.fieldByName(QStringLiteral("FileName"))->setAsString(QStringLiteral("new.zip"));
  // Required fields are checked at post; the row stays pending.
  try {
    s.files.post();
    FAIL() << "posted a row without its required fields";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Feld 'FileCatID' muß einen Wert haben"));
  }
  EXPECT_EQ(s.files.state(), TDataSetState::dsInsert);
  s.files.fieldByName(QStringLiteral("FileCatID"))->setAsInteger(9);
  s.files.fieldByName(QStringLiteral("Description"))->setAsString(QStringLiteral("fresh"));
  s.files.fieldByName(QStringLiteral("FileSize"))->setAsInteger(1);
  s.files.post();
  EXPECT_EQ(
      fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT FileName FROM FILES WHERE FileCatID=9")),
      QVariant(QStringLiteral("new.zip")));
}

TEST(Store, MovingOnPostsAChangedRowAndDropsAnUnchangedEdit) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2)});
  // Any write to the second row fails: an unchanged edit there must not write.
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("CREATE TRIGGER t BEFORE UPDATE ON FILES WHEN old.FileCatID=2 "
                         "BEGIN SELECT RAISE(ABORT, 'written'); END"));
  Store s(fx);
  s.files.open();
  s.files.edit();
  s.files.fieldByName(QStringLiteral("Free"))->setAsBoolean(true);
  s.files.fieldByName(QStringLiteral("FileName"))->setAsString(QString(200, QLatin1Char('x')));  // cut to 120
  s.files.next();
  EXPECT_EQ(s.files.state(), TDataSetState::dsBrowse);
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"), QStringLiteral("SELECT Free FROM FILES WHERE FileCatID=1")),
            QVariant(1));
  EXPECT_EQ(fx.scalar(QStringLiteral("FILES.DB"),
                      QStringLiteral("SELECT length(FileName) FROM FILES WHERE FileCatID=1")),
            QVariant(120));
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("b.zip"));

  // An unchanged edit is dropped: nothing is written.
  s.files.edit();
  s.files.prior();
  EXPECT_EQ(s.files.state(), TDataSetState::dsBrowse);
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString().size(), 120);
}

TEST(Store, WritingOutsideEditIsRefused) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1)});
  Store s(fx);
  s.files.open();
  try {
    s.files.fieldByName(QStringLiteral("Free"))->setAsBoolean(true);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));
  }
  try {
    s.files.fieldByName(QStringLiteral("NoSuchField"));
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("tbFiles: Feld 'NoSuchField' nicht gefunden"));
  }
}

TEST(Store, CategoryQueryAndCloseDatabaseThenReconnect) {
  CatalogueFixture fx;
  fx.addCategory(5, QStringLiteral("Grids"));
  fx.addCategory(2, QStringLiteral("Buttons"));
  fx.addCategory(9, QStringLiteral("Zip"));
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1)});
  Store s(fx);
  TQuery q(QStringLiteral("qrFileCat"), &s.db);
  q.sql() << QStringLiteral("SELECT FILECATNAME,INFO,FILECATID") << QStringLiteral("FROM    FILESCAT")
          << QStringLiteral("ORDER BY FILECATID");
  q.open();
  QStringList names;
  QList<int> ids;
  q.first();
  while (!q.eof()) {
    names << q.fieldByName(QStringLiteral("FILECATNAME"))->asString();
    ids << q.fieldByName(QStringLiteral("FILECATID"))->asInteger();
    q.next();
  }
  EXPECT_EQ(names, (QStringList{QStringLiteral("Buttons"), QStringLiteral("Grids"), QStringLiteral("Zip")}));
  EXPECT_EQ(ids, (QList<int>{2, 5, 9}));
  EXPECT_EQ(q.fieldByName(QStringLiteral("FILECATNAME"))->size(), 40);
  EXPECT_TRUE(q.fieldByName(QStringLiteral("INFO"))->isBlob());

  s.files.open();
  s.db.close();
  EXPECT_FALSE(s.files.active());
  EXPECT_FALSE(q.active());
  EXPECT_FALSE(s.db.connected());
  // The table files can be replaced now; the next open reconnects.
  ASSERT_TRUE(QFile::remove(fx.filePath(QStringLiteral("FILES.DB"))));
  CatalogueFixture other;
  other.addFiles({filesRow(QStringLiteral("replaced.zip"), 1)});
  ASSERT_TRUE(
      QFile::copy(other.filePath(QStringLiteral("FILES.DB")), fx.filePath(QStringLiteral("FILES.DB"))));
  s.files.open();
  EXPECT_EQ(s.files.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("replaced.zip"));
}

TEST(Store, ConnectionDropsWhileNoTableIsOpen) {
  CatalogueFixture fx;
  Store s(fx);
  TTable mirrors(QStringLiteral("tbMirrors"), &s.db, QStringLiteral("MIRRORS.DB"));
  s.files.open();
  mirrors.open();
  s.files.close();
  EXPECT_TRUE(s.db.connected());
  mirrors.close();
  EXPECT_FALSE(s.db.connected());
}

TEST(Store, MissingAliasAndMissingTableFailClearly) {
  test::TempDir empty;
  TDatabase db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
               empty.path());
  TTable files(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB"));
  try {
    files.open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("the alias does not exist"));
  }
  CatalogueFixture fx;
  QFile::remove(fx.filePath(QStringLiteral("FILES.DB")));
  Store s(fx);
  EXPECT_THROW(s.files.open(), EDatabaseError);
  EXPECT_FALSE(s.files.active());
  EXPECT_FALSE(s.db.connected());
  // Opening must not have created a stray empty table file.
  EXPECT_FALSE(QFile::exists(fx.filePath(QStringLiteral("FILES.DB"))));
}

TEST(Store, AnyVisibleRowCanBeReadByItsPosition) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 2),
               filesRow(QStringLiteral("c.zip"), 1), filesRow(QStringLiteral("d.zip"), 2)});
  Store s(fx);
  s.files.open();
  const TField* name = s.files.fieldByName(QStringLiteral("FileName"));
  QStringList rows;
  for (int i = 0; i < 5; ++i) rows << s.files.rowFieldValue(i, *name).toString();
  EXPECT_EQ(rows, QStringList({"a.zip", "b.zip", "c.zip", "d.zip", ""}));
  // Positions count the rows the filter lets through.
  s.files.setFilter(QStringLiteral("FileCatID=2"));
  s.files.setFiltered(true);
  EXPECT_EQ(s.files.rowFieldValue(0, *name).toString(), QStringLiteral("b.zip"));
  EXPECT_EQ(s.files.rowFieldValue(1, *name).toString(), QStringLiteral("d.zip"));
  // The current row reads with its pending edit.
  s.files.next();
  s.files.edit();
  s.files.fieldByName(QStringLiteral("FileName"))->setAsString(QStringLiteral("edited.zip"));
  EXPECT_EQ(s.files.rowFieldValue(1, *name).toString(), QStringLiteral("edited.zip"));
  EXPECT_EQ(s.files.rowFieldValue(0, *name).toString(), QStringLiteral("b.zip"));
  s.files.cancel();
  EXPECT_FALSE(s.files.rowFieldValue(-1, *name).isValid());
}

// A stored date is read as the ISO date parser reads its text, so texts in
// other shapes (or no date at all) read as they always did; its text is the
// ISO text of that date.
TEST(Store, DatesReadAsTheIsoParserReadsTheirText) {
  const char* stored[] = {"1999-05-17",  "2000-02-29",      "2001-02-29", "0001-01-01", "0999-12-31",
                          "9999-12-31",  "0000-01-01",      "1999-5-17",  "1999/05/17", "1999-05-17x",
                          " 1999-05-17", "19990517",        "1999-13-01", "abc",        "1999-05-1",
                          "1999-05-1a",  "1999-05-17T10:00"};
  CatalogueFixture fx;
  std::vector<test::Row> rows;
  for (const char* text : stored) {
    test::Row r = filesRow(QString::fromLatin1(text), 1);
    r[QStringLiteral("Created")] = QString::fromLatin1(text);
    rows.push_back(r);
  }
  fx.addFiles(rows);
  Store s(fx);
  s.files.open();
  const TField* name = s.files.fieldByName(QStringLiteral("FileName"));
  const TField* created = s.files.fieldByName(QStringLiteral("Created"));
  int seen = 0;
  for (s.files.first(); !s.files.eof(); s.files.next(), ++seen) {
    const QString text = name->asString();
    const QDate expected = QDate::fromString(text, Qt::ISODate);
    EXPECT_EQ(created->value().toDate(), expected) << text.toStdString();
    EXPECT_EQ(created->isNull(), !expected.isValid()) << text.toStdString();
    EXPECT_EQ(created->asString(), expected.isValid() ? expected.toString(Qt::ISODate) : QString())
        << text.toStdString();
  }
  EXPECT_EQ(seen, int(std::size(stored)));
  // Plain dates are not all of them invalid.
  s.files.first();
  EXPECT_EQ(created->asString(), QStringLiteral("1999-05-17"));
}
