// The status line of one member the extraction lists, as the main window's
// status bar shows it, and the reading of a member name as text.
//
// Pure functions; any thread.
#pragma once

#include <QByteArray>
#include <QString>

namespace vrk {

// The line from the pattern "%7u  %7u %4s  %02u-%02u-%02u  %02u:%02u  %s%s":
// every width is a minimum filled with blanks on the left ("%02u" pads with
// a blank, not a zero), and a longer value is not cut. The ratio text is
// "100%" for the factor 100, otherwise a sign ("-" when the uncompressed
// size is smaller than the compressed one, else a blank), the factor and
// "%".
QString UnzipStatusLine(quint32 size, quint32 compressedSize, quint32 factor, quint32 month, quint32 day,
                        quint32 year, quint32 hour, quint32 minute, char flag, const QString& name);

// A member name as stored: UTF-8 when it is valid UTF-8, otherwise one
// character per byte (Latin-1).
QString MemberNameText(const QByteArray& name);

}  // namespace vrk
