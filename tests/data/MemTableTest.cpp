#include "ErrorCapture.h"
#include "MemTableFixture.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <gtest/gtest.h>

using namespace vrk;
using test::appendFile;
using test::CountingLink;
using test::fileNames;
using test::filesShapedTable;

namespace {

QString errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EDatabaseError& e) {
    return e.message();
  } catch (const Exception& e) {
    return QStringLiteral("other: ") + e.message();
  }
  return QString();
}

TField* f(TDataSet& t, const char* name) { return t.fieldByName(QString::fromLatin1(name)); }

}  // namespace

// --- Structure ----------------------------------------------------------------

TEST(MemTableStructure, FilesShapeSlotsFollowTheKindWidths) {
  auto t = filesShapedTable();
  EXPECT_TRUE(t->fieldDefs().empty());  // designed with fields only
  t->open();
  const auto& off = t->slotOffsets();
  ASSERT_EQ(off.size(), 34u);
  EXPECT_EQ(off[0], 0);                   // FileName: 1 + 121
  EXPECT_EQ(off[1], 122);                 // VRKDir: 1 + 18
  EXPECT_EQ(off[2], 141);                 // Free: 1 + 2
  EXPECT_EQ(off[3], 144);                 // FileGrpID: 1 + 2
  EXPECT_EQ(off[4], 147);                 // FileCatID: 1 + 4
  EXPECT_EQ(off[16], off[17]);            // Description: a text of its own
  EXPECT_EQ(off[18] - off[17], 1 + 21);   // FileVersion
  EXPECT_EQ(off[24] - off[23], 1 + 256);  // Condition
  EXPECT_EQ(t->recordSize(), 555);
  EXPECT_EQ(t->fieldDefs().size(), 34u);  // rebuilt from the fields at open
}

TEST(MemTableStructure, UnstorableKindsAreRefusedAtOpenAndLeftOutByTakeStructure) {
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("A"), TFieldType::ftInteger);
  t.createField(QStringLiteral("Bad"), TFieldType::ftCursor);
  EXPECT_EQ(errorOf([&] { t.open(); }), QStringLiteral("Typ für Feld 'Bad' ist unbekannt"));
  EXPECT_FALSE(t.active());

  TMemoryTable src(QStringLiteral("src"));
  TFieldDef adt{QStringLiteral("Addr"),
                TFieldType::ftADT,
                0,
                false,
                {{QStringLiteral("Street"), TFieldType::ftString, 30, false, {}},
                 {QStringLiteral("Ref"), TFieldType::ftReference, 0, false, {}},
                 {QStringLiteral("Zip"), TFieldType::ftInteger, 0, false, {}}}};
  src.setFieldDefs({{QStringLiteral("Id"), TFieldType::ftInteger, 0, true, {}},
                    {QStringLiteral("Arr"), TFieldType::ftArray, 0, false, {}},
                    adt,
                    {QStringLiteral("Notes"), TFieldType::ftMemo, 1, false, {}},
                    {QStringLiteral("Ds"), TFieldType::ftDataSet, 0, false, {}}});
  TMemoryTable dst(QStringLiteral("dst"));
  dst.takeStructure(&src);
  QStringList names;
  for (const auto& d : dst.fieldDefs()) names << d.name;
  EXPECT_EQ(names, (QStringList{"Id", "Addr", "Notes"}));
  ASSERT_EQ(dst.fieldDefs()[1].childDefs.size(), 2u);
  EXPECT_EQ(dst.fieldDefs()[1].childDefs[1].name, QStringLiteral("Zip"));
  EXPECT_TRUE(dst.fieldByName(QStringLiteral("Id"))->required());
  EXPECT_NE(dst.findField(QStringLiteral("Addr.Zip")), nullptr);
  dst.open();
  dst.append();
  dst.fieldByName(QStringLiteral("Id"))->setValue(7);
  dst.fieldByName(QStringLiteral("Addr.Zip"))->setValue(12345);
  dst.post();
  EXPECT_EQ(dst.fieldByName(QStringLiteral("Addr.Zip"))->asInteger(), 12345);

  EXPECT_EQ(errorOf([&] { dst.takeStructure(&src); }),
            QStringLiteral("Operation bei geöffneter Datenmenge nicht ausführbar"));
  EXPECT_EQ(dst.recordCount(), 1);  // still usable
}

