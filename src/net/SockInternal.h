// What the session's units share beyond SockSession.h: the texts of the
// look-up failures that end a Connect at once. Private to the network layer.
#pragma once

#include "SockSession.h"

#include <QString>

namespace vrk {

inline const QString kLookupTimedOut = QStringLiteral("Zeitüberschreitung bei Host-Lookup");
inline const QString kLookupCancelled = QStringLiteral("Host-Lookup wurde abgebrochen");

}  // namespace vrk
