// libFuzzer target for the filter expression parser and the store's reading
// of the blocks it builds. The input is a filter text (UTF-8) parsed against
// the files table's fields. Every text must end in a block or in one of the
// system's exceptions; a block must translate into an SQL condition that
// SQLite accepts over the files table. Anything else aborts.
#include "ExprParser.h"
#include "FilesFieldsDataSet.h"
#include "FilterEval.h"
#include "Schema.h"
#include "Sqlite.h"

#include <cstdio>
#include <cstdlib>

namespace {

class FilesFields final : public vrk::test::FilesFieldsDataSet {
 public:
  FilesFields() {
    for (const auto& c : vrk::schema::filesColumns())
      columns.push_back({QString::fromLatin1(c.name), c.type});
  }
  std::vector<vrk::TFilterColumn> columns;
};

vrk::sql::Connection& filesDatabase() {
  static vrk::sql::Connection db = [] {
    vrk::sql::Connection d = vrk::sql::Connection::inMemory();
    d.exec(vrk::schema::createTableSql("FILES", vrk::schema::filesColumns()).constData());
    vrk::registerFilterSql(d);
    return d;
  }();
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FilesFields fields;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const vrk::TFilterOptions options[] = {{}, {vrk::foCaseInsensitive}, {vrk::foNoPartialCompare}};
  const vrk::TFilterOptions opts = size ? options[data[0] % 3] : vrk::TFilterOptions{};
  QByteArray block;
  try {
    const vrk::TExprParser parser(&fields, text, opts);
    block = parser.filterData();
  } catch (const vrk::Exception&) {
    return 0;
  }
  QByteArray where;
  try {
    where = vrk::filterBlockToSql(block, fields.columns);
  } catch (const vrk::Exception& e) {
    std::fprintf(stderr, "block of an accepted text refused: %s\n", e.what());
    std::abort();
  }
  vrk::sql::Statement st;
  try {
    st = vrk::sql::Statement(filesDatabase(), "SELECT rowid FROM FILES WHERE " + where);
  } catch (const vrk::sql::Error& e) {
    std::fprintf(stderr, "SQLite refused %s\n", e.what());
    std::abort();
  }
  // A condition SQLite accepted may still fail on a row; that ends the walk.
  try {
    while (st.step()) {
    }
  } catch (const vrk::sql::Error&) {
  }
  return 0;
}
