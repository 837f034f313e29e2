// vrk unzip ZIP DIR: unpacks ZIP into DIR as the program does after a
// download. Every status line goes to standard output, one per line, in
// order; every member not extracted goes to standard error with its reason.
// Exit status 0 when the archive was opened and read to its end (members
// left out by rule allowed), 1 when it could not be opened, is damaged, a
// member failed its checks or could not be written, 2 on wrong usage.
#include "Command.h"

#include "TransferRelay.h"
#include "Unzip.h"

#include <cstdio>

namespace vrk::cli {
namespace {

constexpr char kUsage[] = "unzip ZIP DIR";

int unzipCommand(const QStringList& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: vrk %s\n", kUsage);
    return 2;
  }
  TTransferRelay relay;
  QObject printer;
  relay.SetOnStatus(&printer, [&relay](QObject*) {
    const QByteArray line = relay.StatusText().toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
  });
  const TUnzipResult result = UnzipArchive(args[0], args[1], relay);
  std::fflush(stdout);

  int failed = 0;
  for (const TUnzipSkipped& s : result.skipped) {
    std::fprintf(stderr, "vrk unzip: %s: %s\n", s.name.toUtf8().constData(), s.reason.toUtf8().constData());
    failed += s.failed ? 1 : 0;
  }
  if (!result.complete) {
    std::fprintf(stderr, "vrk unzip: %s: %s\n", args[0].toUtf8().constData(),
                 result.error.toUtf8().constData());
    return 1;
  }
  if (failed > 0) {
    std::fprintf(stderr, "vrk unzip: %s: %d member%s failed\n", args[0].toUtf8().constData(), failed,
                 failed == 1 ? "" : "s");
    return 1;
  }
  return 0;
}

VRK_COMMAND("unzip", kUsage, unzipCommand);

}  // namespace
}  // namespace vrk::cli
