#include "UnzipLibrary.h"

#include "ArchiveSource.h"
#include "DiskSpace.h"
#include "FileDescriptor.h"
#include "MemberFile.h"
#include "Messages.h"
#include "ZipDirectory.h"

#include <zip.h>

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace vrk::unzip {
namespace {

thread_local TUnzipReportScope* t_scope = nullptr;

// A member above 100 MB may not claim more than 1000 bytes per stored byte.
constexpr uint64_t kBombSize = 100ull * 1000 * 1000;
constexpr uint64_t kBombRatio = 1000;
// Member data moves in blocks of this size, whatever the member's size.
constexpr size_t kBlock = 256 * 1024;
// Bounds of the whole archive, from the sizes its central directory
// declares (no member writes past its own): the members one extraction
// takes, the bytes they write at most, and their total ratio once they
// write more than kTotalRatioFloor.
constexpr size_t kMaxMembers = 10000;
constexpr uint64_t kMaxTotalSize = 4ull * 1000 * 1000 * 1000;
constexpr uint64_t kTotalRatioFloor = 10ull * 1000 * 1000;

// The free space an extraction leaves on the directory's file system.
uint64_t g_freeSpaceMargin = kFreeSpaceMargin;

// Whether n more bytes leave the margin free on the file system of fd (an
// unknown free space counts as room).
bool roomFor(int fd, uint64_t n) {
  const qint64 free = freeBytes(fd);
  return free < 0 ||
         (static_cast<uint64_t>(free) >= n && static_cast<uint64_t>(free) - n >= g_freeSpaceMargin);
}

std::string noRoomText() { return msg::ZipNoRoom + std::to_string(g_freeSpaceMargin) + msg::ZipNoRoomEnd; }

uint32_t clamp32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

const char* methodName(uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 6: return "Imploded";
    case 8: return "Deflated";
    case 9: return "Deflate64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return "Unknown";
  }
}

// The stored DOS date and time as local time; 0 when there is none.
time_t memberTime(uint16_t date, uint16_t time) {
  if (date == 0) return 0;
  std::tm t{};
  t.tm_year = 80 + (date >> 9);
  t.tm_mon = ((date >> 5) & 15) - 1;
  t.tm_mday = date & 31;
  t.tm_hour = time >> 11;
  t.tm_min = (time >> 5) & 63;
  t.tm_sec = (time & 31) * 2;
  t.tm_isdst = -1;
  const time_t result = std::mktime(&t);
  return result == -1 ? 0 : result;
}

enum class TKind { File, Directory, Link, Special };

// Hosts whose tools keep MS-DOS attributes in the low byte of the external
// attributes: FAT, HPFS, NTFS, VFAT, and 11, which Windows tools write too.
bool dosAttributes(unsigned host) { return host == 0 || host == 6 || host == 10 || host == 11 || host == 14; }

constexpr uint32_t kDosDirectory = 0x10;

// What an entry is: a name ending in a separator is a directory (a
// backslash only in a name without '/', where it is one: see BareName);
// archives written on Unix carry the file type in the high half of the
// attributes, those written on MS-DOS and Windows the directory attribute
// in the low byte, with or without a separator at the end of the name.
TKind kindOf(const TZipEntry& e) {
  const std::string& name = e.text;
  if (!name.empty() && (name.back() == '/' || (name.back() == '\\' && name.find('/') == std::string::npos)))
    return TKind::Directory;
  const unsigned host = e.madeBy >> 8;
  const bool unixHost = host == 3 || host == 19;  // Unix, OS X
  const uint32_t type = (e.externalAttributes >> 16) & S_IFMT;
  if (unixHost) {
    if (type == S_IFLNK) return TKind::Link;
    if (type == S_IFDIR) return TKind::Directory;
    if (type != 0 && type != S_IFREG) return TKind::Special;
  }
  if ((e.externalAttributes & kDosDirectory) != 0 && (dosAttributes(host) || (unixHost && type == 0)))
    return TKind::Directory;
  return TKind::File;
}

// The reason for a libzip error while opening or reading a member.
std::string readReason(int zipError) {
  switch (zipError) {
    case ZIP_ER_CRC: return msg::ZipCrcError;
    case ZIP_ER_WRONGPASSWD: return msg::ZipWrongPassword;
    case ZIP_ER_COMPNOTSUPP: return msg::ZipCompressionNotSupported;
    case ZIP_ER_ENCRNOTSUPP: return msg::ZipEncryptionNotSupported;
    case ZIP_ER_READ: return msg::ZipReadError;
    default: {
      zip_error_t e;
      zip_error_init_with_code(&e, zipError);
      std::string text = std::string(msg::ZipDamagedData) + zip_error_strerror(&e) + ")";
      zip_error_fini(&e);
      return text;
    }
  }
}

struct TArchiveCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct TMemberCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

}  // namespace

