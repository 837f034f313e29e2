#include "CatalogueFixture.h"
#include "ErrorCapture.h"
#include "MemTableFixture.h"
#include "Store.h"
#include "VRKSearchData.h"

#include <QDate>

#include <gtest/gtest.h>

using namespace vrk;
using test::appendFile;
using test::CatalogueFixture;
using test::CountingLink;
using test::fileNames;
using test::filesRow;
using test::filesShapedTable;

namespace {

QString errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.message();
  }
  return QString();
}

TField* f(TDataSet& t, const char* name) { return t.fieldByName(QString::fromLatin1(name)); }

// An open source table of the files shape holding the given names.
std::unique_ptr<TMemoryTable> sourceWith(const QStringList& names) {
  auto src = filesShapedTable(QStringLiteral("src"));
  src->open();
  int cat = 1;
  for (const QString& n : names) appendFile(*src, n, cat++);
  src->first();
  return src;
}

struct Store {
  explicit Store(const CatalogueFixture& fx)
      : db(QStringLiteral("VRKData"), QStringLiteral("Quorvane"), QStringLiteral("VRK_Data"),
           fx.programDir()),
        files(QStringLiteral("tbFiles"), &db, QStringLiteral("FILES.DB")) {}
  TDatabase db;
  TTable files;
};

}  // namespace

// --- Sources that are in-memory tables -------------------------------------------

TEST(MemTableImport, SelfImportChangesNothing) {
  auto t = sourceWith({"a", "b"});
  t->setRecNo(2);
  EXPECT_EQ(t->importRows(t.get(), 0, ImportReplace), 0);
  EXPECT_EQ(t->importRows(t.get(), 0, ImportAppend), 0);
  EXPECT_EQ(t->recordCount(), 2);
  EXPECT_EQ(t->recNo(), 2);
  EXPECT_EQ(t->fieldCount(), 34);
}

TEST(MemTableImport, ReplaceAllAndAppendCopyRowsInSourceOrder) {
  auto src = sourceWith({"a", "b", "c"});
  src->first();
  src->edit();
  f(*src, "Created")->setValue(QDate(2000, 1, 2));
  f(*src, "D50")->setValue(true);
  f(*src, "Condition")->setValue(QStringLiteral("ok"));
  src->post();
  auto t = filesShapedTable();
  EXPECT_EQ(t->importRows(src.get(), 0, ImportReplace), 3);
  EXPECT_TRUE(t->active());
  EXPECT_EQ(t->recNo(), 1);  // left on the first row
  EXPECT_EQ(f(*t, "Created")->value(), QVariant(QDate(2000, 1, 2)));
  EXPECT_EQ(f(*t, "D50")->value(), QVariant(true));
  EXPECT_TRUE(f(*t, "D40")->value().isNull());
  EXPECT_EQ(f(*t, "Description")->asString(), QStringLiteral("An entry."));
  EXPECT_TRUE(src->eof());  // all rows: the source ends past its last row
  EXPECT_EQ(t->importRows(src.get(), 0, ImportAppend), 3);
  EXPECT_EQ(fileNames(*t), (QStringList{"a", "b", "c", "a", "b", "c"}));
  EXPECT_EQ(t->row(5).rowId(), INT32_MIN + 6);
}

TEST(MemTableImport, EmptySourceStillRebuildsTheTable) {
  auto src = sourceWith({});
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("Other"), TFieldType::ftInteger);
  t.open();
  EXPECT_EQ(t.importRows(src.get(), 0, ImportReplace), 0);
  EXPECT_TRUE(t.active());
  EXPECT_EQ(t.recordCount(), 0);
  EXPECT_EQ(t.fieldCount(), 34);
  EXPECT_EQ(t.findField(QStringLiteral("Other")), nullptr);
}

