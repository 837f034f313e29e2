#include "ArchiveSource.h"

#include "FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vrk::unzip {
namespace {

constexpr size_t kBuffer = 256 * 1024;

}  // namespace

TArchiveSource::TArchiveSource(int fd, uint64_t start, uint64_t size)
    : m_fd(fd), m_start(start), m_size(size), m_buffer(std::make_unique<uint8_t[]>(kBuffer)) {
  zip_error_init(&m_error);
}

TArchiveSource::~TArchiveSource() { zip_error_fini(&m_error); }

zip_t* TArchiveSource::open(int& error) {
  zip_error_t e;
  zip_error_init(&e);
  zip_source_t* source = zip_source_function_create(&TArchiveSource::callback, this, &e);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &e) : nullptr;
  if (!archive && source) zip_source_free(source);
  error = archive ? 0 : zip_error_code_zip(&e);
  zip_error_fini(&e);
  return archive;
}

zip_int64_t TArchiveSource::callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<TArchiveSource*>(self);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:  // the object is its owner's
      return 0;
    case ZIP_SOURCE_READ: return s->read(data, len);
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t pos = zip_source_seek_compute_offset(s->m_pos, s->m_size, data, len, &s->m_error);
      if (pos < 0) return -1;
      s->m_pos = static_cast<uint64_t>(pos);
      return 0;
    }
    case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(s->m_pos);
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &s->m_error);
      if (!st) return -1;
      zip_stat_init(st);
      st->size = s->m_size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&s->m_error, data, len);
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default: zip_error_set(&s->m_error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

zip_int64_t TArchiveSource::read(void* data, zip_uint64_t len) {
  auto* out = static_cast<uint8_t*>(data);
  len = std::min<zip_uint64_t>(len, m_size - std::min(m_pos, m_size));
  zip_uint64_t done = 0;
  while (done < len) {
    if (m_pos >= m_bufferStart && m_pos < m_bufferStart + m_bufferLen) {
      const size_t at = static_cast<size_t>(m_pos - m_bufferStart);
      const size_t n = static_cast<size_t>(std::min<zip_uint64_t>(len - done, m_bufferLen - at));
      std::memcpy(out + done, m_buffer.get() + at, n);
      done += n;
      m_pos += n;
      continue;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBuffer, m_size - m_pos));
    // A failure after some bytes shows again at the next read, past them.
    const TIoResult got = preadAll(m_fd, m_buffer.get(), want, m_start + m_pos);
    if (got.bytes == 0) {
      m_bufferLen = 0;
      if (done > 0) break;
      zip_error_set(&m_error, ZIP_ER_READ, got.error != 0 ? got.error : EIO);
      return -1;
    }
    m_bufferStart = m_pos;
    m_bufferLen = got.bytes;
  }
  return static_cast<zip_int64_t>(done);
}

}  // namespace vrk::unzip
