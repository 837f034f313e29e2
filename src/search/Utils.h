// The file list collector: lists the files of one directory (not its
// subdirectories) that match one or more name masks and a set of file kinds
// into the process-wide list FoundFiles, one name=time entry per file. The
// catalogue install uses it to find what a download left in Download.
//
// On this platform the kinds map onto POSIX as follows: hidden = the name
// starts with "."; system = neither a regular file nor a directory (device,
// fifo, socket, a link to nothing); directory = a directory; archive = every
// regular file; read-only = the permission bits give the process no write
// access (owner, group or other bits, whichever class the process is in);
// volume label = never. A link counts as what it points to.
//
// CollectFiles changes the process's current directory while it runs:
// UI thread only, and nothing else may rely on the current directory
// meanwhile.
#pragma once

#include "StringList.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace vrk {

// The list class of FoundFiles: a string list that is never sorted.
class TSortStringList final : public TStringList {};

// The file kinds, one bit each in the Kinds byte of CollectFiles. Bits 0 to
// 5 carry the file attribute values 1, 2, 4, 8, 16 and 32; the any-file
// kind has no attribute.
using TFileKinds = std::uint8_t;
constexpr TFileKinds fkReadOnly = 0x01;
constexpr TFileKinds fkHidden = 0x02;
constexpr TFileKinds fkSysFile = 0x04;
constexpr TFileKinds fkVolumeID = 0x08;
constexpr TFileKinds fkDirectory = 0x10;
constexpr TFileKinds fkArchive = 0x20;
constexpr TFileKinds fkNormal = 0x40;  // any file

// The result of the last CollectFiles call; lives for the whole run.
extern TSortStringList FoundFiles;

// Empties FoundFiles and fills it with name + "=" + time for every entry of
// Dir that matches one of the ';'-separated Masks ('*' and '?', compared
// without case) and Kinds: entries with a hidden, system, volume-label or
// directory attribute that the kinds lack are passed over; the others are
// kept when Kinds holds the any-file kind or shares an attribute with them.
// With StripExtension only the part of a name before its first '.' is
// stored (a name without '.' is skipped); a name that is blank after
// trimming is skipped. Entries are in the file system's order, mask by mask.
//
// When Dir cannot be made the current directory: EInOutError ("E/A-Fehler"
// with the system's error code) and FoundFiles keeps its content. The
// current directory is restored in every case; failing that raises the same
// error after the list was filled.
void CollectFiles(const QString& Dir, TFileKinds Kinds, const QString& Masks, bool StripExtension);

// --- The pieces of an entry, for the collector and its tests ---------------

// True when name matches the mask: '*' any run of characters, '?' one
// character, compared without case; a mask ending in ".*" also matches
// what it matches without that ending ("*.*" matches every name, "FILES.*"
// matches FILES).
bool matchesMask(const QString& name, const QString& mask);

// A modification time as an entry shows it: local time rounded down to two
// seconds, the locale's short date, a blank and its long time (without a
// time-zone name), the time left out at exactly midnight, trimmed.
QString fileTimeText(const QDateTime& modified, const QLocale& locale);

}  // namespace vrk
