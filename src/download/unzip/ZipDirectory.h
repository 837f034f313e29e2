// Our own reading of a Zip file's central directory and of the local headers
// it points at. It gives the member listing the values exactly as stored (the
// raw member name, the DOS date and time, the attributes) and checks the
// layout before anything is extracted: the end record is unambiguous, every
// entry's local header and data lie before the central directory, and no two
// entries share a byte. libzip reads the member data; this reading makes sure
// that what it reads is laid out soundly.
//
// Memory is bounded by the central directory, never by member data. Pure
// reading over a file descriptor; any thread, one file per call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrk::unzip {

struct TZipEntry {
  std::string name;      // as stored: raw bytes, any byte value
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

  bool encrypted() const { return (flags & 0x0001) != 0; }
};

struct TZipDirectory {
  std::vector<TZipEntry> entries;  // in central-directory order
  uint64_t directoryOffset = 0;
  uint32_t commentLength = 0;
};

// Reads the directory of the Zip file open on fd, fileSize bytes long. On
// failure returns false with a short English reason in error ("not a Zip
// file", "damaged archive: …").
bool ReadZipDirectory(int fd, uint64_t fileSize, TZipDirectory& out, std::string& error);

// The name with every control character (0x00–0x1F, 0x7F) shown as '?'.
std::string PrintableName(const std::string& name);

}  // namespace vrk::unzip
