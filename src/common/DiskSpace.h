// The room a write must leave on its file system: what a body being
// received and the members of an archive being unpacked may take at most is
// what the file system has free less a margin, so that a reply or an archive
// of any size never fills the disk the program, its catalogue and the rest
// of the system need.
//
// Any thread.
#pragma once

#include <QtGlobal>

namespace vrk {

// The free space every such write leaves on its file system.
inline constexpr qint64 kFreeSpaceMargin = qint64{64} * 1024 * 1024;

// The bytes an unprivileged writer may still put on the file system of the
// open descriptor fd; -1 when that is unknown or the descriptor is no
// regular file or directory (a pipe, a terminal), which has no such bound.
qint64 freeBytes(int fd);

}  // namespace vrk
