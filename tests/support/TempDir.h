// Test support: a temporary directory removed with everything in it when the
// object goes away. Tests never write into the working tree.
#pragma once

#include <QString>
#include <QTemporaryDir>

namespace vrk::test {

class TempDir final {
 public:
  TempDir() : m_dir(QStringLiteral("/tmp/vrktest-XXXXXX")) {}
  QString path() const { return m_dir.path(); }
  QString file(const QString& name) const { return m_dir.filePath(name); }
  bool isValid() const { return m_dir.isValid(); }

 private:
  QTemporaryDir m_dir;
};

}  // namespace vrk::test
