// What the commands share: the failure line, the event-loop runner, the
// program's places and catalogue, the temporary alias registry, the
// HOST:PORT option value and the output lines.
#include "Command.h"

#include "ErrorDisplay.h"
#include "IniFile.h"
#include "Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace vrk::cli {

int TCommandLine::failure(const QString& message) const {
  printErr(QStringLiteral("vrk ") + QLatin1String(m_command.name) + QStringLiteral(": ") + message);
  return 1;
}

int runInEventLoop(const TCommandLine& line, const std::function<int()>& job) {
  int code = 0;
  QTimer::singleShot(0, [&] {
    try {
      code = job();
    } catch (...) {
      code = line.failure(currentExceptionMessage());
    }
    QCoreApplication::exit(code);
  });
  QCoreApplication::exec();
  return code;
}

const TPlaces& toolPlaces() {
  static const TPlaces places =
      programPlaces(QCoreApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment());
  return places;
}

void declareDatabaseOption(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("db"),
                    QStringLiteral("The catalogue's directory (default: the program's)."),
                    QStringLiteral("DIR")});
}

int runOnCatalogue(const TCommandLine& line, const std::function<int(const QString& programDir)>& job) {
  try {
    QString dbDir = line.value(QStringLiteral("db"));
    if (!line.isSet(QStringLiteral("db"))) {
      const QString registry = toolPlaces().aliasDir;
      dbDir =
          databaseDirectory(registry, aliasPathValue(readAliasParams(registry, QStringLiteral("Quorvane"))));
    }
    const QTemporaryDir registry;
    bool made = registry.isValid();
    try {
      if (made)
        TIniFile(QDir(registry.path()).filePath(QStringLiteral("aliases.ini")))
            .writeString(QStringLiteral("Quorvane"), QStringLiteral("PATH"), QDir(dbDir).absolutePath());
    } catch (const Exception&) {
      made = false;
    }
    if (!made) return line.failure(QStringLiteral("cannot create a temporary directory"));
    return job(registry.path());
  } catch (const Exception& e) {
    // What came before the message on standard output stays before it.
    std::fflush(stdout);
    printErr(e.message());
    return 1;
  }
}

bool splitHostPort(const QString& value, QString& host, QString& port) {
  const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
  if (colon <= 0 || colon == value.size() - 1) return false;
  host = value.left(colon);
  port = value.mid(colon + 1);
  return true;
}

void printErr(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

void printOut(const QString& text) {
  const QByteArray b = text.toUtf8();
  std::fwrite(b.constData(), 1, static_cast<std::size_t>(b.size()), stdout);
  std::fputc('\n', stdout);
}

}  // namespace vrk::cli
