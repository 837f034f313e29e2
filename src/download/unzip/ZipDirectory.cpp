#include "ZipDirectory.h"

#include "FileDescriptor.h"
#include "Messages.h"

#include <algorithm>
#include <optional>

namespace vrk::unzip {
namespace {

constexpr size_t kEndRecord = 22;     // end of central directory record
constexpr size_t kEndLocator64 = 20;  // Zip64 end record locator
constexpr size_t kEndRecord64 = 56;   // Zip64 end record (fixed part)
// Its version 2 fields, after the fixed part, describe an encrypted central
// directory: method, two sizes, then the encryption algorithm (offset 18).
constexpr size_t kEndRecord64V2 = 28;
constexpr uint8_t kEncryptedDirectoryVersion = 62;  // version needed to read it
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
  const TIoResult got = preadAll(fd, buf, n, off);
  return got.error == 0 && got.bytes == n;
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
  uint64_t recordStart = 0;   // where the central directory must end at the latest
  uint64_t archiveStart = 0;  // the prefix the stored offsets leave out
  bool zip64 = false;
  uint32_t commentLength = 0;
};

// Hands the blocks of an extra field to block(id, data, size) in order, until
// it answers false or a block runs past the field's end.
template <typename F>
void forEachExtra(const uint8_t* extra, size_t len, F&& block) {
  size_t pos = 0;
  while (pos + 4 <= len) {
    const uint16_t id = le16(extra + pos);
    const uint16_t size = le16(extra + pos + 2);
    if (pos + 4 + size > len || !block(id, extra + pos + 4, static_cast<size_t>(size))) return;
    pos += 4 + size;
  }
}

// The Zip64 values of one central header, taken from its extra field 0x0001
// in the order the format gives: size, compressed size, offset.
bool applyZip64Extra(const uint8_t* extra, size_t len, TZipEntry& e, bool wantSize, bool wantCompressed,
                     bool wantOffset) {
  bool complete = false;
  forEachExtra(extra, len, [&](uint16_t id, const uint8_t* p, size_t left) {
    if (id != 0x0001) return true;
    auto take = [&](uint64_t& v) {
      if (left < 8) return false;
      v = le64(p);
      p += 8;
      left -= 8;
      return true;
    };
    complete = (!wantSize || take(e.size)) && (!wantCompressed || take(e.compressedSize)) &&
               (!wantOffset || take(e.headerOffset));
    return false;
  });
  return complete;
}

uint32_t crc32Of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (const char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

bool validUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const uint8_t* const end = p + s.size();
  while (p < end) {
    const uint8_t c = *p++;
    if (c < 0x80) continue;
    int more;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF)
      more = 1, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
      more = 2, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
      more = 3, cp = c & 0x07;
    else
      return false;
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = cp << 6 | (*p & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || (cp >= 0xD800 && cp <= 0xDFFF) ||
        cp > 0x10FFFF)
      return false;
  }
  return true;
}

// Code page 437 from 0x80 on; below, it is ASCII.
constexpr uint16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// The Unicode Path field of a name: version 1, the CRC-32 of the stored name
// it was made for, the name in UTF-8. Empty when there is none, or it was
// made for another name (a tool that renamed the entry kept the old field),
// or its text is not valid UTF-8.
std::string unicodePath(const uint8_t* extra, size_t len, const std::string& stored) {
  std::string path;
  forEachExtra(extra, len, [&](uint16_t id, const uint8_t* p, size_t size) {
    if (id != 0x7075) return true;
    if (size > 5 && p[0] == 1 && le32(p + 1) == crc32Of(stored)) {
      std::string candidate(reinterpret_cast<const char*>(p + 5), size - 5);
      if (validUtf8(candidate)) path = std::move(candidate);
    }
    return false;
  });
  return path;
}

