// Test support: runs a child program to its end and collects its exit code,
// standard output and standard error. A child still running at the time-out
// is killed; a time-out and an exit by a signal are test failures naming the
// program, unless the caller expects the signal (a child that kills itself).
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace vrk::test {

struct ProcessRun {
  int exitCode = -1;       // -1 after a time-out or a signal
  bool timedOut = false;   // killed at the time-out
  bool signalled = false;  // ended by a signal
  QString out;             // standard output (both channels with merged)
  QString err;             // standard error
};

struct ProcessOptions {
  QByteArray input;         // written to standard input, then closed
  QString workDir;          // empty: the test's own
  QProcessEnvironment env;  // empty: the test's own
  int timeoutMs = 60000;
  bool merged = false;          // standard error into out
  QString outFile;              // standard output into this file
  bool signalExpected = false;  // a signal exit is no failure
};

inline ProcessRun runProcess(const QString& program, const QStringList& args,
                             const ProcessOptions& opt = {}) {
  QProcess p;
  if (!opt.workDir.isEmpty()) p.setWorkingDirectory(opt.workDir);
  if (!opt.env.isEmpty()) p.setProcessEnvironment(opt.env);
  if (opt.merged) p.setProcessChannelMode(QProcess::MergedChannels);
  if (!opt.outFile.isEmpty()) p.setStandardOutputFile(opt.outFile);
  p.start(program, args);
  ProcessRun r;
  if (!p.waitForStarted(opt.timeoutMs)) {
    ADD_FAILURE() << program.toStdString() << " did not start: " << p.errorString().toStdString();
    return r;
  }
  if (!opt.input.isEmpty()) p.write(opt.input);
  p.closeWriteChannel();
  if (!p.waitForFinished(opt.timeoutMs)) {
    p.kill();
    p.waitForFinished();
    r.timedOut = true;
  }
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  const std::string what = program.toStdString() + " " + args.join(QLatin1Char(' ')).toStdString();
  if (r.timedOut) {
    ADD_FAILURE() << what << ": killed after " << opt.timeoutMs << " ms\n" << r.err.toStdString();
    return r;
  }
  if (p.exitStatus() == QProcess::CrashExit) {
    r.signalled = true;
    if (!opt.signalExpected)
      ADD_FAILURE() << what << ": crashed\n" << r.out.toStdString() << r.err.toStdString();
    return r;
  }
  r.exitCode = p.exitCode();
  return r;
}

// The program built beside the tests, e.g. "vrk".
inline QString testProgram(const QString& name) {
  return qEnvironmentVariable("VRK_TEST_BIN_DIR") + QLatin1Char('/') + name;
}

// The lines sqlite3 prints for one statement on a database file.
inline QStringList sqliteLines(const QString& db, const QString& sql) {
  return runProcess(QStringLiteral("sqlite3"), {db, sql}).out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace vrk::test
