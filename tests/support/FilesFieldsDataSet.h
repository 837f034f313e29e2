// Test support: a data set named "tbFiles" that has only fields, the FILES
// columns in their order (field numbers 1–34), and no rows. Enough for the
// filter parser, which looks fields up by name and reads their kinds. Used
// by the parser's tests and by its fuzz target.
#pragma once

#include "DataSet.h"
#include "Schema.h"

namespace vrk::test {

class FilesFieldsDataSet : public TDataSet {
 public:
  FilesFieldsDataSet() : TDataSet(QStringLiteral("tbFiles")) {
    for (const auto& c : schema::filesColumns()) {
      addField(std::make_unique<TField>(this, QString::fromLatin1(c.name), c.type, c.size, c.required));
    }
  }
  void open() override {}
  void close() override {}
  void first() override {}
  void next() override {}
  void prior() override {}
  void last() override {}
  bool isEmpty() const override { return true; }
  int recordCount() const override { return 0; }
  int recNo() const override { return 0; }
  void edit() override {}
  void insert() override {}
  void append() override {}
  void post() override {}
  void cancel() override {}
  void deleteRow() override {}
  QVariant getFieldValue(const TField&) const override { return {}; }
  void setFieldValue(TField&, const QVariant&) override {}
};

}  // namespace vrk::test
