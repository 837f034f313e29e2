#include "ZipDirectory.h"

#include "Messages.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace vrk::unzip {
namespace {

constexpr size_t kEndRecord = 22;     // end of central directory record
constexpr size_t kEndLocator64 = 20;  // Zip64 end record locator
constexpr size_t kEndRecord64 = 56;   // Zip64 end record (fixed part)
constexpr size_t kCentralHeader = 46;
constexpr size_t kLocalHeader = 30;
constexpr size_t kMaxComment = 0xFFFF;
constexpr size_t kWindow = 64 * 1024;
// A sound archive has one end record; a tail full of signatures is refused
// rather than parsed candidate after candidate.
constexpr int kMaxCandidates = 64;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

bool hasSignature(const uint8_t* p, uint8_t a, uint8_t b) {
  return p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

// n bytes at off of the file; false when they lie outside it or a read fails.
bool readAt(int fd, uint64_t fileSize, uint64_t off, void* buf, size_t n) {
  if (off > fileSize || n > fileSize - off) return false;
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(off));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    off += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

// Sequential reading of the central directory through one buffer.
class TWindow final {
 public:
  TWindow(int fd, uint64_t fileSize) : m_fd(fd), m_fileSize(fileSize) {}

  // The n bytes at off, valid until the next call; null when they lie
  // outside the file.
  const uint8_t* at(uint64_t off, size_t n) {
    if (off >= m_start && off - m_start <= m_buf.size() && n <= m_buf.size() - (off - m_start))
      return m_buf.data() + (off - m_start);
    if (off > m_fileSize || n > m_fileSize - off) return nullptr;
    const size_t len = static_cast<size_t>(std::min<uint64_t>(std::max(n, kWindow), m_fileSize - off));
    m_buf.resize(len);
    m_start = off;
    if (!readAt(m_fd, m_fileSize, off, m_buf.data(), len)) {
      m_buf.clear();
      return nullptr;
    }
    return m_buf.data();
  }

 private:
  int m_fd;
  uint64_t m_fileSize;
  uint64_t m_start = 0;
  std::vector<uint8_t> m_buf;
};

struct TEndRecord {
  uint64_t entries = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  uint64_t recordStart = 0;  // where the central directory must end at the latest
  bool zip64 = false;
  uint32_t commentLength = 0;
};

// The Zip64 values of one central header, taken from its extra field 0x0001
// in the order the format gives: size, compressed size, offset.
bool applyZip64Extra(const uint8_t* extra, size_t len, TZipEntry& e, bool wantSize, bool wantCompressed,
                     bool wantOffset) {
  size_t pos = 0;
  while (pos + 4 <= len) {
    const uint16_t id = le16(extra + pos);
    const uint16_t size = le16(extra + pos + 2);
    if (pos + 4 + size > len) return false;
    if (id == 0x0001) {
      const uint8_t* p = extra + pos + 4;
      size_t left = size;
      auto take = [&](uint64_t& v) {
        if (left < 8) return false;
        v = le64(p);
        p += 8;
        left -= 8;
        return true;
      };
      return (!wantSize || take(e.size)) && (!wantCompressed || take(e.compressedSize)) &&
             (!wantOffset || take(e.headerOffset));
    }
    pos += 4 + size;
  }
  return !wantSize && !wantCompressed && !wantOffset;
}

// Reads the end record at pos of the tail (tail starts at tailStart).
std::optional<TEndRecord> readEndRecord(int fd, uint64_t fileSize, const std::vector<uint8_t>& tail,
                                        uint64_t tailStart, size_t pos, std::string& error) {
  const uint8_t* p = tail.data() + pos;
  TEndRecord r;
  r.recordStart = tailStart + pos;
  r.commentLength = le16(p + 20);
  if (r.recordStart + kEndRecord + r.commentLength > fileSize) {
    error = msg::ZipCommentPastEnd;
    return std::nullopt;
  }
  const uint16_t disk = le16(p + 4), directoryDisk = le16(p + 6);
  const uint16_t diskEntries = le16(p + 8), entries = le16(p + 10);
  r.entries = entries;
  r.directorySize = le32(p + 12);
  r.directoryOffset = le32(p + 16);

  // A Zip64 locator right before the record leads to the Zip64 end record.
  uint8_t loc[kEndLocator64];
  if (r.recordStart >= kEndLocator64 &&
      readAt(fd, fileSize, r.recordStart - kEndLocator64, loc, sizeof loc) && hasSignature(loc, 6, 7)) {
    const uint64_t at = le64(loc + 8);
    uint8_t rec[kEndRecord64];
    if (at > r.recordStart - kEndLocator64 || r.recordStart - kEndLocator64 - at < kEndRecord64 ||
        !readAt(fd, fileSize, at, rec, sizeof rec) || !hasSignature(rec, 6, 6)) {
      error = msg::ZipBadEndRecord64;
      return std::nullopt;
    }
    if (le32(rec + 16) != 0 || le32(rec + 20) != 0 || le64(rec + 24) != le64(rec + 32)) {
      error = msg::ZipSeveralDisks;
      return std::nullopt;
    }
    r.entries = le64(rec + 32);
    r.directorySize = le64(rec + 40);
    r.directoryOffset = le64(rec + 48);
    r.recordStart = at;
    r.zip64 = true;
  } else if (disk != 0 || directoryDisk != 0 || diskEntries != entries) {
    error = msg::ZipSeveralDisks;
    return std::nullopt;
  }
  if (r.directoryOffset > r.recordStart || r.directorySize > r.recordStart - r.directoryOffset) {
    error = msg::ZipDirectoryOutside;
    return std::nullopt;
  }
  return r;
}

// Reads every central header of the directory r describes.
bool readEntries(int fd, uint64_t fileSize, const TEndRecord& r, std::vector<TZipEntry>& entries,
                 std::string& error) {
  TWindow window(fd, fileSize);
  const uint64_t end = r.directoryOffset + r.directorySize;
  uint64_t pos = r.directoryOffset;
  entries.clear();
  entries.reserve(static_cast<size_t>(std::min<uint64_t>(r.entries, r.directorySize / kCentralHeader)));
  while (pos < end) {
    // Archives of more than 65535 entries without Zip64 keep only the count's
    // low 16 bits; what follows the counted entries must then be more entries.
    if (entries.size() == r.entries && (r.zip64 || end - pos < kCentralHeader)) break;
    const uint8_t* h = end - pos >= kCentralHeader ? window.at(pos, kCentralHeader) : nullptr;
    if (!h || !hasSignature(h, 1, 2)) {
      error = msg::ZipBadEntry + std::to_string(entries.size() + 1);
      return false;
    }
    TZipEntry e;
    e.madeBy = le16(h + 4);
    e.flags = le16(h + 8);
    e.method = le16(h + 10);
    e.dosTime = le16(h + 12);
    e.dosDate = le16(h + 14);
    e.crc = le32(h + 16);
    e.compressedSize = le32(h + 20);
    e.size = le32(h + 24);
    const uint16_t nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
    e.externalAttributes = le32(h + 38);
    e.headerOffset = le32(h + 42);
    const uint64_t total = kCentralHeader + static_cast<uint64_t>(nameLen) + extraLen + commentLen;
    const uint8_t* v = total <= end - pos ? window.at(pos, static_cast<size_t>(total)) : nullptr;
    if (!v) {
      error = msg::ZipEntryPastDirectory + std::to_string(entries.size() + 1) + msg::ZipEntryPastDirectoryEnd;
      return false;
    }
    e.name.assign(reinterpret_cast<const char*>(v + kCentralHeader), nameLen);
    const bool wantSize = e.size == 0xFFFFFFFF, wantCompressed = e.compressedSize == 0xFFFFFFFF,
               wantOffset = e.headerOffset == 0xFFFFFFFF;
    if ((wantSize || wantCompressed || wantOffset) &&
        !applyZip64Extra(v + kCentralHeader + nameLen, extraLen, e, wantSize, wantCompressed, wantOffset)) {
      error = msg::ZipBadZip64Field + std::to_string(entries.size() + 1);
      return false;
    }
    entries.push_back(std::move(e));
    pos += total;
  }
  if (r.zip64 ? entries.size() != r.entries : (entries.size() & 0xFFFF) != (r.entries & 0xFFFF)) {
    error = msg::ZipEntryCount + std::to_string(entries.size()) + msg::ZipEntryCountSays +
            std::to_string(r.entries);
    return false;
  }
  return true;
}

// Where each entry's data lies, from its local header; and that no two
// entries share a byte and none reaches into the central directory.
bool checkLayout(int fd, uint64_t fileSize, uint64_t directoryOffset, std::vector<TZipEntry>& entries,
                 std::string& error) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;  // [header, data end) with the entry index
  std::vector<size_t> order;
  spans.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    TZipEntry& e = entries[i];
    uint8_t h[kLocalHeader];
    if (e.headerOffset > directoryOffset || directoryOffset - e.headerOffset < kLocalHeader ||
        !readAt(fd, fileSize, e.headerOffset, h, sizeof h) || !hasSignature(h, 3, 4)) {
      error = msg::ZipNoLocalHeader + PrintableName(e.name) + "\"";
      return false;
    }
    e.dataOffset = e.headerOffset + kLocalHeader + le16(h + 26) + le16(h + 28);
    if (e.dataOffset > directoryOffset || e.compressedSize > directoryOffset - e.dataOffset) {
      error = msg::ZipDataIntoDirectory + PrintableName(e.name) + msg::ZipDataIntoDirectoryEnd;
      return false;
    }
    spans.emplace_back(e.headerOffset, e.dataOffset + e.compressedSize);
    order.push_back(i);
  }
  // By offset, then in directory order: of entries at one place the first
  // listed is named first.
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return spans[a].first != spans[b].first ? spans[a].first < spans[b].first : a < b;
  });
  for (size_t k = 1; k < order.size(); ++k) {
    const size_t a = order[k - 1], b = order[k];
    if (spans[a].second > spans[b].first) {
      error = msg::ZipOverlap + PrintableName(entries[a].name) + msg::ZipOverlapAnd +
              PrintableName(entries[b].name) + msg::ZipOverlapEnd;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string PrintableName(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

bool ReadZipDirectory(int fd, uint64_t fileSize, TZipDirectory& out, std::string& error) {
  if (fileSize < kEndRecord) {
    error = msg::ZipNotAZipFile;
    return false;
  }
  const uint64_t tailLen = std::min<uint64_t>(fileSize, kEndRecord + kMaxComment + kEndLocator64);
  const uint64_t tailStart = fileSize - tailLen;
  std::vector<uint8_t> tail(static_cast<size_t>(tailLen));
  if (!readAt(fd, fileSize, tailStart, tail.data(), tail.size())) {
    error = msg::ZipCannotReadArchive;
    return false;
  }

  // Every end record signature of the tail is a candidate; exactly one may
  // describe a readable central directory, or the archive is ambiguous.
  int candidates = 0, found = 0;
  std::string firstError;
  for (size_t pos = tail.size() - kEndRecord + 1; pos-- > 0;) {
    if (!hasSignature(tail.data() + pos, 5, 6)) continue;
    if (++candidates > kMaxCandidates) {
      error = msg::ZipTooManyEndRecords;
      return false;
    }
    std::string why;
    std::vector<TZipEntry> entries;
    const std::optional<TEndRecord> r = readEndRecord(fd, fileSize, tail, tailStart, pos, why);
    if (r && readEntries(fd, fileSize, *r, entries, why)) {
      if (++found > 1) {
        error = msg::ZipSeveralEndRecords;
        return false;
      }
      out.entries = std::move(entries);
      out.directoryOffset = r->directoryOffset;
      out.commentLength = r->commentLength;
    } else if (firstError.empty()) {
      firstError = why;
    }
  }
  if (candidates == 0) {
    error = msg::ZipNotAZipFile;
    return false;
  }
  if (found == 0) {
    error = firstError;
    return false;
  }
  return checkLayout(fd, fileSize, out.directoryOffset, out.entries, error);
}

}  // namespace vrk::unzip
