// Errors of the network layer and the text of a socket error number.
//
// Socket error numbers are the classic Windows Sockets numbers (10061 for a
// refused connection and so on); POSIX errno values are mapped onto them in
// one place, winsockError(), so that every message reads the same on every
// platform.
#pragma once

#include "Exception.h"
#include "StreamError.h"  // EFCreateError, which a transfer raises too

namespace vrk {

// A failure of the socket session or of the HTTP transfer on top of it.
class ESockError : public Exception {
 public:
  using Exception::Exception;
};

// A transfer ended by Cancel (or by the time-out through Abort).
class EAbortError : public ESockError {
 public:
  using ESockError::ESockError;
};

// The peer ended a body before its end (closed, reset, or silent past the
// receive time-out): what arrived is a true beginning of the body.
class ECutTransfer : public ESockError {
 public:
  using ESockError::ESockError;
};

// A reply whose first line (or the line after an interim reply) is no
// status line or not a valid one; the caller may report it as a failed
// reply rather than as a failed transfer.
class EStatusLineError : public ESockError {
 public:
  using ESockError::ESockError;
};

// Socket error number for a POSIX errno value; numbers without a counterpart
// are returned as they are (ErrorText then calls them unknown).
int winsockError(int posixErrno);

// Whether a socket call that failed with this errno only could not go on
// now (nothing to read, no room to send, a signal came): the connection
// stands and the call is made again when the socket is ready.
bool callWouldBlock(int posixErrno);

// "" for 0, "10061:Connection refused" for a known number, otherwise the
// text for an unknown number ("Unbekannte Fehlernummer 12345" for 12345).
QString socketErrorText(int error);

}  // namespace vrk
