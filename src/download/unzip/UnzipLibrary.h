// The Zip extraction library: one entry, UnzipSingleEntry, that unpacks the
// members of one Zip file into one directory as an options record says and
// reports through a record of callbacks. Built on libzip for reading and
// inflating member data and checking their CRCs; the layout of the archive
// is checked first by our own reading of its central directory.
//
// What it guarantees whatever the archive holds: nothing is written outside
// the extraction directory; no link is created or followed; a member lands
// whole or not at all (written to a temporary file, renamed over its name
// only after its data and CRC checked out); member data is streamed in
// blocks; members that inflate past their declared size, members over
// 100 MB that claim a ratio over 1000:1, and archives whose entries overlap
// are refused. So is an archive that would pass a bound of the whole: more
// than 10000 members, more than 4 GB written, a total ratio over 1000:1
// past 10 MB, or less than a margin (64 MiB) left free on the directory's
// file system, judged from the sizes the central directory declares before
// anything is written, and for the free space also at every block; such an
// archive leaves nothing (what it wrote is removed). A member lands under the last part of its name as text,
// with control characters replaced (see BareName); an entry that is a directory (by its name or its
// attributes) creates nothing.
//
// Synchronous; the callbacks run on the calling thread during the call. A
// callback may throw: the extraction then ends, cleaning up its temporary
// file, and the exception leaves UnzipSingleEntry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrk::unzip {

// The options record: fifteen switches, then the two texts. The library
// reads it once when an extraction starts.
struct TUnzipOptions {
  int32_t newerOnly;            // 1 extract only newer files (not supported)
  int32_t blanksToUnderscores;  // 2 turn blanks in names into underscores (not supported)
  int32_t askBeforeOverwrite;   // 3 ask through the replace question before overwriting
  int32_t quietLevel;           // 4 0 all messages, 1 problems only, 2 none
  int32_t toStandardOutput;     // 5 write members to standard output (not supported)
  int32_t testOnly;             // 6 test the archive only (not supported)
  int32_t verboseListing;       // 7 verbose listing (not supported)
  int32_t freshenOnly;          // 8 freshen existing files only (not supported)
  int32_t showComment;          // 9 show the archive comment (not supported)
  int32_t recreateDirectories;  // 10 recreate stored directories (not supported: always junked)
  int32_t overwriteExisting;    // 11 overwrite existing files without asking
  int32_t translateLineEnds;    // 12 translate line ends (not supported)
  int32_t archiveInfo;          // 13 archive-information mode (not supported)
  int32_t ignoreCase;           // 14 match member names without regard to case
  int32_t restoreAccess;        // 15 restore access-control data (not supported)
  const char* zipFile;          // 16 the Zip file
  const char* targetDir;        // 17 the extraction directory
};

// The callback record: six callbacks, then five fields the library fills in
// at the end of an extraction. An empty (null) callback is skipped.
struct TUnzipCallbacks {
  // 1 A message of the library (quiet level 0 or 1); answers how much it consumed.
  unsigned long (*textOutput)(const char* text, unsigned long length);
  // 2 Called once at the end of an extraction that failed or left a member
  // out, unless the quiet level is 2.
  void (*sound)();
  // 3 Whether to replace an existing file (1 replaces); asked only when
  // askBeforeOverwrite is set and overwriteExisting is not.
  int (*replaceQuestion)(const char* fileName);
  // 4 A password for an encrypted member: the buffer (bufferSize bytes,
  // zeroed) takes a NUL-terminated password and the answer 0 means one was
  // given; any other answer, or an empty buffer, skips the member.
  int (*passwordRequest)(char* buffer, int bufferSize, const char* prompt, const char* memberName);
  // 5 One listed member, before it is extracted: uncompressed size,
  // compressed size, compression factor in whole percent, month, day,
  // two-digit year, hour, minute, the flag character ('*' encrypted, else a
  // blank), the member name as UTF-8 text (its Unicode Path field where
  // that belongs to it, else the stored name in UTF-8 or code page 437;
  // control characters as '?'), the compression method's name, the CRC-32,
  // the encryption flag character.
  void (*memberListing)(uint32_t size, uint32_t compressedSize, uint32_t factor, uint32_t month, uint32_t day,
                        uint32_t year, uint32_t hour, uint32_t minute, char flag, const char* name,
                        const char* method, uint32_t crc, char encryptionFlag);
  // 6 Called per member after its listing; a non-zero answer stops the extraction.
  int (*service)(const char* memberName, unsigned long size);

  uint64_t totalSize;        // uncompressed sizes of the listed members
  uint64_t totalCompressed;  // their compressed sizes
  uint32_t factor;           // the compression factor of the two totals
  uint32_t memberCount;      // members listed
  uint32_t commentLength;    // length of the archive comment
};

// Results of UnzipSingleEntry.
enum : int {
  kUnzipOk = 0,          // read to its end; every selected member extracted
  kUnzipWarning = 1,     // read to its end; some members skipped or failed
  kUnzipBadArchive = 2,  // missing, not a Zip file or damaged: nothing extracted
  kUnzipStopped = 3,     // stopped: full disk, unwritable or missing directory, a bound of the whole archive
  kUnzipCancelled = 4,   // the service callback asked to stop
  kUnzipBadParameter = 5,  // no record, no file or directory, or an unsupported option set
};

// Unpacks the members of options->zipFile into options->targetDir. Include
// and exclude lists are name patterns (fnmatch, '*' also matching '/'); an
// empty include list selects every member.
int UnzipSingleEntry(int includeCount, const char* const* includeList, int excludeCount,
                     const char* const* excludeList, TUnzipOptions* options, TUnzipCallbacks* callbacks);

// The free space an extraction leaves on the directory's file system
// (kFreeSpaceMargin unless set), for every extraction of the process.
void SetFreeSpaceMargin(uint64_t bytes);

// The compression factor the listing passes: |size − compressed| × 100 /
// size in whole percent, rounded half up; 0 when size is 0.
uint32_t CompressionFactor(uint64_t size, uint64_t compressedSize);

// What one extraction did, member by member, for C++ callers.
struct TUnzipSkip {
  std::string name;     // as listed: UTF-8 text, control characters as '?'
  std::string reason;   // short English reason
  bool failed = false;  // failed a check or could not be written (not merely skipped by rule)
};
struct TUnzipReport {
  bool opened = false;    // the archive could be opened and its layout is sound
  bool complete = false;  // opened and every entry gone through
  std::string error;      // why it could not be opened or was not gone through
  int extracted = 0;
  int directories = 0;  // directory entries (nothing is created for them)
  std::vector<TUnzipSkip> skipped;
};

// While an object lives, the extractions on its thread fill its report (the
// innermost one, when they nest).
class TUnzipReportScope final {
 public:
  TUnzipReportScope();
  ~TUnzipReportScope();
  TUnzipReportScope(const TUnzipReportScope&) = delete;
  TUnzipReportScope& operator=(const TUnzipReportScope&) = delete;

  const TUnzipReport& report() const { return m_report; }

 private:
  friend class TExtraction;
  TUnzipReport m_report;
  TUnzipReportScope* m_outer;
};

}  // namespace vrk::unzip
