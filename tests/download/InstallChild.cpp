// The catalogue install in a process of its own, for the crash tests: runs
// the install steps (or only the recovery of a pending install) on a
// program directory, from a working directory, and can end itself with
// SIGKILL at the n-th stopping point of the install hook.
//
//   vrk_install_child PROGRAMDIR WORKDIR [--kill-at N] [--recover-only]
//                     [--file-size-limit BYTES] [--drop-root]
//
// Prints "point <i> <label>" for every stopping point reached (before it
// is acted on), then "ok" or "error: <message>". --file-size-limit makes
// every write past BYTES fail (a full disk); --drop-root runs as nobody when
// started as root, so that a directory without write permission is one.
#include "CatalogueInstall.h"

#include "CatalogueSwap.h"
#include "Exception.h"
#include "Store.h"
#include "VRKSearchData.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class SilentView final : public vrk::TInstallView {
 public:
  void ShowCopying() override {}
  void HideCopying() override {}
  void ShowReady() override { std::printf("ready\n"); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: vrk_install_child PROGRAMDIR WORKDIR [options]\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString programDir = QString::fromLocal8Bit(argv[1]);
  long killAt = -1;
  bool recoverOnly = false;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--kill-at" && i + 1 < argc) {
      killAt = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--recover-only") {
      recoverOnly = true;
    } else if (a == "--file-size-limit" && i + 1 < argc) {
      const rlim_t limit = std::strtoull(argv[++i], nullptr, 10);
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit rl{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) return 2;
    } else if (a == "--drop-root") {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
    } else {
      std::fprintf(stderr, "vrk_install_child: unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (::chdir(argv[2]) != 0) return 2;

  long reached = 0;
  const vrk::TInstallHook hook = [&](const char* label) {
    std::printf("point %ld %s\n", reached, label);
    std::fflush(stdout);
    if (reached++ == killAt) std::raise(SIGKILL);
  };
  try {
    if (recoverOnly) {
      const QString path = vrk::aliasPathValue(vrk::readAliasParams(programDir, QStringLiteral("Quorvane")));
      vrk::RecoverPendingInstall(vrk::databaseDirectory(programDir, path), hook);
    } else {
      vrk::TVRKData data(programDir);
      SilentView view;
      vrk::InstallCatalogue(data, view, hook);
    }
  } catch (const vrk::Exception& e) {
    std::printf("error: %s\n", e.message().toUtf8().constData());
    return 1;
  }
  std::printf("ok\n");
  return 0;
}