TEST(MemTableImport, MaxRowsCountsFromTheSourcesCurrentRow) {
  auto src = sourceWith({"a", "b", "c", "d"});
  auto t = filesShapedTable();
  t->open();
  appendFile(*t, QStringLiteral("mine"));
  appendFile(*t, QStringLiteral("mine2"));

  // Exactly the current row, appended after the existing rows.
  src->setRecNo(2);
  EXPECT_EQ(t->importRows(src.get(), 1, ImportAppend), 1);
  EXPECT_EQ(f(*src, "FileName")->asString(), QStringLiteral("b"));  // source stays there
  EXPECT_EQ(t->recNo(), 1);
  EXPECT_EQ(fileNames(*t), (QStringList{"mine", "mine2", "b"}));

  // Two rows from c on; the source stays on the last row copied.
  src->setRecNo(3);
  EXPECT_EQ(t->importRows(src.get(), 2, ImportAppend), 2);
  EXPECT_EQ(f(*src, "FileName")->asString(), QStringLiteral("d"));
  EXPECT_FALSE(src->eof());

  // A source at EOF adds nothing.
  src->last();
  src->next();
  ASSERT_TRUE(src->eof());
  EXPECT_EQ(t->importRows(src.get(), 1, ImportAppend), 0);
  EXPECT_EQ(t->recordCount(), 5);
}

TEST(MemTableImport, ReplaceWithMoreFieldsAndViewsRedrawOnce) {
  auto src = filesShapedTable(QStringLiteral("src"));
  src->createField(QStringLiteral("Extra"), TFieldType::ftLargeint);
  src->open();
  appendFile(*src, QStringLiteral("x.zip"), 1, QStringLiteral("d"), QStringLiteral("dir/x"));
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("FileName"), TFieldType::ftString, 5);
  t.open();
  TField* before = t.findField(QStringLiteral("FileName"));
  EXPECT_EQ(before->size(), 5);
  CountingLink link;
  t.addDataLink(&link);
  EXPECT_EQ(t.importRows(src.get(), 0, ImportReplace), 1);
  EXPECT_EQ(t.fieldCount(), 35);
  EXPECT_EQ(f(t, "FileName")->size(), 120);  // a new field object
  EXPECT_EQ(f(t, "FileName")->asString(), QStringLiteral("x.zip"));
  EXPECT_EQ(f(t, "VRKDir")->asString(), QStringLiteral("dir/x"));
  EXPECT_EQ(link.layout, 1);
  EXPECT_EQ(link.total(), 1);  // suspended during the import, one redraw after
  t.removeDataLink(&link);
}

TEST(MemTableImport, ClosedSourceIsOpenedAndClosedAgain) {
  // A closed in-memory table has no rows: it opens empty.
  auto src = filesShapedTable(QStringLiteral("src"));
  auto t = filesShapedTable();
  EXPECT_EQ(t->importRows(src.get(), 0, ImportReplace), 0);
  EXPECT_FALSE(src->active());
  EXPECT_TRUE(t->active());
}

TEST(MemTableImport, TextsAreCutToTheDestinationSize) {
  auto src = sourceWith({QString(200, QLatin1Char('n'))});
  auto t = filesShapedTable();
  t->open();
  EXPECT_EQ(t->importRows(src.get(), 0, ImportAppend), 1);
  EXPECT_EQ(f(*t, "FileName")->asString().size(), 120);
}

TEST(MemTableImport, RequiredDescriptionArrivingNullLeavesTheRowPending) {
  // The source does not require Description; the destination does.
  auto src = filesShapedTable(QStringLiteral("src"));
  src->open();
  src->fieldByName(QStringLiteral("Description"))->setRequired(false);
  appendFile(*src, QStringLiteral("ok"));
  appendFile(*src, QStringLiteral("bad"), 2, QString());
  appendFile(*src, QStringLiteral("never"));
  auto t = filesShapedTable();
  t->open();
  CountingLink link;
  t->addDataLink(&link);
  EXPECT_EQ(errorOf([&] { t->importRows(src.get(), 0, ImportAppend); }),
            QStringLiteral("Feld 'Description' muß einen Wert haben"));
  EXPECT_EQ(t->recordCount(), 1);  // the rows posted so far stay
  EXPECT_EQ(t->state(), TDataSetState::dsInsert);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("bad"));
  EXPECT_EQ(link.layout, 1);  // views resumed
  EXPECT_FALSE(t->controlsDisabled());
  EXPECT_FALSE(src->controlsDisabled());
  t->cancel();  // the table is usable
  EXPECT_EQ(fileNames(*t), (QStringList{"ok"}));
  t->removeDataLink(&link);
}

TEST(MemTableImport, ARowInterruptedBeforeAnyValueIsDropped) {
  auto src = sourceWith({"a", "b"});
  auto t = filesShapedTable();
  t->open();
  // FileName is read-only in the destination: the first copy of each row
  // fails before anything was stored.
  f(*t, "FileName")->setReadOnly(true);
  EXPECT_EQ(errorOf([&] { t->importRows(src.get(), 0, ImportAppend); }),
            QStringLiteral("Feld 'FileName' kann nicht verändert werden"));
  EXPECT_EQ(t->recordCount(), 0);
  EXPECT_EQ(t->state(), TDataSetState::dsBrowse);
}