TEST(MemTableStructure, FieldsMadeFromOwnDefinitionsLastUntilClose) {
  TMemoryTable t(QStringLiteral("mt"));
  t.setFieldDefs({{QStringLiteral("N"), TFieldType::ftInteger, 0, false, {}}});
  t.open();
  EXPECT_EQ(t.fieldCount(), 1);
  t.close();
  EXPECT_EQ(t.fieldCount(), 0);
  t.open();
  EXPECT_EQ(t.fieldCount(), 1);
}

TEST(MemTableStructure, RowTooLargeForSixteenBitOffsetsIsRefused) {
  TMemoryTable t(QStringLiteral("mt"));
  for (int i = 0; i < 300; ++i) t.createField(QStringLiteral("S%1").arg(i), TFieldType::ftString, 255);
  EXPECT_TRUE(errorOf([&] { t.open(); }).startsWith(QStringLiteral("Datensatz zu groß")));
  EXPECT_FALSE(t.active());
}

// The data block of a row at 65,534, 65,535 and 65,536 bytes: 254 text
// fields of 255 characters (1 + 256 bytes each) and one more text field.
TEST(MemTableStructure, LargestRowIs65535Bytes) {
  for (const int lastSize : {254, 255, 256}) {
    TMemoryTable t(QStringLiteral("mt"));
    for (int i = 0; i < 254; ++i) t.createField(QStringLiteral("S%1").arg(i), TFieldType::ftString, 255);
    t.createField(QStringLiteral("Last"), TFieldType::ftString, lastSize);
    const int bytes = 254 * 257 + 1 + lastSize + 1;
    const QString error = errorOf([&] { t.open(); });
    if (bytes <= 65535) {
      EXPECT_EQ(error, QString()) << bytes << " bytes";
      EXPECT_EQ(t.recordSize(), bytes);
      t.append();
      t.fieldByName(QStringLiteral("Last"))->setValue(QString(lastSize, QLatin1Char('z')));
      t.post();
      EXPECT_EQ(t.fieldByName(QStringLiteral("Last"))->asString(), QString(lastSize, QLatin1Char('z')));
    } else {
      EXPECT_TRUE(error.startsWith(QStringLiteral("Datensatz zu groß")))
          << bytes << " bytes: " << error.toStdString();
      EXPECT_FALSE(t.active());
    }
  }
}

// --- Values ---------------------------------------------------------------------