// One run of UnzipSingleEntry.
class TExtraction final {
 public:
  TExtraction(const TUnzipOptions& options, TUnzipCallbacks& callbacks)
      : m_options(options), m_callbacks(callbacks), m_report(t_scope ? t_scope->m_report : m_ownReport) {
    m_report = TUnzipReport{};
  }

  int run(int includeCount, const char* const* includeList, int excludeCount, const char* const* excludeList);

 private:
  bool parametersSupported();
  bool selected(const std::string& name) const;
  std::string overLimit(const TZipDirectory& directory, const TTargetDir& target) const;
  int stopOverLimit(const std::string& error, const TTargetDir& target);
  bool sameDirectory(zip_t* archive, const TZipDirectory& directory) const;
  void list(const TZipEntry& e, const std::string& printable);
  bool member(zip_t* archive, zip_uint64_t index, const TZipEntry& e, const std::string& printable,
              const TTargetDir& target);
  static bool encryptionSupported(zip_t* archive, zip_uint64_t index);
  bool askPassword(const std::string& printable, std::string& password);
  bool write(zip_t* archive, zip_uint64_t index, const TZipEntry& e, const std::string& printable,
             const std::string& bare, const std::string& password, const TTargetDir& target);
  bool skip(const std::string& printable, const std::string& reason, bool failed);
  bool writeFailed(const std::string& printable, const TWriteFailure& failure);
  int fail(int result, const std::string& error);
  int finish(int result);
  void say(bool problem, const std::string& text);

  const TUnzipOptions m_options;  // read once: a nested extraction may change the caller's record
  TUnzipCallbacks& m_callbacks;
  TUnzipReport m_ownReport;
  TUnzipReport& m_report;
  int m_includeCount = 0, m_excludeCount = 0;
  const char* const* m_includeList = nullptr;
  const char* const* m_excludeList = nullptr;
  uint64_t m_totalSize = 0, m_totalCompressed = 0;
  uint32_t m_listed = 0, m_commentLength = 0;
  std::unique_ptr<char[]> m_block;
  std::vector<std::string> m_written;  // the names this extraction gave its members
  bool m_noRoom = false;               // a write would have left less than the margin free
};

