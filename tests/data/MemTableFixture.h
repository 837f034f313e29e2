// Test helpers for the in-memory table: a table of the files shape and a
// quick way to add rows to it.
#pragma once

#include "MemTable.h"
#include "Schema.h"

#include <QString>

#include <memory>

namespace vrk::test {

// A closed table with one field per FILES column, as mtFiles is designed.
inline std::unique_ptr<TMemoryTable> filesShapedTable(const QString& name = QStringLiteral("mtFiles")) {
  auto t = std::make_unique<TMemoryTable>(name);
  for (const auto& c : schema::filesColumns()) {
    t->createField(QString::fromLatin1(c.name), c.type, c.size, c.required);
  }
  return t;
}

// Appends and posts one row with the required columns set.
inline void appendFile(TMemoryTable& t, const QString& fileName, int fileCatId = 1,
                       const QString& description = QStringLiteral("An entry."),
                       const QString& vrkDir = QStringLiteral("delphi/comp")) {
  t.append();
  t.fieldByName(QStringLiteral("FileName"))->setValue(fileName);
  t.fieldByName(QStringLiteral("VRKDir"))->setValue(vrkDir);
  t.fieldByName(QStringLiteral("FileCatID"))->setValue(fileCatId);
  t.fieldByName(QStringLiteral("FileSize"))->setValue(1000 + fileCatId);
  t.fieldByName(QStringLiteral("Description"))->setValue(description);
  t.post();
}

inline QStringList fileNames(TDataSet& t) {
  QStringList names;
  t.first();
  while (!t.eof()) {
    names << t.fieldByName(QStringLiteral("FileName"))->asString();
    t.next();
  }
  return names;
}

// Counts what a view is told.
struct CountingLink final : TDataLink {
  int changed = 0, scrolled = 0, record = 0, layout = 0, active = 0, editing = 0;
  TField* focused = nullptr;
  void activeChanged(bool) override { ++active; }
  void dataSetChanged() override { ++changed; }
  void dataSetScrolled() override { ++scrolled; }
  void recordChanged(TField*) override { ++record; }
  void layoutChanged() override { ++layout; }
  void editingChanged() override { ++editing; }
  void focusControl(TField* f) override { focused = f; }
  int total() const { return changed + scrolled + record + layout + active + editing; }
};

}  // namespace vrk::test
