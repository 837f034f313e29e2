// vrk mirrors: lists the mirror table of the catalogue the program uses, one
// line per mirror: its URL and its provider's name, a tab between them. With
// --probe it tries every mirror at once, as the mirror dialog's "Test all"
// does (a GET of each base URL through the program's HTTP client, connected as
// a download of the program's settings would be; the options change them for
// this run), and prints one line per mirror instead: URL, name, outcome (the
// status line or the client's error text), the milliseconds to the first byte
// ("-" without a reply) and to the whole answer, tab-separated; the mirrors
// that answered with success first, fastest first, the dead ones last. Each
// try ends within S seconds (default 5), and all run side by side. Exits with
// 0 when at least one mirror answered with 2xx (or, without --probe, when the
// table was listed), with 1 otherwise and on a failure, with 2 for a wrong
// command line.
#include "Command.h"

#include "MirrorProbe.h"
#include "TransferConsole.h"

#include <QHash>

#include <cmath>

namespace vrk::cli {
namespace {

// The longest bound --timeout takes (seconds).
constexpr double kMaxTimeOutSeconds = 3600;

}  // namespace

void declareMirrors(QCommandLineParser& parser) {
  parser.addOption(
      {QStringLiteral("probe"),
       QStringLiteral("Tries every mirror at once and tells how each answered, fastest first.")});
  parser.addOption({QStringLiteral("timeout"),
                    QStringLiteral("The bound of each mirror's try in seconds (default 5), with --probe."),
                    QStringLiteral("S")});
  declareProxyOptions(parser);
}

int runMirrors(const TCommandLine& line) {
  TransferOptions options;
  const QString wrong = readProxyOptions(line, options);
  if (!wrong.isEmpty()) return line.usageError(wrong);
  const bool probe = line.isSet(QStringLiteral("probe"));
  int bound = kDefaultProbeBound;
  if (line.isSet(QStringLiteral("timeout"))) {
    if (!probe) return line.usageError(QStringLiteral("--timeout goes with --probe"));
    bool ok = false;
    const double seconds = line.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > kMaxTimeOutSeconds)
      return line.usageError(QStringLiteral("--timeout needs a number of seconds above 0, at most 3600"));
    bound = qMax(1, static_cast<int>(std::lround(seconds * 1000)));
  }

  // Without an alias the table does not open, which is the failure.
  const std::unique_ptr<TVRKData> module = programData(options);
  TVRKData& data = *module;
  return runInEventLoop(line, [&] {
    TTable& table = data.tbMirrors;
    table.open();
    const TField* urlField = table.fieldByName(QStringLiteral("URL"));
    const TField* nameField = table.fieldByName(QStringLiteral("ProviderName"));
    QStringList urls;
    QHash<QString, QString> names;  // the first row's name for a URL
    for (int row = 0; row < table.recordCount(); ++row) {
      const QString url = table.rowFieldValue(row, *urlField).toString();
      const QString name = table.rowFieldValue(row, *nameField).toString();
      if (!probe) printOut(url + QLatin1Char('\t') + name);
      if (!names.contains(url)) {
        urls << url;
        names.insert(url, name);
      }
    }
    if (!probe) return 0;

    bool anyWorks = false;
    for (const TProbeResult& r : probeMirrors(urls, probeConnection(data, data.Http1.TimeOut(), bound))) {
      anyWorks = anyWorks || r.kind == TProbeResult::TKind::Usable;
      const QString first = r.firstByteMs >= 0 ? QString::number(r.firstByteMs) : QStringLiteral("-");
      printOut(QStringList{r.url, names.value(r.url), r.outcome, first, QString::number(r.wholeMs)}.join(
          QLatin1Char('\t')));
    }
    return anyWorks ? 0 : 1;
  });
}

}  // namespace vrk::cli