int TExtraction::run(int includeCount, const char* const* includeList, int excludeCount,
                     const char* const* excludeList) {
  m_includeCount = includeList ? includeCount : 0;
  m_includeList = includeList;
  m_excludeCount = excludeList ? excludeCount : 0;
  m_excludeList = excludeList;
  if (!parametersSupported()) return finish(kUnzipBadParameter);

  const TFileDescriptor fd(::open(m_options.zipFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    const int err = errno;
    return fail(kUnzipBadArchive, msg::ZipCannotOpenArchive + sysErrorText(err));
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(kUnzipBadArchive, msg::ZipNotAZipFile);
  TZipDirectory directory;
  std::string error;
  if (!ReadZipDirectory(fd.get(), static_cast<uint64_t>(st.st_size), directory, error))
    return fail(kUnzipBadArchive, error);
  m_commentLength = directory.commentLength;

  // libzip reads the very file that was checked, through the same descriptor.
  // An archive behind a prefix is shown to libzip from its own first byte,
  // where its offsets count from.
  TArchiveSource source(fd.get(), directory.archiveStart,
                        static_cast<uint64_t>(st.st_size) - directory.archiveStart);
  int zipError = 0;
  zip_t* opened = source.open(zipError);
  if (!opened) {
    zip_error_t e;
    zip_error_init_with_code(&e, zipError);
    error = std::string(msg::ZipDamaged) + zip_error_strerror(&e);
    zip_error_fini(&e);
    return fail(kUnzipBadArchive, error);
  }
  const std::unique_ptr<zip_t, TArchiveCloser> archive(opened);
  if (!sameDirectory(archive.get(), directory)) return fail(kUnzipBadArchive, msg::ZipReadsTwoWays);
  m_report.opened = true;

  TTargetDir target;
  if (const int err = target.open(m_options.targetDir))
    return fail(kUnzipStopped, msg::ZipCannotOpenDirectory + sysErrorText(err));
  if (const std::string limit = overLimit(directory, target); !limit.empty())
    return stopOverLimit(limit, target);
  m_block = std::make_unique<char[]>(kBlock);

  for (size_t i = 0; i < directory.entries.size(); ++i) {
    const TZipEntry& e = directory.entries[i];
    const std::string printable = PrintableName(e.text);
    if (!selected(printable)) continue;
    list(e, printable);
    if (m_callbacks.service && m_callbacks.service(printable.c_str(), e.size) != 0) {
      m_report.error = msg::ZipCancelled;
      return finish(kUnzipCancelled);
    }
    if (!member(archive.get(), i, e, printable, target))
      return m_noRoom ? stopOverLimit(noRoomText(), target) : finish(kUnzipStopped);
  }
  m_report.complete = true;
  return finish(m_report.skipped.empty() ? kUnzipOk : kUnzipWarning);
}

// The first bound of the whole archive that the selected members would
// pass, as the error; empty when none.
std::string TExtraction::overLimit(const TZipDirectory& directory, const TTargetDir& target) const {
  size_t members = 0;
  unsigned __int128 size = 0, compressed = 0;  // sums of 64-bit sizes: no overflow
  for (const TZipEntry& e : directory.entries) {
    if (!selected(PrintableName(e.text))) continue;
    ++members;
    if (kindOf(e) != TKind::File) continue;
    size += e.size;
    compressed += e.compressedSize;
  }
  if (members > kMaxMembers) return msg::ZipTooManyMembers + std::to_string(kMaxMembers);
  if (size > kMaxTotalSize)
    return msg::ZipTotalTooLarge + std::to_string(kMaxTotalSize) + msg::ZipTotalTooLargeEnd;
  if (size > kTotalRatioFloor && compressed * kBombRatio < size) return msg::ZipTotalRatioTooHigh;
  if (!roomFor(target.fd(), static_cast<uint64_t>(size))) return noRoomText();
  return {};
}

// A bound of the whole archive ends the extraction: the members it wrote
// are removed again, so that it leaves nothing.
int TExtraction::stopOverLimit(const std::string& error, const TTargetDir& target) {
  for (const std::string& name : m_written) ::unlinkat(target.fd(), name.c_str(), 0);
  m_written.clear();
  m_report.extracted = 0;
  m_report.error = error;
  say(true, std::string(m_options.zipFile) + ": " + error);
  return finish(kUnzipStopped);
}

bool TExtraction::parametersSupported() {
  if (!m_options.zipFile || !m_options.targetDir) {
    m_report.error = msg::ZipNoFileOrDirectory;
    return false;
  }
  const struct {
    int32_t value;
    const char* name;
  } unsupported[] = {
      {m_options.newerOnly, "extract only newer files"},
      {m_options.blanksToUnderscores, "blanks to underscores"},
      {m_options.toStandardOutput, "members to standard output"},
      {m_options.testOnly, "test only"},
      {m_options.verboseListing, "verbose listing"},
      {m_options.freshenOnly, "freshen only"},
      {m_options.showComment, "show the comment"},
      {m_options.recreateDirectories, "recreate stored directories"},
      {m_options.translateLineEnds, "translate line ends"},
      {m_options.archiveInfo, "archive information"},
      {m_options.restoreAccess, "restore access-control data"},
  };
  for (const auto& option : unsupported) {
    if (option.value != 0) {
      m_report.error = std::string(msg::ZipOptionNotSupported) + option.name;
      return false;
    }
  }
  return true;
}

bool TExtraction::selected(const std::string& name) const {
  const int flags = m_options.ignoreCase ? FNM_CASEFOLD : 0;
  bool included = m_includeCount <= 0;
  for (int i = 0; i < m_includeCount && !included; ++i)
    included = m_includeList[i] && ::fnmatch(m_includeList[i], name.c_str(), flags) == 0;
  if (!included) return false;
  for (int i = 0; i < m_excludeCount; ++i)
    if (m_excludeList[i] && ::fnmatch(m_excludeList[i], name.c_str(), flags) == 0) return false;
  return true;
}

// libzip and our reading must see the same entries in the same order, with
// the same sizes, CRCs, methods and encryption, or the layout that was
// checked is not the one that would be extracted. Names are not compared:
// which name an entry lands under is this reading's to say (libzip takes a
// Unicode Path field as the raw name, too).
bool TExtraction::sameDirectory(zip_t* archive, const TZipDirectory& directory) const {
  if (zip_get_num_entries(archive, 0) != static_cast<zip_int64_t>(directory.entries.size())) return false;
  for (size_t i = 0; i < directory.entries.size(); ++i) {
    const TZipEntry& e = directory.entries[i];
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, i, ZIP_FL_ENC_RAW, &st) != 0) return false;
    if (!(st.valid & ZIP_STAT_SIZE) || st.size != e.size) return false;
    if (!(st.valid & ZIP_STAT_COMP_SIZE) || st.comp_size != e.compressedSize) return false;
    // An AES member may leave its CRC out (stored as 0): the AE-2 form,
    // whose data carries its own check.
    if ((st.valid & ZIP_STAT_CRC) ? st.crc != e.crc : !(e.method == kZipAesMethod && e.crc == 0))
      return false;
    const uint16_t method = e.method == kZipAesMethod ? e.aesMethod.value_or(e.method) : e.method;
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != method) return false;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && (st.encryption_method != ZIP_EM_NONE) != e.encrypted())
      return false;
  }
  return true;
}