TEST(MemTableValues, EveryInlineKindRoundTrips) {
  struct Case {
    TFieldType type;
    int size;
    QVariant value;
    QVariant expected;
  };
  const std::vector<Case> cases = {
      {TFieldType::ftString, 10, QStringLiteral("Größe"), QStringLiteral("Größe")},
      {TFieldType::ftString, 4, QStringLiteral("abcdef"), QStringLiteral("abcd")},
      {TFieldType::ftString, 4, QStringLiteral("abc"), QStringLiteral("abc")},
      {TFieldType::ftString, 4, QStringLiteral("abcd"), QStringLiteral("abcd")},
      {TFieldType::ftString, 4, QStringLiteral("abcde"), QStringLiteral("abcd")},
      {TFieldType::ftString, 10, QStringLiteral("日本語テキスト"),
       QStringLiteral("日本語")},  // UTF-8, cut to fit
      {TFieldType::ftFixedChar, 3, QStringLiteral("xyz"), QStringLiteral("xyz")},
      {TFieldType::ftWideString, 3, QStringLiteral("日本語テ"), QStringLiteral("日本語")},
      {TFieldType::ftSmallint, 0, -32768, -32768},
      {TFieldType::ftWord, 0, 65535, 65535},
      {TFieldType::ftBoolean, 0, true, true},
      {TFieldType::ftBoolean, 0, QStringLiteral("Falsch"), false},
      {TFieldType::ftInteger, 0, QStringLiteral(" 42 "), 42},
      {TFieldType::ftAutoInc, 0, 9, 1},  // the post numbers it
      {TFieldType::ftDate, 0, QDate(1999, 12, 31), QDate(1999, 12, 31)},
      {TFieldType::ftDate, 0, QStringLiteral("2001-02-03"), QDate(2001, 2, 3)},
      {TFieldType::ftTime, 0, QTime(13, 14, 15, 16), QTime(13, 14, 15, 16)},
      {TFieldType::ftDateTime, 0, QDateTime(QDate(1899, 12, 30), QTime(1, 2, 3)),
       QDateTime(QDate(1899, 12, 30), QTime(1, 2, 3))},
      {TFieldType::ftFloat, 0, 2.5, 2.5},
      {TFieldType::ftCurrency, 0, -0.25, -0.25},
      {TFieldType::ftLargeint, 0, qlonglong(1) << 40, qlonglong(1) << 40},
      {TFieldType::ftBCD, 0, 123.125, 123.125},
      {TFieldType::ftBytes, 3, QByteArray("ab"), QByteArray("ab\0", 3)},
      {TFieldType::ftVarBytes, 4, QByteArray("abcdef"), QByteArray("abcd")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::number(int(c.type)).toStdString() + " " + c.value.toString().toStdString());
    TMemoryTable t(QStringLiteral("mt"));
    t.createField(QStringLiteral("V"), c.type, c.size);
    t.createField(QStringLiteral("Next"), TFieldType::ftInteger);  // catches overruns
    t.open();
    t.append();
    t.fieldByName(QStringLiteral("Next"))->setValue(-1);
    t.fieldByName(QStringLiteral("V"))->setValue(c.value);
    t.post();
    EXPECT_EQ(t.fieldByName(QStringLiteral("V"))->value(), c.expected);
    EXPECT_EQ(t.fieldByName(QStringLiteral("Next"))->value(), QVariant(-1));
    // Null clears it again.
    t.edit();
    t.fieldByName(QStringLiteral("V"))->clear();
    t.post();
    EXPECT_TRUE(t.fieldByName(QStringLiteral("V"))->value().isNull());
    EXPECT_EQ(t.fieldByName(QStringLiteral("Next"))->value(), QVariant(-1));
  }
}

// A posted row reads back exactly what its working copy showed, field by
// field, in the current row and in the grid's reading, also after an edit of
// one text between others: every kind of the files shape, flags in all three
// states, texts in the single-byte and the UTF-8 form, lengths that take
// one, two and three bytes to store, empty texts among filled ones.
TEST(MemTableValues, PostedRowsReadBackWhatTheWorkingCopyShowed) {
  auto t = filesShapedTable();
  t->open();
  const QString longMemo = QString(20000, QChar(0x00E4)) + QStringLiteral("日本");
  const std::vector<std::vector<std::pair<const char*, QVariant>>> rows = {
      {{"FileName", QStringLiteral("日本語").repeated(20)},
       {"VRKDir", QString()},
       {"Condition", QString(200, QChar(0x00E9))},
       {"FileTitle", QStringLiteral("x")},
       {"D10", true},
       {"D20", false},
       {"K10", QVariant()},
       {"FileCatID", -7},
       {"FileGrpID", 32767},
       {"Created", QDate(2001, 2, 3)},
       {"Description", longMemo},
       {"FileSize", 1}},
      {{"FileName", QStringLiteral("b.zip")},
       {"FileVersion", QString(20, QLatin1Char('v'))},
       {"Description", QStringLiteral("d")},
       {"FileCatID", 0},
       {"FileSize", 2},
       {"WithSource", true}},
  };
  std::vector<std::vector<QVariant>> shown;
  for (const auto& row : rows) {
    t->append();
    for (const auto& [name, value] : row) f(*t, name)->setValue(value);
    shown.emplace_back();
    for (int i = 0; i < t->fieldCount(); ++i) shown.back().push_back(t->field(i)->value());
    t->post();
  }
  auto check = [&](const char* when) {
    for (int r = 0; r < t->recordCount(); ++r) {
      t->setRecNo(r + 1);
      for (int i = 0; i < t->fieldCount(); ++i) {
        SCOPED_TRACE(std::string(when) + " row " + std::to_string(r) + " " +
                     t->field(i)->fieldName().toStdString());
        EXPECT_EQ(t->field(i)->value(), shown[r][i]);
        EXPECT_EQ(t->rowFieldValue(r, *t->field(i)), shown[r][i]);
      }
    }
  };
  check("posted");
  t->setRecNo(1);
  t->edit();
  f(*t, "VRKDir")->setValue(QStringLiteral("new/dir"));
  shown[0][1] = f(*t, "VRKDir")->value();
  t->post();
  check("edited");
}

