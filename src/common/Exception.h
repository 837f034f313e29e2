// The system's exception types. Failures travel as these up to the one
// application error display, which shows message() in a message box.
// Every subsystem derives its own kind from Exception (EDatabaseError,
// EConvertError, ESockError, EAbortError, ...).
#pragma once

#include "Messages.h"

#include <QString>

#include <cerrno>
#include <exception>

namespace vrk {

class Exception : public std::exception {
 public:
  explicit Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

  const QString& message() const noexcept { return m_message; }
  const char* what() const noexcept override { return m_utf8.constData(); }

 private:
  QString m_message;
  QByteArray m_utf8;
};

// Errors of the table layer: the catalogue store, the result table and the
// filter expressions.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// A text that is not a valid number for the kind it is converted to.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Errors of the initialisation-file layer (settings file).
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// The run-time library's input/output error, carrying the system's error
// code (errno).
class EInOutError : public Exception {
 public:
  EInOutError(int errorCode, QString message) : Exception(std::move(message)), m_errorCode(errorCode) {}
  // msg::InOutError with the code.
  static EInOutError withCode(int err) { return EInOutError(err, msg::text(msg::InOutError).arg(err)); }
  // A file that could not be deleted: msg::FileNotFound when it does not
  // exist, msg::InOutError with the code otherwise.
  static EInOutError deleting(int err) {
    if (err == ENOENT) return EInOutError(err, msg::text(msg::FileNotFound));
    return withCode(err);
  }
  int errorCode() const noexcept { return m_errorCode; }

 private:
  int m_errorCode;
};

// A silent abort: the error display shows nothing for it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

// A transfer the user cancelled (msg::Cancelled); silent like EAbort, the
// caller shows it where its progress was.
class ETransferCancelled : public EAbort {
 public:
  ETransferCancelled() : EAbort(msg::text(msg::Cancelled)) {}
};

}  // namespace vrk