void TExtraction::list(const TZipEntry& e, const std::string& printable) {
  ++m_listed;
  m_totalSize += e.size;
  m_totalCompressed += e.compressedSize;
  if (!m_callbacks.memberListing) return;
  const char flag = e.encrypted() ? '*' : ' ';
  m_callbacks.memberListing(
      clamp32(e.size), clamp32(e.compressedSize), CompressionFactor(e.size, e.compressedSize),
      (e.dosDate >> 5) & 15, e.dosDate & 31, (1980 + (e.dosDate >> 9)) % 100, e.dosTime >> 11,
      (e.dosTime >> 5) & 63, flag, printable.c_str(), methodName(e.method), e.crc, flag);
}

// Extracts one listed entry or records why not. False: the extraction
// cannot go on.
bool TExtraction::member(zip_t* archive, zip_uint64_t index, const TZipEntry& e, const std::string& printable,
                         const TTargetDir& target) {
  switch (kindOf(e)) {
    case TKind::Directory:
      ++m_report.directories;  // stored directories are junked
      return true;
    case TKind::Link: return skip(printable, msg::ZipSymbolicLink, false);
    case TKind::Special: return skip(printable, msg::ZipNotRegularFile, false);
    case TKind::File: break;
  }
  const std::string bare = BareName(e.text);
  if (bare.empty()) return skip(printable, msg::ZipUnsafeName, false);
  std::string password;
  if (e.encrypted()) {
    if (!encryptionSupported(archive, index)) return skip(printable, msg::ZipEncryptionNotSupported, false);
    if (!askPassword(printable, password)) return skip(printable, msg::ZipEncrypted, false);
  }
  // AES-encrypted members name their real method inside; libzip judges those.
  if (e.method != kZipAesMethod && !zip_compression_method_supported(e.method, 0))
    return skip(printable, msg::ZipCompressionNotSupported, false);
  if (e.method == 0 && !e.encrypted() && e.compressedSize != e.size)
    return skip(printable, msg::ZipSizesDisagree, true);
  if (e.size > kBombSize && static_cast<unsigned __int128>(e.compressedSize) * kBombRatio < e.size)
    return skip(printable, msg::ZipRatioTooHigh, true);
  if (!m_options.overwriteExisting && target.exists(bare)) {
    const bool replace = m_options.askBeforeOverwrite && m_callbacks.replaceQuestion &&
                         m_callbacks.replaceQuestion(bare.c_str()) == 1;
    if (!replace) return skip(printable, msg::ZipExists, false);
  }
  return write(archive, index, e, printable, bare, password, target);
}

// Asked before libzip is: libzip 1.7.3 leaks the member's reader when it
// refuses an encryption method on opening.
bool TExtraction::encryptionSupported(zip_t* archive, zip_uint64_t index) {
  zip_stat_t st;
  zip_stat_init(&st);
  return zip_stat_index(archive, index, 0, &st) == 0 && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
         zip_encryption_method_supported(st.encryption_method, 0);
}

bool TExtraction::askPassword(const std::string& printable, std::string& password) {
  if (!m_callbacks.passwordRequest) return false;
  char buffer[256] = {};
  const int answer =
      m_callbacks.passwordRequest(buffer, sizeof buffer, msg::ZipPasswordPrompt, printable.c_str());
  buffer[sizeof buffer - 1] = '\0';
  if (answer == 0) password = buffer;
  std::memset(buffer, 0, sizeof buffer);
  return !password.empty();
}

