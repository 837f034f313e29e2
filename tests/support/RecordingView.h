// Test support of the catalogue install tests: an install view that records
// what the install showed, in order ("copying", "hide", "ready").
#pragma once

#include "CatalogueInstall.h"

#include <QStringList>

namespace vrk::test {

class RecordingView final : public TInstallView {
 public:
  void ShowCopying() override { calls << QStringLiteral("copying"); }
  void HideCopying() override { calls << QStringLiteral("hide"); }
  void ShowReady() override { calls << QStringLiteral("ready"); }
  QStringList calls;
};

}  // namespace vrk::test
