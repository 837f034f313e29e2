// UnzipArchive: unpacks every member of one Zip file into one directory,
// overwriting what is there, without questions and without messages, and
// reports each member the extraction lists as a status line through the
// relay's StatusText (the data module's, in the program).
//
// UI thread only; runs synchronously and processes no window messages apart
// from what the bound OnStatus handler does itself.
#pragma once

#include <QList>
#include <QString>

namespace vrk {

class TTransferRelay;

// A member that was not extracted, and why.
struct TUnzipSkipped {
  QString name;         // the member name as stored
  QString reason;       // a short English reason (msg::ZipEncrypted, msg::ZipCrcError, …)
  bool failed = false;  // it failed a check or could not be written, rather
                        // than being left out by rule (encrypted, link, unsafe name)
};

// What an extraction did. The window's callers ignore it; vrk unzip and the
// tests read it.
struct TUnzipResult {
  bool opened = false;           // the archive could be opened as a Zip file of sound layout
  bool complete = false;         // opened and read to its end (skipped members allowed)
  QString error;                 // why it could not be opened or read to its end
  int extracted = 0;             // members written
  QList<TUnzipSkipped> skipped;  // in central-directory order
};

// Unpacks zipFile into dir; each member's status line goes to
// relay.SetStatusText. A missing, damaged or non-Zip file raises nothing:
// the result tells.
TUnzipResult UnzipArchive(const QString& zipFile, const QString& dir, TTransferRelay& relay);

}  // namespace vrk