// The method inside a WinZip AES envelope: extra field 0x9901 holds the
// vendor version, "AE", the key strength and the method.
std::optional<uint16_t> aesInnerMethod(const uint8_t* extra, size_t len) {
  std::optional<uint16_t> method;
  forEachExtra(extra, len, [&](uint16_t id, const uint8_t* p, size_t size) {
    if (id != 0x9901) return true;
    if (size >= 7 && p[2] == 'A' && p[3] == 'E') method = le16(p + 5);
    return false;
  });
  return method;
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
    // An encrypted central directory masks the counts, so this comes first.
    uint8_t v2[kEndRecord64V2];
    if ((le16(rec + 14) & 0xFF) >= kEncryptedDirectoryVersion && le64(rec + 4) >= 44 + kEndRecord64V2 &&
        readAt(fd, fileSize, at + kEndRecord64, v2, sizeof v2) && le16(v2 + 18) != 0) {
      error = msg::ZipEncryptedDirectory;
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

// Reads every central header of the directory r describes; the offsets of
// the entries come out as the file's.
bool readEntries(int fd, uint64_t fileSize, const TEndRecord& r, std::vector<TZipEntry>& entries,
                 std::string& error) {
  TWindow window(fd, fileSize);
  const uint64_t end = r.archiveStart + r.directoryOffset + r.directorySize;
  uint64_t pos = r.archiveStart + r.directoryOffset;
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
    const uint8_t* extra = v + kCentralHeader + nameLen;
    e.text = unicodePath(extra, extraLen, e.name);
    if (e.text.empty()) e.text = NameText(e.name);
    if (e.method == kZipAesMethod) e.aesMethod = aesInnerMethod(extra, extraLen);
    const bool wantSize = e.size == 0xFFFFFFFF, wantCompressed = e.compressedSize == 0xFFFFFFFF,
               wantOffset = e.headerOffset == 0xFFFFFFFF;
    if ((wantSize || wantCompressed || wantOffset) &&
        !applyZip64Extra(extra, extraLen, e, wantSize, wantCompressed, wantOffset)) {
      error = msg::ZipBadZip64Field + std::to_string(entries.size() + 1);
      return false;
    }
    if (e.headerOffset <= fileSize) e.headerOffset += r.archiveStart;  // beyond: refused by the layout check
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
      error = msg::ZipNoLocalHeader + PrintableName(e.text) + "\"";
      return false;
    }
    e.dataOffset = e.headerOffset + kLocalHeader + le16(h + 26) + le16(h + 28);
    if (e.dataOffset > directoryOffset || e.compressedSize > directoryOffset - e.dataOffset) {
      error = msg::ZipDataIntoDirectory + PrintableName(e.text) + msg::ZipDataIntoDirectoryEnd;
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
      error = msg::ZipOverlap + PrintableName(entries[a].text) + msg::ZipOverlapAnd +
              PrintableName(entries[b].text) + msg::ZipOverlapEnd;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ReplaceControls(const std::string& name, char replacement) {
  std::string s;
  s.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool c1 = c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(name[i + 1]) <= 0x9F;
    if (c1) ++i;
    s += (c < 0x20 || c == 0x7F || c1) ? replacement : name[i];
  }
  return s;
}

std::string NameText(const std::string& stored) {
  if (validUtf8(stored)) return stored;
  std::string text;
  text.reserve(stored.size() * 2);
  for (const char ch : stored) {
    const auto c = static_cast<unsigned char>(ch);
    const uint16_t cp = c < 0x80 ? c : kCp437[c - 0x80];
    if (cp < 0x80) {
      text += static_cast<char>(cp);
    } else if (cp < 0x800) {
      text += static_cast<char>(0xC0 | cp >> 6);
      text += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | cp >> 12);
      text += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return text;
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
  // describe a readable central directory, or the archive is ambiguous. A
  // directory found only behind a prefix counts when no candidate reads
  // where it says: an archive stored as a member holds a candidate of that
  // kind.
  int candidates = 0, found = 0, foundShifted = 0;
  TZipDirectory shiftedDirectory;
  std::string firstError;
  for (size_t pos = tail.size() - kEndRecord + 1; pos-- > 0;) {
    if (!hasSignature(tail.data() + pos, 5, 6)) continue;
    if (++candidates > kMaxCandidates) {
      error = msg::ZipTooManyEndRecords;
      return false;
    }
    std::string why;
    std::vector<TZipEntry> entries;
    std::optional<TEndRecord> r = readEndRecord(fd, fileSize, tail, tailStart, pos, why);
    bool read = r && readEntries(fd, fileSize, *r, entries, why);
    if (r && !read && !r->zip64 && r->directoryOffset + r->directorySize < r->recordStart) {
      // Not where it says, and it would end before the end record: an archive
      // behind a prefix that its offsets leave out has its directory right
      // before the end record.
      TEndRecord shifted = *r;
      shifted.archiveStart = r->recordStart - r->directoryOffset - r->directorySize;
      std::string ignored;
      if (readEntries(fd, fileSize, shifted, entries, ignored)) {
        ++foundShifted;
        shiftedDirectory = {.entries = std::move(entries),
                            .directoryOffset = shifted.archiveStart + shifted.directoryOffset,
                            .archiveStart = shifted.archiveStart,
                            .commentLength = shifted.commentLength};
        continue;
      }
    }
    if (read) {
      if (++found > 1) {
        error = msg::ZipSeveralEndRecords;
        return false;
      }
      out = {.entries = std::move(entries),
             .directoryOffset = r->directoryOffset,
             .archiveStart = 0,
             .commentLength = r->commentLength};
    } else if (firstError.empty()) {
      firstError = why;
    }
  }
  if (candidates == 0) {
    error = msg::ZipNotAZipFile;
    return false;
  }
  if (found == 0 && foundShifted > 1) {
    error = msg::ZipSeveralEndRecords;
    return false;
  }
  if (found == 0 && foundShifted == 0) {
    error = firstError;
    return false;
  }
  if (found == 0) out = std::move(shiftedDirectory);
  return checkLayout(fd, fileSize, out.directoryOffset, out.entries, error);
}

}  // namespace vrk::unzip