bool TExtraction::write(zip_t* archive, zip_uint64_t index, const TZipEntry& e, const std::string& printable,
                        const std::string& bare, const std::string& password, const TTargetDir& target) {
  zip_file_t* opened = password.empty() ? zip_fopen_index(archive, index, 0)
                                        : zip_fopen_index_encrypted(archive, index, 0, password.c_str());
  if (!opened) {
    const int code = zip_error_code_zip(zip_get_error(archive));
    zip_error_clear(archive);
    const bool byRule =
        code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_COMPNOTSUPP || code == ZIP_ER_ENCRNOTSUPP;
    return skip(printable, readReason(code), !byRule);
  }
  const std::unique_ptr<zip_file_t, TMemberCloser> data(opened);
  TMemberFile out(target);
  if (const int err = out.create()) return writeFailed(printable, DescribeWriteError(err));
  uint64_t total = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(data.get(), m_block.get(), kBlock);
    if (n < 0) {
      const int code = zip_error_code_zip(zip_file_get_error(data.get()));
      return skip(printable, readReason(code), code != ZIP_ER_WRONGPASSWD);
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > e.size) return skip(printable, msg::ZipDataTooLong, true);
    // Another writer may have taken the room there was at the start.
    if (!roomFor(target.fd(), static_cast<uint64_t>(n))) {
      m_noRoom = true;
      return false;
    }
    if (const int err = out.write(m_block.get(), static_cast<size_t>(n)))
      return writeFailed(printable, DescribeWriteError(err));
  }
  if (total != e.size) return skip(printable, msg::ZipDataTooShort, true);
  if (const int err = out.commit(bare, memberTime(e.dosDate, e.dosTime)))
    return writeFailed(printable, DescribeWriteError(err, true));
  ++m_report.extracted;
  m_written.push_back(bare);
  say(false, msg::ZipExtracted + printable);
  return true;
}

bool TExtraction::skip(const std::string& printable, const std::string& reason, bool failed) {
  m_report.skipped.push_back({printable, reason, failed});
  say(true, printable + ": " + reason);
  return true;
}

bool TExtraction::writeFailed(const std::string& printable, const TWriteFailure& failure) {
  skip(printable, failure.reason, true);
  if (!failure.stop) return true;
  m_report.error = failure.reason;
  return false;
}

int TExtraction::fail(int result, const std::string& error) {
  m_report.error = error;
  say(true, std::string(m_options.zipFile) + ": " + error);
  return finish(result);
}

int TExtraction::finish(int result) {
  m_callbacks.totalSize = m_totalSize;
  m_callbacks.totalCompressed = m_totalCompressed;
  m_callbacks.factor = CompressionFactor(m_totalSize, m_totalCompressed);
  m_callbacks.memberCount = m_listed;
  m_callbacks.commentLength = m_commentLength;
  if (m_options.quietLevel < 2 && m_callbacks.sound && (!m_report.skipped.empty() || !m_report.error.empty()))
    m_callbacks.sound();
  return result;
}

void TExtraction::say(bool problem, const std::string& text) {
  if (m_options.quietLevel >= 2 || (m_options.quietLevel == 1 && !problem) || !m_callbacks.textOutput) return;
  const std::string line = text + "\n";
  m_callbacks.textOutput(line.c_str(), line.size());
}

TUnzipReportScope::TUnzipReportScope() : m_outer(t_scope) { t_scope = this; }

TUnzipReportScope::~TUnzipReportScope() { t_scope = m_outer; }

void SetFreeSpaceMargin(uint64_t bytes) { g_freeSpaceMargin = bytes; }

uint32_t CompressionFactor(uint64_t size, uint64_t compressedSize) {
  if (size == 0) return 0;
  const unsigned __int128 diff = size > compressedSize ? size - compressedSize : compressedSize - size;
  const unsigned __int128 twice = static_cast<unsigned __int128>(size) * 2;
  const unsigned __int128 factor = (diff * 200 + size) / twice;  // diff × 100 / size, half up
  return factor > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(factor);
}

int UnzipSingleEntry(int includeCount, const char* const* includeList, int excludeCount,
                     const char* const* excludeList, TUnzipOptions* options, TUnzipCallbacks* callbacks) {
  if (!options || !callbacks) return kUnzipBadParameter;
  TExtraction extraction(*options, *callbacks);
  return extraction.run(includeCount, includeList, excludeCount, excludeList);
}

}  // namespace vrk::unzip
