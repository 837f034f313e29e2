// TChunkDecoder: the chunked transfer coding of an HTTP/1.1 body, undone as
// the bytes arrive. Each chunk is a line with its size in hexadecimal (and
// extensions after a ";", passed over), the data and a line end; a chunk of
// size 0 ends the body, followed by trailer lines up to an empty line. A
// line ends in CR LF or in LF alone. Pure code over bytes: the socket
// session feeds it while it captures (TBodyDecoder), the tests and the fuzz
// target feed it directly.
#pragma once

#include "SockSession.h"

namespace vrk {

class TChunkDecoder final : public TBodyDecoder {
 public:
  // Longest chunk size line or trailer line (its line end included), and
  // most trailer lines.
  static constexpr qsizetype kMaxLine = 64 * 1024;
  static constexpr int kMaxTrailerLines = 1000;

  qsizetype Decode(const char* data, qsizetype n, QByteArray& out) override;
  bool Complete() const override { return m_state == State::Done; }
  bool Failed() const override { return m_state == State::Failed; }
  // How many bytes of the coded body were taken; when Failed, the offset of
  // the byte at which it failed.
  qint64 Offset() const { return m_offset; }

 private:
  enum class State { SizeLine, Data, DataEnd, Trailer, Done, Failed };

  // Takes the bytes of one line into m_line; true once its LF is in.
  bool TakeLine(const char* data, qsizetype n, qsizetype& at);
  void EndSizeLine();
  void EndTrailerLine();
  void Fail() { m_state = State::Failed; }

  State m_state = State::SizeLine;
  QByteArray m_line;
  qint64 m_remaining = 0;  // data bytes still to come in the current chunk
  bool m_sawCr = false;    // the line end after a chunk's data has begun
  int m_trailerLines = 0;
  qint64 m_offset = 0;
};

}  // namespace vrk