TEST(MemTableValues, TextAndMemoNullRules) {
  auto t = filesShapedTable();
  t->open();
  t->append();
  f(*t, "FileName")->setValue(QString());  // an empty text
  EXPECT_TRUE(f(*t, "FileName")->value().isNull());
  EXPECT_TRUE(f(*t, "FileName")->isNull());
  // A memo reads as its (empty) text, never as null, and counts as null.
  const QVariant memo = f(*t, "Description")->value();
  EXPECT_TRUE(memo.isValid());
  EXPECT_EQ(memo.toString(), QString());
  EXPECT_TRUE(f(*t, "Description")->isNull());
  // Memos hold any text, in UTF-8.
  const QString wide = QStringLiteral("Größe ") + QString::fromUcs4(U"\U0001F600") + QChar(0xD800);
  f(*t, "Description")->setValue(wide);
  EXPECT_EQ(f(*t, "Description")->value().toString(),
            QStringLiteral("Größe ") + QString::fromUcs4(U"\U0001F600") + QChar(0xFFFD));
  f(*t, "Description")->clear();
  EXPECT_EQ(f(*t, "Description")->value().toString(), QString());
  t->cancel();
}

TEST(MemTableValues, WritesAreRefusedOutsideEditingAndOnReadOnlyFields) {
  auto t = filesShapedTable();
  t->open();
  appendFile(*t, QStringLiteral("a.zip"));
  EXPECT_EQ(errorOf([&] { f(*t, "FileName")->setValue(QStringLiteral("x")); }),
            QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));
  f(*t, "VRKDir")->setReadOnly(true);
  t->edit();
  EXPECT_EQ(errorOf([&] { f(*t, "VRKDir")->setValue(QStringLiteral("x")); }),
            QStringLiteral("Feld 'VRKDir' kann nicht verändert werden"));
  EXPECT_EQ(errorOf([&] { f(*t, "FileGrpID")->setValue(70000); }).left(5), QStringLiteral("70000"));
  EXPECT_EQ(errorOf([&] { f(*t, "FileCatID")->setValue(QStringLiteral("abc")); }),
            QStringLiteral("other: 'abc' ist kein gültiger Integerwert"));
  t->cancel();
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("a.zip"));
}

// --- Cursor ------------------------------------------------------------------------

TEST(MemTableCursor, RecordNumbersOfEmptyAndBeforeFirstTables) {
  auto t = filesShapedTable();
  t->open();
  EXPECT_EQ(t->recNo(), 0);
  EXPECT_TRUE(t->eof());
  EXPECT_TRUE(t->bof());
  appendFile(*t, QStringLiteral("a"));
  appendFile(*t, QStringLiteral("b"));
  appendFile(*t, QStringLiteral("c"));
  EXPECT_EQ(t->recNo(), 3);
  t->first();
  t->next();
  t->prior();
  t->prior();  // steps before the first row
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->currentIndex(), -1);
  EXPECT_EQ(t->recNo(), 1);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("a"));
  t->next();  // from the row the fields show
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("b"));
  t->setRecNo(2);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("b"));
  t->setRecNo(0);
  t->setRecNo(4);
  EXPECT_EQ(t->recNo(), 2);
}

// The record number while a row is being added: an appended row stands
// after the last, an inserted one at its place.
TEST(MemTableCursor, RecordNumberInInsertState) {
  auto t = filesShapedTable();
  t->open();
  t->append();
  EXPECT_EQ(t->recNo(), 1) << "appending to an empty table";
  t->cancel();
  EXPECT_EQ(t->recNo(), 0);
  for (const char* n : {"a", "b", "c"}) appendFile(*t, QString::fromLatin1(n));
  t->setRecNo(2);
  t->append();
  EXPECT_EQ(t->recNo(), t->recordCount() + 1);
  t->cancel();
  EXPECT_EQ(t->recNo(), 2) << "back on the row it came from";
  t->setRecNo(3);
  t->insert();
  EXPECT_EQ(t->recNo(), 3) << "an inserted row takes the current row's place";
  t->cancel();
  t->first();
  t->insert();
  EXPECT_EQ(t->recNo(), 1);
  t->cancel();
}

