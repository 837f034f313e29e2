// libzip's view of the archive file: a read-only zip source over an open
// descriptor that reads with pread through one buffer, so that inflating a
// member costs a read per buffer, not per few kilobytes, and a seek costs
// nothing. It may show a part of the file, from start on, as the whole (an
// archive behind a prefix). The descriptor stays the caller's; the source
// object must outlive the zip_t opened on it.
//
// One thread.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>

namespace vrk::unzip {

class TArchiveSource final {
 public:
  // The size bytes of the file from start on.
  TArchiveSource(int fd, uint64_t start, uint64_t size);
  ~TArchiveSource();
  TArchiveSource(const TArchiveSource&) = delete;
  TArchiveSource& operator=(const TArchiveSource&) = delete;

  // Opens the archive read-only through this source; null with the libzip
  // error code in error.
  zip_t* open(int& error);

 private:
  static zip_int64_t callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
  zip_int64_t read(void* data, zip_uint64_t len);

  int m_fd;
  uint64_t m_start;
  uint64_t m_size;
  uint64_t m_pos = 0;
  zip_error_t m_error;
  std::unique_ptr<uint8_t[]> m_buffer;
  uint64_t m_bufferStart = 0;
  size_t m_bufferLen = 0;
};

}  // namespace vrk::unzip