TEST(MemTableImport, ARowInterruptedAfterSomeValuesIsStoredWithThem) {
  TMemoryTable src(QStringLiteral("src"));
  src.createField(QStringLiteral("Name"), TFieldType::ftString, 10);
  src.createField(QStringLiteral("Group"), TFieldType::ftInteger);
  src.open();
  for (auto [name, group] : {std::pair{"a", 1}, std::pair{"b", 70000}, std::pair{"c", 3}}) {
    src.append();
    src.fieldByName(QStringLiteral("Name"))->setValue(QString::fromLatin1(name));
    src.fieldByName(QStringLiteral("Group"))->setValue(group);
    src.post();
  }
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("Name"), TFieldType::ftString, 10);
  t.createField(QStringLiteral("Group"), TFieldType::ftSmallint);
  t.open();
  EXPECT_EQ(errorOf([&] { t.importRows(&src, 0, ImportAppend); }),
            QStringLiteral(
                "70000 ist kein gültiger Wert für Feld 'Group'. Der erlaubte Bereich ist -32768 bis 32767"));
  EXPECT_EQ(t.state(), TDataSetState::dsBrowse);
  ASSERT_EQ(t.recordCount(), 2);
  EXPECT_EQ(t.recNo(), 1);
  t.last();
  EXPECT_EQ(t.fieldByName(QStringLiteral("Name"))->asString(), QStringLiteral("b"));
  EXPECT_TRUE(t.fieldByName(QStringLiteral("Group"))->isNull());
  EXPECT_EQ(src.fieldByName(QStringLiteral("Name"))->asString(), QStringLiteral("b"));  // not restored
}

TEST(MemTableImport, CopyRowByNameSkipsUnknownFieldsAndNeedsEditing) {
  auto src = sourceWith({"a"});
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("filename"), TFieldType::ftString, 10);
  t.createField(QStringLiteral("Description"), TFieldType::ftMemo);
  t.createField(QStringLiteral("Mine"), TFieldType::ftInteger);
  t.open();
  EXPECT_EQ(errorOf([&] { copyRowByName(*src, t); }),
            QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));
  t.append();
  t.fieldByName(QStringLiteral("Mine"))->setValue(5);
  copyRowByName(*src, t);
  t.post();
  EXPECT_EQ(t.fieldByName(QStringLiteral("FileName"))->asString(), QStringLiteral("a"));
  EXPECT_EQ(t.fieldByName(QStringLiteral("Description"))->asString(), QStringLiteral("An entry."));
  EXPECT_EQ(t.fieldByName(QStringLiteral("Mine"))->asInteger(), 5);
}

// --- The catalogue store as source --------------------------------------------------------

TEST(MemTableImportFromStore, ReplaceOnAClosedTableOpensAndClosesIt) {
  CatalogueFixture fx;
  test::Row r = filesRow(QStringLiteral("b.zip"), 3, QStringLiteral("Bee"));
  r[QStringLiteral("D50")] = true;
  r[QStringLiteral("Created")] = QDate(1999, 5, 6);
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 2, QStringLiteral("Ay")), r});
  Store s(fx);
  TMemoryTable t(QStringLiteral("mtFiles"));
  ASSERT_FALSE(s.files.active());
  EXPECT_EQ(t.importRows(&s.files, 0, ImportReplace), 2);
  EXPECT_FALSE(s.files.active());
  EXPECT_EQ(t.fieldCount(), 34);
  EXPECT_EQ(fileNames(t), (QStringList{"a.zip", "b.zip"}));
  t.last();
  EXPECT_EQ(f(t, "Description")->asString(), QStringLiteral("Bee"));
  EXPECT_EQ(f(t, "D50")->value(), QVariant(true));
  EXPECT_EQ(f(t, "Created")->value(), QVariant(QDate(1999, 5, 6)));
  EXPECT_EQ(f(t, "FileCatID")->asInteger(), 3);
  EXPECT_TRUE(f(t, "FileName")->size() == 120 && f(t, "Description")->required());
}