// Before the first row the record number is 1 when the table has rows, 0
// when it has none; a closed table has no record number.
TEST(MemTableCursor, RecordNumberBeforeTheFirstRow) {
  auto t = filesShapedTable();
  EXPECT_EQ(t->recNo(), 0) << "closed";
  t->open();
  EXPECT_EQ(t->recNo(), 0) << "open and empty";
  for (int i = 1; i <= 3; ++i) appendFile(*t, QStringLiteral("f%1").arg(i), i);
  // A filter that hides every row: walking back from the end leaves the
  // cursor before the first row, with no row shown.
  t->setOnFilterRecord([](TDataSet*, bool& accept) { accept = false; });
  t->setFiltered(true);
  t->last();
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->currentIndex(), -1);
  EXPECT_EQ(t->recNo(), 1);
  t->setFiltered(false);
  t->clearRows();
  EXPECT_EQ(t->currentIndex(), -1);
  EXPECT_EQ(t->recNo(), 0) << "no rows: before the first row is 0";
}

TEST(MemTableCursor, WalkBothWays) {
  auto t = filesShapedTable();
  t->open();
  for (const char* n : {"a", "b", "c"}) appendFile(*t, QString::fromLatin1(n));
  EXPECT_EQ(fileNames(*t), (QStringList{"a", "b", "c"}));
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("c"));  // stays on the last row
  t->next();
  EXPECT_EQ(t->recNo(), 3);
  QStringList back;
  t->last();
  while (!t->bof()) {
    back << f(*t, "FileName")->asString();
    t->prior();
  }
  EXPECT_EQ(back, (QStringList{"c", "b", "a"}));
  t->refresh();
  t->clearRows();
  EXPECT_EQ(errorOf([&] { t->refresh(); }), QStringLiteral("No data found"));
}

TEST(MemTableCursor, FilterHidesRowsAndAFailingHandlerLetsTheRowPass) {
  auto t = filesShapedTable();
  t->open();
  for (int i = 1; i <= 5; ++i) appendFile(*t, QStringLiteral("f%1").arg(i), i);
  t->setOnFilterRecord([](TDataSet* ds, bool& accept) {
    const int cat = ds->fieldByName(QStringLiteral("FileCatID"))->asInteger();
    if (cat == 4) throw EDatabaseError(QStringLiteral("handler failed"));
    accept = cat % 2 == 1;
  });
  test::ErrorCapture errors;
  t->setFiltered(true);
  EXPECT_EQ(fileNames(*t), (QStringList{"f1", "f3", "f4", "f5"}));
  EXPECT_TRUE(errors.messages().contains(QStringLiteral("handler failed")));
  EXPECT_EQ(t->recordCount(), 5);  // the filter does not change the count
  EXPECT_EQ(errorOf([&] {
              t->setOnFilterRecord([](TDataSet* ds, bool&) {
                ds->fieldByName(QStringLiteral("FileName"))->setValue(QStringLiteral("x"));
              });
            }),
            QString());
  EXPECT_TRUE(
      errors.messages().contains(QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus")));
}

// --- Editing --------------------------------------------------------------------------

TEST(MemTableEditing, InsertGoesBeforeTheCurrentRowAndAppendAtTheEnd) {
  auto t = filesShapedTable();
  t->open();
  t->insert();  // empty table: at 0
  f(*t, "FileName")->setValue(QStringLiteral("b"));
  f(*t, "FileCatID")->setValue(1);
  f(*t, "FileSize")->setValue(1);
  f(*t, "Description")->setValue(QStringLiteral("d"));
  t->post();
  appendFile(*t, QStringLiteral("c"));
  t->first();
  t->insert();
  f(*t, "FileName")->setValue(QStringLiteral("a"));
  f(*t, "FileCatID")->setValue(1);
  f(*t, "FileSize")->setValue(1);
  f(*t, "Description")->setValue(QStringLiteral("d"));
  t->post();
  EXPECT_EQ(t->recNo(), 1);
  EXPECT_EQ(fileNames(*t), (QStringList{"a", "b", "c"}));
  // RowIds follow creation, starting just above the lowest 32-bit value.
  EXPECT_EQ(t->row(1).rowId(), INT32_MIN + 1);
  EXPECT_EQ(t->row(2).rowId(), INT32_MIN + 2);
  EXPECT_EQ(t->row(0).rowId(), INT32_MIN + 3);
  EXPECT_EQ(t->lastRowId(), INT32_MIN + 3);
}

TEST(MemTableEditing, RequiredFieldKeepsTheRowPendingAndFocusesItsControl) {
  auto t = filesShapedTable();
  t->open();
  CountingLink link;
  t->addDataLink(&link);
  t->append();
  f(*t, "FileName")->setValue(QStringLiteral("x"));
  f(*t, "FileCatID")->setValue(1);
  f(*t, "FileSize")->setValue(1);
  EXPECT_EQ(errorOf([&] { t->post(); }), QStringLiteral("Feld 'Description' muß einen Wert haben"));
  EXPECT_EQ(t->state(), TDataSetState::dsInsert);
  EXPECT_EQ(link.focused, f(*t, "Description"));
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("x"));  // edits kept
  f(*t, "Description")->setValue(QStringLiteral("now"));
  t->post();
  EXPECT_EQ(t->recordCount(), 1);
  t->removeDataLink(&link);
}

TEST(MemTableEditing, EditCancelAndFinishingPendingEdits) {
  auto t = filesShapedTable();
  t->open();
  appendFile(*t, QStringLiteral("a"));
  appendFile(*t, QStringLiteral("b"));
  t->first();
  t->edit();
  f(*t, "FileName")->setValue(QStringLiteral("changed"));
  t->cancel();
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("a"));
  t->edit();
  f(*t, "FileName")->setValue(QStringLiteral("A"));
  t->next();  // posts the changed row
  EXPECT_EQ(t->state(), TDataSetState::dsBrowse);
  EXPECT_EQ(fileNames(*t), (QStringList{"A", "b"}));
  t->append();  // unchanged new row: dropped by the move
  t->first();
  EXPECT_EQ(t->recordCount(), 2);
  // Edit on an empty table starts an insert.
  t->clearRows();
  t->edit();
  EXPECT_EQ(t->state(), TDataSetState::dsInsert);
  t->cancel();
}

