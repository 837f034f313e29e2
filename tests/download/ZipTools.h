// Test support of the extraction tests: Zip files made at test time by other
// tools (the zip command, python's zipfile through zipcraft.py and its
// byte-patched copies), and a look at what a directory holds.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "ProcessRun.h"
#include "QtPrinters.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace vrk::test {

inline QString python3() {
  return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                               : QStringLiteral("python3");
}

// Runs program with args in dir; fails the test unless it exits with 0.
inline void runTool(const QString& program, const QStringList& args, const QString& dir = QString()) {
  ProcessOptions opt;
  opt.workDir = dir;
  opt.merged = true;
  opt.timeoutMs = 120000;
  const ProcessRun r = runProcess(program, args, opt);
  ASSERT_EQ(r.exitCode, 0) << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                           << r.out.toStdString();
}

// One archive of zipcraft.py (the case names are its functions).
inline void craftZip(const QString& kase, const QString& out) {
  runTool(python3(), {QStringLiteral(VRK_ZIPCRAFT), kase, out});
}

// The zip command, run in dir.
inline void zipCommand(const QString& dir, const QStringList& args) {
  runTool(QStringLiteral("zip"), args, dir);
}

// A shell command line (for pipes), run in dir.
inline void shell(const QString& dir, const QString& command) {
  runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, dir);
}

// Every entry of dir, hidden ones included, sorted by name.
inline QStringList entriesOf(const QString& dir) {
  QStringList names = QDir(dir).entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
  names.sort();
  return names;
}

}  // namespace vrk::test
