#include "ChunkDecoder.h"

#include <cstring>

namespace vrk {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

qsizetype TChunkDecoder::Decode(const char* data, qsizetype n, QByteArray& out) {
  qsizetype at = 0;
  while (at < n && m_state != State::Done && m_state != State::Failed) {
    switch (m_state) {
      case State::SizeLine:
        if (TakeLine(data, n, at)) EndSizeLine();
        break;
      case State::Data: {
        const qsizetype take = static_cast<qsizetype>(qMin<qint64>(m_remaining, n - at));
        out.append(data + at, take);
        at += take;
        m_offset += take;
        m_remaining -= take;
        if (m_remaining == 0) m_state = State::DataEnd;
        break;
      }
      case State::DataEnd: {
        const char c = data[at];
        if (c == '\r' && !m_sawCr) {
          m_sawCr = true;
        } else if (c == '\n') {
          m_sawCr = false;
          m_state = State::SizeLine;
        } else {
          Fail();
          break;
        }
        ++at;
        ++m_offset;
        break;
      }
      case State::Trailer:
        if (TakeLine(data, n, at)) EndTrailerLine();
        break;
      case State::Done:
      case State::Failed: break;
    }
  }
  return at;
}

bool TChunkDecoder::TakeLine(const char* data, qsizetype n, qsizetype& at) {
  const void* lf = std::memchr(data + at, '\n', static_cast<size_t>(n - at));
  const qsizetype end = lf ? static_cast<const char*>(lf) - data + 1 : n;
  if (m_line.size() + (end - at) > kMaxLine) {
    m_offset += kMaxLine - m_line.size();
    Fail();
    return false;
  }
  m_line.append(data + at, end - at);
  m_offset += end - at;
  at = end;
  return lf != nullptr;
}

// chunk-size [ ";" extensions ] line end: hexadecimal digits (leading zeros
// allowed, a value below 2^60), then blanks, then the line end or a ";".
void TChunkDecoder::EndSizeLine() {
  const qint64 lineStart = m_offset - m_line.size();
  QByteArray line = m_line;
  m_line.clear();
  line.chop(1);
  if (line.endsWith('\r')) line.chop(1);
  qsizetype i = 0;
  qint64 size = 0;
  for (; i < line.size() && hexValue(line[i]) >= 0; ++i) {
    if (size >= (qint64{1} << 56)) {
      m_offset = lineStart + i;
      return Fail();
    }
    size = size * 16 + hexValue(line[i]);
  }
  const qsizetype digits = i;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (digits == 0 || (i < line.size() && line[i] != ';')) {
    m_offset = lineStart + i;
    return Fail();
  }
  m_remaining = size;
  m_state = size == 0 ? State::Trailer : State::Data;
}

void TChunkDecoder::EndTrailerLine() {
  const bool empty = m_line == "\n" || m_line == "\r\n";
  m_line.clear();
  if (empty) {
    m_state = State::Done;
  } else if (++m_trailerLines > kMaxTrailerLines) {
    Fail();
  }
}

}  // namespace vrk