TEST(MemTableEditing, AutoIncFieldsNumberInsertedRows) {
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("Id"), TFieldType::ftAutoInc, 0, true);
  t.createField(QStringLiteral("Name"), TFieldType::ftString, 10);
  t.open();
  for (int i = 0; i < 3; ++i) {
    t.append();
    t.fieldByName(QStringLiteral("Name"))->setValue(QStringLiteral("n"));
    t.post();
  }
  EXPECT_EQ(t.fieldByName(QStringLiteral("Id"))->asInteger(), 3);
  EXPECT_EQ(t.nextAutoInc(), 4);
  t.clearRows();
  EXPECT_EQ(t.nextAutoInc(), 4);  // kept by ClearRows
  t.close();
  t.open();
  EXPECT_EQ(t.nextAutoInc(), 1);
}

TEST(MemTableEditing, DeleteMovesToTheNextRowAndResetsRowIdsWhenEmpty) {
  auto t = filesShapedTable();
  t->open();
  EXPECT_EQ(errorOf([&] { t->deleteRow(); }),
            QStringLiteral("Operation bei leerer Datenmenge nicht ausführbar"));
  for (const char* n : {"a", "b", "c"}) appendFile(*t, QString::fromLatin1(n));
  t->setRecNo(2);
  t->deleteRow();
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("c"));
  t->deleteRow();  // the last row: back to the one before
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("a"));
  EXPECT_EQ(t->lastRowId(), INT32_MIN + 3);
  t->deleteRow();
  EXPECT_EQ(t->lastRowId(), INT32_MIN);
  EXPECT_TRUE(t->eof());
  appendFile(*t, QStringLiteral("new"));
  EXPECT_EQ(t->row(0).rowId(), INT32_MIN + 1);
}

// --- Bookmarks --------------------------------------------------------------------------