TEST(MemTableImportFromStore, OpenSourceKeepsItsPositionRulesAndStaysOpen) {
  CatalogueFixture fx;
  fx.addGeneratedFiles(50);
  Store s(fx);
  s.files.open();
  s.files.next();
  s.files.next();
  TMemoryTable t(QStringLiteral("mtFiles"));
  EXPECT_EQ(t.importRows(&s.files, 1, ImportReplace), 1);
  EXPECT_EQ(f(t, "FileName")->asString(), QStringLiteral("Entry2.zip"));
  EXPECT_EQ(f(s.files, "FileName")->asString(), QStringLiteral("Entry2.zip"));
  EXPECT_EQ(t.importRows(&s.files, 0, ImportAppend), 50);
  EXPECT_TRUE(s.files.active());
  EXPECT_TRUE(s.files.eof());
  EXPECT_EQ(t.recordCount(), 51);
}

TEST(MemTableImportFromStore, NullDescriptionInTheCatalogueStopsTheImport) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 1),
               filesRow(QStringLiteral("c.zip"), 1)});
  // A catalogue whose column is not declared NOT NULL can hold a null.
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET Description = '' WHERE FileName = 'b.zip'"));
  Store s(fx);
  auto t = filesShapedTable();
  t->open();
  const QString err = errorOf([&] { t->importRows(&s.files, 0, ImportAppend); });
  EXPECT_EQ(err, QStringLiteral("Feld 'Description' muß einen Wert haben"));
  EXPECT_EQ(t->recordCount(), 1);
  EXPECT_EQ(t->state(), TDataSetState::dsInsert);
  EXPECT_FALSE(s.files.active());                // opened by the import, closed again
  EXPECT_EQ(errorOf([&] { t->first(); }), err);  // the pending row still fails
}

TEST(MemTableImportFromStore, StoredFormAndConvertedValuesGiveTheSameRows) {
  // The import takes values as the store holds them where it can; every odd
  // stored form must end up exactly as the value-by-value copy has it.
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("plain.zip"), 1)});
  const QStringList updates = {
      "FileName = 'Größe.zip', VRKDir = '日本', FileTitle = 'éééééééééééééééééééééééééééé', "
      "Condition = printf('%.300c', 'x'), SourceAvail = 'ÄÖÜäöß', ShareProt = '日本語日本'",
      "Count_TOT = 'abc', FileSize = ' 12', FileCatID = 2.7, Count_LW = 5000000000",
      "Created = '2001-13-45', Changed = '2001-02-03T10:00', FileVersion = ''",
      "Description = CAST(X'48C3' AS BLOB), D20 = 'yes', D10 = '1', D30 = 2",
      "Created = '1999-05-06', ExtDescFile = 'ab', FileGrpID = -32768, PlatformID = 12.0",
  };
  for (int i = 0; i < updates.size(); ++i) {
    fx.addFiles({filesRow(QStringLiteral("row%1.zip").arg(i), 1)});
    fx.exec(QStringLiteral("FILES.DB"),
            QStringLiteral("UPDATE FILES SET %1 WHERE FileName = 'row%2.zip'").arg(updates[i]).arg(i));
  }
  Store s(fx);
  auto fast = filesShapedTable(QStringLiteral("fast"));
  fast->open();
  EXPECT_EQ(fast->importRows(&s.files, 0, ImportAppend), 6);

  auto slow = filesShapedTable(QStringLiteral("slow"));
  slow->open();
  s.files.open();
  for (s.files.first(); !s.files.eof(); s.files.next()) {
    slow->append();
    copyRowByName(s.files, *slow);
    slow->post();
  }
  ASSERT_EQ(slow->recordCount(), 6);
  for (int r = 0; r < 6; ++r) {
    fast->setRecNo(r + 1);
    slow->setRecNo(r + 1);
    for (int c = 0; c < fast->fieldCount(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + " " + fast->field(c)->fieldName().toStdString());
      EXPECT_EQ(fast->field(c)->value(), slow->field(c)->value());
    }
  }
  fast->setRecNo(2);
  EXPECT_EQ(f(*fast, "FileName")->asString(), QStringLiteral("Größe.zip"));
  EXPECT_EQ(f(*fast, "ShareProt")->asString(), QStringLiteral("日"));  // cut to the slot
  EXPECT_EQ(f(*fast, "SourceAvail")->asString(), QStringLiteral("ÄÖÜäö"));
}

