// vrk unzip ZIP DIR: unpacks ZIP into DIR as the program does after a
// download. Every status line goes to standard output, one per line, in
// order; every member not extracted goes to standard error with its reason.
// Exit status 0 when the archive was opened and read to its end (members
// left out by rule allowed), 1 when it could not be opened, is damaged, a
// member failed its checks or could not be written, 2 on wrong usage.
#include "Command.h"

#include "TransferRelay.h"
#include "unzip/Unzip.h"

#include <cstdio>

namespace vrk::cli {

int runUnzip(const TCommandLine& line) {
  const QString zip = line.argument(0);
  TTransferRelay relay;
  QObject printer;
  relay.SetOnStatus(&printer, [&relay](QObject*) { printOut(relay.StatusText()); });
  const TUnzipResult result = UnzipArchive(zip, line.argument(1), relay);
  std::fflush(stdout);

  int failed = 0;
  for (const TUnzipSkipped& s : result.skipped) {
    line.failure(s.name + QStringLiteral(": ") + s.reason);
    failed += s.failed ? 1 : 0;
  }
  if (!result.complete) return line.failure(zip + QStringLiteral(": ") + result.error);
  if (failed > 0)
    return line.failure(
        QStringLiteral("%1: %2 member%3 failed").arg(zip).arg(failed).arg(failed == 1 ? "" : "s"));
  return 0;
}

}  // namespace vrk::cli
