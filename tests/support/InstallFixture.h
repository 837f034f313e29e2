// Test support of the catalogue install tests: a working directory with its
// Download directory, the installed catalogue (old) and a fresh one (new),
// and snapshots of a directory's files by checksum.
#pragma once

#include "CatalogueFixture.h"
#include "TempDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <map>

namespace vrk::test {

// File name → SHA-256 of its content, for every entry of a directory
// (directories as "<dir>", fifos and the like as "<special>", hidden names
// included).
using Snapshot = std::map<QString, QByteArray>;

inline Snapshot snapshot(const QString& dir) {
  Snapshot out;
  const auto filter = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
  for (const QFileInfo& fi : QDir(dir).entryInfoList(filter)) {
    if (fi.isDir()) {
      out[fi.fileName()] = "<dir>";
      continue;
    }
    if (!fi.isFile()) {
      // A fifo or device: never opened (a fifo would block).
      out[fi.fileName()] = "<special>";
      continue;
    }
    QFile f(fi.filePath());
    if (!f.open(QIODevice::ReadOnly)) {
      out[fi.fileName()] = "<unreadable>";
      continue;
    }
    out[fi.fileName()] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
  }
  return out;
}

// The snapshot of `base` after the files of `added` replaced their namesakes.
inline Snapshot overlaid(Snapshot base, const Snapshot& added) {
  for (const auto& [name, sum] : added) base[name] = sum;
  return base;
}

// The catalogue tables of a directory by what they hold (tableContents),
// under the names the store reads; a rebuilt table equals its source here.
inline Snapshot catalogueContents(const QString& dir) {
  Snapshot out;
  for (const char* name : {"FILES.DB", "MIRRORS.DB", "FILESCAT.DB"}) {
    const QString file = QDir(dir).filePath(QLatin1String(name));
    if (QFileInfo::exists(file)) out[QLatin1String(name)] = tableContents(file);
  }
  return out;
}

// Copies every file of a directory into another.
inline void copyFiles(const QString& from, const QString& to) {
  for (const QFileInfo& fi : QDir(from).entryInfoList(QDir::Files)) {
    QFile::remove(QDir(to).filePath(fi.fileName()));
    ASSERT_TRUE(QFile::copy(fi.filePath(), QDir(to).filePath(fi.fileName())));
  }
}

// Makes a directory the process's current one while the object lives.
class CurrentDir final {
 public:
  explicit CurrentDir(const QString& dir) : m_saved(QDir::currentPath()) {
    EXPECT_TRUE(QDir::setCurrent(dir));
  }
  ~CurrentDir() { QDir::setCurrent(m_saved); }
  CurrentDir(const CurrentDir&) = delete;
  CurrentDir& operator=(const CurrentDir&) = delete;

 private:
  QString m_saved;
};

}  // namespace vrk::test
