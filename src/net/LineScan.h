// Finding one line at the start of received bytes, as the socket session's
// ReadLn takes them: a pure function over a byte buffer, so the line rule and
// its length bound can be tested and fuzzed without a socket.
#pragma once

#include <QByteArray>

namespace vrk {

enum class TLineState {
  NeedMore,  // no LF yet, and the bound (if any) is not passed
  Complete,  // a line through its LF
  TooLong,   // the line, or the bytes without an LF, are longer than the bound
};

struct TLineScan {
  TLineState State = TLineState::NeedMore;
  qsizetype Length = 0;  // bytes of a complete line, its LF included
};

// Looks for the LF that ends the line at the start of buffer. scanFrom holds
// how many bytes are already known to hold no LF; it is advanced, so a buffer
// that grows between calls is not searched again from its start, and must be
// reset to 0 when bytes are taken from the buffer. With maxLength >= 0 a line
// of more than maxLength bytes (LF included) is TooLong, as soon as more than
// maxLength bytes without an LF are in.
TLineScan ScanLine(const QByteArray& buffer, qsizetype& scanFrom, int maxLength);

}  // namespace vrk
