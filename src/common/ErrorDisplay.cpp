#include "ErrorDisplay.h"

#include "Exception.h"
#include "Messages.h"

#include <cstdio>

namespace vrk {
namespace {

ErrorDisplay::Sink& sink() {
  static ErrorDisplay::Sink s;
  return s;
}

}  // namespace

ErrorDisplay::Sink ErrorDisplay::setSink(Sink s) {
  Sink old = std::move(sink());
  sink() = std::move(s);
  return old;
}

void ErrorDisplay::show(const QString& message) {
  if (sink()) {
    sink()(message);
  } else {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  }
}

QString currentExceptionMessage() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.message();
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
    return msg::text(msg::UnknownError);
  }
}

void ErrorDisplay::showCurrentException() {
  try {
    throw;
  } catch (const EAbort&) {
    // A silent abort is not shown.
  } catch (...) {
    show(currentExceptionMessage());
  }
}

bool ErrorDisplay::guard(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    showCurrentException();
    return false;
  }
}

}  // namespace vrk
