// Our own reading of a Zip file's central directory and of the local headers
// it points at. It gives the member listing the values as stored (the DOS
// date and time, the attributes, the raw member name and its reading as
// text) and checks the layout before anything is extracted: the end record
// is unambiguous, every entry's local header and data lie before the central
// directory, and no two entries share a byte. libzip reads the member data;
// this reading makes sure that what it reads is laid out soundly.
//
// An archive behind a prefix (a self-extracting program, or bytes put in
// front of it) is read where it lies: when the offsets it stores are counted
// from its own first byte rather than the file's, archiveStart says by how
// much, and every offset of the result is the file's.
//
// Memory is bounded by the central directory, never by member data. Pure
// reading over a file descriptor; any thread, one file per call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrk::unzip {

// The method number of WinZip AES encryption; the real method is inside.
constexpr uint16_t kZipAesMethod = 99;

struct TZipEntry {
  std::string name;  // as stored: raw bytes, any byte value
  // The name as UTF-8 text: the Info-ZIP Unicode Path field (0x7075) when it
  // belongs to this name (its CRC-32 of the stored name matches), otherwise
  // the stored name, read as UTF-8 when it is valid UTF-8 and in code page
  // 437 when it is not. Control characters stay as they are.
  std::string text;
  uint16_t madeBy = 0;   // high byte: the host system that wrote it
  uint16_t flags = 0;    // general-purpose bit flags
  uint16_t method = 0;   // compression method number
  uint16_t dosTime = 0;  // stored time: hour:5 minute:6 second/2:5
  uint16_t dosDate = 0;  // stored date: year-1980:7 month:4 day:5
  uint32_t crc = 0;
  uint32_t externalAttributes = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;          // uncompressed
  uint64_t headerOffset = 0;  // local header
  uint64_t dataOffset = 0;    // first byte of the member's data
  // The method of the data inside a WinZip AES envelope (method 99), from
  // its extra field 0x9901.
  std::optional<uint16_t> aesMethod;

  bool encrypted() const { return (flags & 0x0001) != 0; }
};

struct TZipDirectory {
  std::vector<TZipEntry> entries;  // in central-directory order
  uint64_t directoryOffset = 0;
  uint64_t archiveStart = 0;  // bytes before the archive that its offsets leave out
  uint32_t commentLength = 0;
};

// Reads the directory of the Zip file open on fd, fileSize bytes long. On
// failure returns false with a short English reason in error ("not a Zip
// file", "damaged archive: …").
bool ReadZipDirectory(int fd, uint64_t fileSize, TZipDirectory& out, std::string& error);

// The name with every control character (0x00–0x1F, 0x7F, and U+0080–U+009F
// of UTF-8 text) replaced by one replacement character.
std::string ReplaceControls(const std::string& name, char replacement);

// The name with every control character shown as '?'.
inline std::string PrintableName(const std::string& name) { return ReplaceControls(name, '?'); }

// A stored member name as UTF-8 text: as it stands when it is valid UTF-8,
// otherwise read in code page 437.
std::string NameText(const std::string& stored);

}  // namespace vrk::unzip
