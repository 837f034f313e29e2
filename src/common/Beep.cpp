#include "Beep.h"

namespace vrk {
namespace {

SystemBeep::Sink& sink() {
  static SystemBeep::Sink s;
  return s;
}

}  // namespace

void SystemBeep::play() {
  if (sink()) sink()();
}

SystemBeep::Sink SystemBeep::setSink(Sink s) {
  Sink old = std::move(sink());
  sink() = std::move(s);
  return old;
}

}  // namespace vrk
