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

// Whether an extraction unpacked its archive whole, and if not, why. Members
// left out by the naming and safety rules (links, special files, names that
// would lead elsewhere) and stored directories do not count against it;
// every other member that was not written does.
enum class TUnzipOutcome {
  Whole,         // opened, read to its end, every other member written
  NotZip,        // the file is no Zip archive at all
  Damaged,       // its layout is refused, or it could not be read to its end
  Encrypted,     // a member is encrypted (no password is given)
  MemberFailed,  // a member failed its check (CRC, sizes, ratio, method)
  NotWritten,    // a member could not be written
  OverLimit,     // a bound of the whole archive (members, bytes, ratio, free space): nothing left
};

// What an extraction did: the fetch decides by its outcome whether the Zip
// file may go; vrk unzip and the tests read the rest.
struct TUnzipResult {
  bool opened = false;           // the archive could be opened as a Zip file of sound layout
  bool complete = false;         // opened and read to its end (skipped members allowed)
  QString error;                 // why it could not be opened or read to its end
  int extracted = 0;             // members written
  QList<TUnzipSkipped> skipped;  // in central-directory order
  TUnzipOutcome outcome = TUnzipOutcome::NotZip;
  // Empty when whole; otherwise one line: the reason (msg::UnzipNotZip, …),
  // then in parentheses the first member to blame with its own reason, or
  // the archive's error.
  QString outcomeText;

  bool whole() const { return outcome == TUnzipOutcome::Whole; }
};

// Unpacks zipFile into dir; each member's status line goes to
// relay.SetStatusText. A missing, damaged or non-Zip file raises nothing:
// the result tells, its outcome first.
TUnzipResult UnzipArchive(const QString& zipFile, const QString& dir, TTransferRelay& relay);

}  // namespace vrk