TEST(MemTableImportFromStore, AValueTheFieldCannotTakeStopsTheImportWithItsMessage) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1), filesRow(QStringLiteral("b.zip"), 1)});
  fx.exec(QStringLiteral("FILES.DB"),
          QStringLiteral("UPDATE FILES SET FileGrpID = 70000 WHERE FileName = 'b.zip'"));
  Store s(fx);
  TMemoryTable t(QStringLiteral("mtFiles"));
  // b.zip failed at FileGrpID, before the required FileCatID: the final move
  // cannot store it either, and its error is the one the caller gets.
  EXPECT_EQ(errorOf([&] { t.importRows(&s.files, 0, ImportReplace); }),
            QStringLiteral("Feld 'FileCatID' muß einen Wert haben"));
  EXPECT_EQ(t.state(), TDataSetState::dsInsert);
  EXPECT_EQ(f(t, "FileName")->asString(), QStringLiteral("b.zip"));
  EXPECT_FALSE(s.files.active());
  t.cancel();
  EXPECT_EQ(fileNames(t), (QStringList{"a.zip"}));
}

TEST(MemTableDataModule, ResultTableHasTheFilesShapeAndItsDataSource) {
  CatalogueFixture fx;
  fx.addFiles({filesRow(QStringLiteral("a.zip"), 1)});
  test::ErrorCapture errors;
  TVRKData data(fx.programDir());
  ASSERT_TRUE(errors.messages().isEmpty());
  EXPECT_EQ(data.mtFiles.name(), QStringLiteral("mtFiles"));
  EXPECT_EQ(data.DataSource1.objectName(), QStringLiteral("DataSource1"));
  EXPECT_EQ(data.DataSource1.dataSet(), &data.mtFiles);
  EXPECT_FALSE(data.mtFiles.active());
  EXPECT_TRUE(data.mtFiles.fieldDefs().empty());
  data.tbFiles.updateFieldDefs();
  const TFieldDefs& defs = data.tbFiles.fieldDefs();
  ASSERT_EQ(data.mtFiles.fieldCount(), static_cast<int>(defs.size()));
  for (int i = 0; i < data.mtFiles.fieldCount(); ++i) {
    const TField* fld = data.mtFiles.field(i);
    SCOPED_TRACE(defs[static_cast<std::size_t>(i)].name.toStdString());
    EXPECT_EQ(fld->fieldName(), defs[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(fld->dataType(), defs[static_cast<std::size_t>(i)].dataType);
    EXPECT_EQ(fld->required(), defs[static_cast<std::size_t>(i)].required);
    if (isTextType(fld->dataType())) {
      EXPECT_EQ(fld->size(), defs[static_cast<std::size_t>(i)].size);
    }
  }
  data.mtFiles.open();
  EXPECT_EQ(data.mtFiles.importRows(&data.tbFiles, 0, ImportReplace), 1);
  EXPECT_EQ(f(data.mtFiles, "VRKDir")->asString(), QStringLiteral("d50/comp"));
  EXPECT_EQ(f(data.mtFiles, "FileName")->asString(), QStringLiteral("a.zip"));
}

TEST(MemTableImportFromStore, OnlyRowsPassingTheSourcesFilterAreCopied) {
  CatalogueFixture fx;
  fx.addGeneratedFiles(30);  // categories 1..7 in turn
  Store s(fx);
  s.files.setFilter(QStringLiteral("FileCatID=3"));
  s.files.setFiltered(true);
  TMemoryTable t(QStringLiteral("mtFiles"));
  EXPECT_EQ(t.importRows(&s.files, 0, ImportReplace), 4);  // rows 2, 9, 16, 23
  EXPECT_EQ(fileNames(t), (QStringList{"Entry2.zip", "Entry9.zip", "Entry16.zip", "Entry23.zip"}));
  EXPECT_TRUE(s.files.filtered());  // left as it is
  EXPECT_FALSE(s.files.active());
}

// Stored forms the import used to copy differently from the field's own
// value: a date whose year is not four digits became the year -1, and bytes
// that are not UTF-8 were kept as they lay, so a cut text had more
// characters than the field's text cut to the same size. Each row is copied
// as the value-by-value copy has it.
TEST(MemTableImportFromStore, MalformedDatesAndTextsArriveAsTheFieldReadsThem) {
  CatalogueFixture fx;
  const QStringList updates = {
      "Created = '19a9-05-17', Changed = '-999-05-17'",
      "Created = '+999-05-17', Changed = '1999-0a-17'",
      "ShareProt = CAST(X'80818283848586' AS TEXT), SourceAvail = CAST(X'41C328' AS TEXT)",
      "FileTitle = CAST(X'C0AF' AS TEXT), FileVersion = CAST(X'EDA080' AS TEXT)",
  };
  for (int i = 0; i < updates.size(); ++i) {
    fx.addFiles({filesRow(QStringLiteral("row%1.zip").arg(i), 1)});
    fx.exec(QStringLiteral("FILES.DB"),
            QStringLiteral("UPDATE FILES SET %1 WHERE FileName = 'row%2.zip'").arg(updates[i]).arg(i));
  }
  Store s(fx);
  auto fast = filesShapedTable(QStringLiteral("fast"));
  fast->open();
  ASSERT_EQ(fast->importRows(&s.files, 0, ImportAppend), 4);
  auto slow = filesShapedTable(QStringLiteral("slow"));
  slow->open();
  s.files.open();
  for (s.files.first(); !s.files.eof(); s.files.next()) {
    slow->append();
    copyRowByName(s.files, *slow);
    slow->post();
  }
  for (int r = 0; r < 4; ++r) {
    fast->setRecNo(r + 1);
    slow->setRecNo(r + 1);
    for (int c = 0; c < fast->fieldCount(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + " " + fast->field(c)->fieldName().toStdString());
      EXPECT_EQ(fast->field(c)->value(), slow->field(c)->value());
    }
  }
  fast->first();
  EXPECT_TRUE(f(*fast, "Created")->isNull());
  EXPECT_TRUE(f(*fast, "Changed")->isNull());
  fast->setRecNo(3);
  // Bytes that are not UTF-8 read as replacement characters, whose UTF-8
  // takes three bytes each: one of them fits the field's five bytes.
  EXPECT_EQ(f(*fast, "ShareProt")->asString(), QStringLiteral("\ufffd"));
}

// The search imports one row at a time, and the import keeps the field pairs
// of the last one: they must be found again whenever either table's fields
// change, also for a new source standing where the old one stood.
TEST(MemTableImport, FieldPairsAreFoundAgainWhenEitherTablesFieldsChange) {
  // A source of the files shape with its fields in the reverse order.
  const auto reversedSource = [](const QString& name, int cat) {
    auto t = std::make_unique<TMemoryTable>(QStringLiteral("reversed"));
    const auto& columns = schema::filesColumns();
    for (auto c = columns.rbegin(); c != columns.rend(); ++c) {
      t->createField(QString::fromLatin1(c->name), c->type, c->size, c->required);
    }
    t->open();
    appendFile(*t, name, cat);
    t->first();
    return t;
  };
  auto dest = filesShapedTable(QStringLiteral("dest"));
  dest->open();
  for (int round = 0; round < 3; ++round) {
    {
      auto plain = sourceWith({QStringLiteral("plain%1").arg(round)});
      EXPECT_EQ(dest->importRows(plain.get(), 1, ImportAppend), 1);
    }
    auto reversed = reversedSource(QStringLiteral("reversed%1").arg(round), 7);
    EXPECT_EQ(dest->importRows(reversed.get(), 1, ImportAppend), 1);
  }
  EXPECT_EQ(fileNames(*dest),
            QStringList({"plain0", "reversed0", "plain1", "reversed1", "plain2", "reversed2"}));
  dest->setRecNo(2);
  EXPECT_EQ(f(*dest, "FileCatID")->asInteger(), 7);
  EXPECT_EQ(f(*dest, "FileSize")->asInteger(), 1007);

  // The same source again after the destination took another structure, and
  // after the source's own fields were made anew.
  auto source = reversedSource(QStringLiteral("again"), 5);
  EXPECT_EQ(dest->importRows(source.get(), 1, ImportAppend), 1);
  dest->close();
  dest->takeStructure(source.get());
  dest->open();
  EXPECT_EQ(dest->importRows(source.get(), 1, ImportAppend), 1);
  EXPECT_EQ(dest->field(0)->fieldName(), QStringLiteral("K10"));
  source->close();
  source->takeStructure(sourceWith({}).get());
  source->open();
  appendFile(*source, QStringLiteral("remade"), 9);
  source->first();
  EXPECT_EQ(dest->importRows(source.get(), 1, ImportAppend), 1);
  EXPECT_EQ(fileNames(*dest), QStringList({"again", "remade"}));
  dest->last();
  EXPECT_EQ(f(*dest, "FileCatID")->asInteger(), 9);
}