TEST(MemTableBookmarks, TakeGoCompareAndValidityAfterDeletes) {
  auto t = filesShapedTable();
  t->open();
  for (const char* n : {"a", "b", "c", "d"}) appendFile(*t, QString::fromLatin1(n));
  t->setRecNo(2);
  const TBookmark b = t->getBookmark();
  t->setRecNo(4);
  const TBookmark d = t->getBookmark();
  EXPECT_EQ(TMemoryTable::compareBookmarks(b, d), -1);
  EXPECT_EQ(TMemoryTable::compareBookmarks(d, b), 1);
  EXPECT_EQ(TMemoryTable::compareBookmarks(std::nullopt, b), -1);
  EXPECT_EQ(TMemoryTable::compareBookmarks(std::nullopt, std::nullopt), 0);

  t->gotoBookmark(b);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("b"));
  t->deleteRow();  // b is gone; c current
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("c"));
  // Still "valid" (not above LastRowId), but going there leaves the cursor.
  EXPECT_TRUE(t->bookmarkValid(b));
  t->gotoBookmark(b);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("c"));
  t->gotoBookmark(d);
  EXPECT_EQ(f(*t, "FileName")->asString(), QStringLiteral("d"));
  EXPECT_FALSE(t->bookmarkValid(TBookmark(INT32_MIN)));
  EXPECT_FALSE(t->bookmarkValid(TBookmark(t->lastRowId() + 1)));
  EXPECT_FALSE(t->bookmarkValid(std::nullopt));
  t->append();
  EXPECT_FALSE(t->getBookmark().has_value());  // a new row has none yet
  t->cancel();
  t->close();
  EXPECT_FALSE(t->bookmarkValid(d));
}

// --- Memo streams ----------------------------------------------------------------------------

TEST(MemTableMemoStream, ReadWriteSeekAndTheOpenModes) {
  auto t = filesShapedTable();
  t->open();
  appendFile(*t, QStringLiteral("a"), 1, QStringLiteral("hello world"));
  TField* desc = f(*t, "Description");

  {
    auto s = t->createBlobStream(desc, TBlobStreamMode::bmRead);
    char buf[5];
    EXPECT_EQ(s->read(buf, 5), 5);
    EXPECT_EQ(QByteArray(buf, 5), QByteArray("hello"));
    EXPECT_EQ(s->seek(-5, TSeekOrigin::soFromEnd), 6);
    EXPECT_EQ(s->readAll(), QByteArray("world"));
    EXPECT_EQ(s->seek(-3, TSeekOrigin::soFromCurrent), 8);
    EXPECT_EQ(s->seek(-100, TSeekOrigin::soFromBeginning), 8);  // refused
    EXPECT_EQ(errorOf([&] { s->write("x", 1); }),
              QStringLiteral("Feld 'Description' kann nicht verändert werden"));
  }
  EXPECT_EQ(errorOf([&] { t->createBlobStream(desc, TBlobStreamMode::bmWrite); }),
            QStringLiteral("Datenmenge weder im Editier- noch im Einfügemodus"));

  CountingLink link;
  t->addDataLink(&link);
  t->edit();
  {
    auto s = t->createBlobStream(desc, TBlobStreamMode::bmReadWrite);  // keeps the text
    s->seek(0, TSeekOrigin::soFromEnd);
    s->write(QByteArray("!!"));
    s->seek(0, TSeekOrigin::soFromBeginning);
    s->write(QByteArray("J"));
  }
  EXPECT_TRUE(t->modified());
  EXPECT_GT(link.record, 0);
  EXPECT_EQ(desc->asString(), QStringLiteral("Jello world!!"));
  {
    auto s = t->createBlobStream(desc, TBlobStreamMode::bmWrite);  // empties
    EXPECT_EQ(s->size(), 0);
    s->seek(3, TSeekOrigin::soFromBeginning);
    s->write(QByteArray("x"));  // past the end: lengthens
    EXPECT_EQ(s->size(), 4);
  }
  EXPECT_EQ(desc->value().toByteArray(), QByteArray("\0\0\0x", 4));
  t->post();
  EXPECT_EQ(desc->value().toByteArray(), QByteArray("\0\0\0x", 4));
  t->removeDataLink(&link);
}

TEST(MemTableMemoStream, WriteOnlyEmptiesTheMemoWhenOpened) {
  auto t = filesShapedTable();
  t->open();
  appendFile(*t, QStringLiteral("a"), 1, QStringLiteral("hello"));
  TField* desc = f(*t, "Description");
  t->edit();
  {
    auto s = t->createBlobStream(desc, TBlobStreamMode::bmWrite);
    // Emptied on opening, before anything is written or the stream closed.
    EXPECT_EQ(desc->asString(), QString());
  }
  t->cancel();
  EXPECT_EQ(desc->asString(), QStringLiteral("hello"));  // only the working copy
}

