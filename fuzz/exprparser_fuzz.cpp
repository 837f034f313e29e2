// libFuzzer target for the filter expression parser and the store's reading
// of the blocks it builds. The input is a filter text (UTF-8) parsed against
// the files table's fields. Every text must end in a block or in one of the
// system's exceptions; a block must translate into an SQL condition that
// SQLite accepts over the files table. Anything else aborts.
#include "ExprParser.h"
#include "FilesFieldsDataSet.h"
#include "FilterEval.h"
#include "Schema.h"

#include <sqlite3.h>

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

sqlite3* filesDatabase() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    sqlite3_open(":memory:", &d);
    sqlite3_exec(d, vrk::schema::createTableSql("FILES", vrk::schema::filesColumns()).constData(), nullptr,
                 nullptr, nullptr);
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
  sqlite3_stmt* st = nullptr;
  const QByteArray sql = "SELECT rowid FROM FILES WHERE " + where;
  if (sqlite3_prepare_v2(filesDatabase(), sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "SQLite refused %s: %s\n", sql.constData(), sqlite3_errmsg(filesDatabase()));
    std::abort();
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
  }
  sqlite3_finalize(st);
  return 0;
}
