// The paired-call guard of the data-set layer: the closing call on the normal
// path (its error reaches the caller), on the way out of a failing scope (the
// scope's error is the one reported), and the views of a data set resumed
// however an import ends.
#include "DataSet.h"
#include "MemTableFixture.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace vrk;
using test::CountingLink;
using test::filesShapedTable;

namespace {

// Records the calls it gets; the closing call fails when asked to.
struct Recorder {
  QStringList calls;
  bool closeFails = false;
  void open() { calls << QStringLiteral("open"); }
  void close() {
    calls << QStringLiteral("close");
    if (closeFails) throw EDatabaseError(QStringLiteral("close failed"));
  }
};
using TRecorded = TScopedPair<Recorder, &Recorder::open, &Recorder::close>;

QString errorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.message();
  }
  return QString();
}

}  // namespace

TEST(ScopedPair, ClosesOnceWhereverTheScopeEnds) {
  struct Case {
    const char* name;
    bool closeFails;
    bool scopeFails;
    bool callEnd;
    const char* error;  // what the caller gets
  };
  const Case cases[] = {
      {"end() closes", false, false, true, ""},
      {"an error of end() reaches the caller", true, false, true, "close failed"},
      {"a scope left without end() closes", false, false, false, ""},
      {"a failing scope closes on the way out", false, true, false, "work failed"},
      {"the scope's error wins over the closing one", true, true, false, "work failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder r;
    r.closeFails = c.closeFails;
    const QString error = errorOf([&] {
      TRecorded pair(r);
      r.calls << QStringLiteral("work");
      if (c.scopeFails) throw EDatabaseError(QStringLiteral("work failed"));
      if (c.callEnd) pair.end();
      r.calls << QStringLiteral("after");
    });
    EXPECT_EQ(error, QString::fromUtf8(c.error));
    QStringList expected{QStringLiteral("open"), QStringLiteral("work")};
    if (c.scopeFails) {
      expected << QStringLiteral("close");
    } else if (c.callEnd) {
      expected << QStringLiteral("close");
      if (!c.closeFails) expected << QStringLiteral("after");
    } else {
      expected << QStringLiteral("after") << QStringLiteral("close");
    }
    EXPECT_EQ(r.calls, expected);
  }
}

TEST(ScopedPair, NestedSuspensionsRedrawTheViewsOnceAtTheOutermostEnd) {
  auto t = filesShapedTable();
  t->open();
  CountingLink link;
  t->addDataLink(&link);
  {
    TControlsDisabled outer(*t);
    {
      TControlsDisabled inner(*t);
      inner.end();
      inner.end();  // a second end() does nothing
    }
    EXPECT_TRUE(t->controlsDisabled());
    EXPECT_EQ(link.layout, 0);
  }
  EXPECT_FALSE(t->controlsDisabled());
  EXPECT_EQ(link.layout, 1);
  t->removeDataLink(&link);
}

// A source the import opened itself (empty: a closed table holds no rows)
// and fails to close again: the error reaches the caller and the source's
// views are resumed all the same.
TEST(ScopedPair, ImportResumesTheSourceViewsWhenClosingTheSourceFails) {
  auto src = filesShapedTable(QStringLiteral("src"));
  src->events().BeforeClose = [](TDataSet*) { throw EDatabaseError(QStringLiteral("close refused")); };
  auto t = filesShapedTable();
  t->open();
  EXPECT_EQ(errorOf([&] { t->importRows(src.get(), 0, ImportAppend); }), QStringLiteral("close refused"));
  EXPECT_FALSE(src->controlsDisabled());
  EXPECT_FALSE(t->controlsDisabled());
  EXPECT_EQ(t->recordCount(), 0);
  src->events().BeforeClose = nullptr;
}
