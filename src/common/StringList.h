// TStringList: the class library's list of texts. Entries keep the order in
// which they were added and duplicates are kept; an entry of the form
// name=value has a name part, the text before its first "=".
//
// Not thread-safe; owned by whoever made it.
#pragma once

#include <QStringList>

namespace vrk {

class TStringList {
 public:
  TStringList() = default;
  virtual ~TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int count() const { return static_cast<int>(m_strings.size()); }
  // Requires: 0 <= index < count().
  const QString& strings(int index) const { return m_strings.at(index); }
  // The text before the first "=" of an entry; empty when it holds none.
  // Requires: 0 <= index < count().
  QString names(int index) const {
    const QString& s = m_strings.at(index);
    const qsizetype eq = s.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : s.left(eq);
  }
  void add(const QString& text) { m_strings.append(text); }
  void clear() { m_strings.clear(); }
  const QStringList& list() const { return m_strings; }

 private:
  QStringList m_strings;
};

}  // namespace vrk