// --- ClearRows ----------------------------------------------------------------------------------

TEST(MemTableClearRows, EmptiesAnOpenTableAndRestartsRowIds) {
  auto t = filesShapedTable();
  t->clearRows();  // closed: nothing happens
  EXPECT_FALSE(t->active());
  t->open();
  appendFile(*t, QStringLiteral("a"));
  appendFile(*t, QStringLiteral("b"));
  CountingLink link;
  t->addDataLink(&link);
  t->edit();
  f(*t, "FileName")->setValue(QStringLiteral("pending"));
  t->clearRows();  // the pending edit is finished first
  EXPECT_EQ(t->recordCount(), 0);
  EXPECT_EQ(t->currentIndex(), -1);
  EXPECT_EQ(t->lastRowId(), INT32_MIN);
  EXPECT_TRUE(f(*t, "FileName")->isNull());
  EXPECT_GT(link.changed, 0);
  EXPECT_EQ(t->fieldCount(), 34);
  appendFile(*t, QStringLiteral("c"));
  EXPECT_EQ(t->row(0).rowId(), -2147483647);
  t->removeDataLink(&link);
}

// --- Events -----------------------------------------------------------------------------------

TEST(MemTableEvents, FireAroundTheirOperationsInOrder) {
  auto t = filesShapedTable();
  QStringList log;
  auto& ev = t->events();
  auto rec = [&log](const char* name) {
    return [&log, name](TDataSet*) { log << QString::fromLatin1(name); };
  };
  ev.BeforeOpen = rec("BeforeOpen");
  ev.AfterOpen = rec("AfterOpen");
  ev.BeforeInsert = rec("BeforeInsert");
  ev.OnNewRecord = rec("OnNewRecord");
  ev.AfterInsert = rec("AfterInsert");
  ev.BeforePost = rec("BeforePost");
  ev.AfterPost = rec("AfterPost");
  ev.BeforeScroll = rec("BeforeScroll");
  ev.AfterScroll = rec("AfterScroll");
  ev.BeforeDelete = rec("BeforeDelete");
  ev.AfterDelete = rec("AfterDelete");
  ev.BeforeClose = rec("BeforeClose");
  ev.AfterClose = rec("AfterClose");
  t->open();
  appendFile(*t, QStringLiteral("a"));
  t->first();
  t->deleteRow();
  t->close();
  EXPECT_EQ(log, (QStringList{"BeforeOpen", "AfterOpen", "BeforeInsert", "OnNewRecord", "AfterInsert",
                              "BeforePost", "AfterPost", "BeforeScroll", "AfterScroll", "BeforeDelete",
                              "BeforeScroll", "AfterDelete", "AfterScroll", "BeforeClose", "AfterClose"}));
}

// A date field's text is the ISO text of the date, for every year the table
// can hold (four digits are written by hand, the others by the date itself).
TEST(MemTableValues, DateTextIsTheIsoTextForEveryYear) {
  TMemoryTable t(QStringLiteral("mt"));
  t.createField(QStringLiteral("D"), TFieldType::ftDate);
  t.open();
  const QDate dates[] = {QDate(1999, 5, 17), QDate(1, 1, 1),    QDate(9, 9, 9),      QDate(99, 12, 31),
                         QDate(999, 2, 3),   QDate(1000, 1, 1), QDate(9999, 12, 31), QDate(10000, 1, 1),
                         QDate(-1, 12, 31),  QDate(-44, 3, 15), QDate(2000, 2, 29),  QDate(123456, 7, 8)};
  for (const QDate& d : dates) {
    ASSERT_TRUE(d.isValid());
    t.append();
    f(t, "D")->setValue(d);
    EXPECT_EQ(f(t, "D")->asString(), d.toString(Qt::ISODate)) << d.year();
    t.post();
    EXPECT_EQ(f(t, "D")->asString(), d.toString(Qt::ISODate)) << d.year();
  }
  EXPECT_EQ(isoDateText(QDate(1, 2, 3)), QStringLiteral("0001-02-03"));
  EXPECT_EQ(isoDateText(QDate()), QDate().toString(Qt::ISODate));
}
