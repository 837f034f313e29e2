// Errors of the class library's file streams that a copy between two files
// raises: the source cannot be opened ("Datei %s kann nicht geöffnet
// werden", the placeholder being the file's path), a read fails
// ("Stream-Lesefehler") or a write fails ("Stream-Write-Fehler"). A destination that cannot be created is the
// EFCreateError of the transfer layer (SockError.h).
#pragma once

#include "Exception.h"

namespace vrk {

class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const QString& path)
      : Exception(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path)) {}
};

class EReadError : public Exception {
 public:
  EReadError() : Exception(QStringLiteral("Stream-Lesefehler")) {}
};

class EWriteError : public Exception {
 public:
  EWriteError() : Exception(QStringLiteral("Stream-Write-Fehler")) {}
};

}  // namespace vrk
