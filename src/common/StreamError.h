// Errors of the class library's file streams that a copy between two files
// raises: the source cannot be opened (msg::FileOpenError with the file's
// path), a read fails (msg::StreamReadError) or a write fails
// (msg::StreamWriteError); and a file that a copy or a transfer writes
// that cannot be created (EFCreateError, with the message its raiser
// gives).
#pragma once

#include "Exception.h"

namespace vrk {

class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const QString& path) : Exception(msg::text(msg::FileOpenError).arg(path)) {}
};

class EReadError : public Exception {
 public:
  EReadError() : Exception(msg::text(msg::StreamReadError)) {}
};

class EWriteError : public Exception {
 public:
  EWriteError() : Exception(msg::text(msg::StreamWriteError)) {}
};

class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace vrk
