// Test support: a temporary directory removed with everything in it when the
// object goes away, and the whole-file read and write the tests use on the
// files in it. Tests never write into the working tree.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

// The whole file. A file that cannot be read is a test failure naming it
// (a test that reads a file expects it there), and gives a null array.
inline QByteArray readFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read " << path.toStdString() << ": " << f.errorString().toStdString();
    return {};
  }
  return f.readAll();
}

// Writes data as the whole file, its directory made first. A file not
// written whole is a test failure naming it; returns false then.
inline bool writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  if (QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
      f.write(data) == data.size() && f.flush())
    return true;
  ADD_FAILURE() << "cannot write " << path.toStdString() << ": " << f.errorString().toStdString();
  return false;
}

}  // namespace vrk::test
