#include "LineScan.h"

namespace vrk {

TLineScan ScanLine(const QByteArray& buffer, qsizetype& scanFrom, int maxLength) {
  const qsizetype lf = buffer.indexOf('\n', scanFrom);
  if (lf >= 0) {
    if (maxLength >= 0 && lf + 1 > maxLength) return {TLineState::TooLong, 0};
    return {TLineState::Complete, lf + 1};
  }
  scanFrom = buffer.size();
  if (maxLength >= 0 && buffer.size() > maxLength) return {TLineState::TooLong, 0};
  return {};
}

}  // namespace vrk
