#include "DownloadFile.h"

#include "Exception.h"
#include "Messages.h"
#include "SockError.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace vrk {

QString partialName(const QString& name) { return QLatin1Char('.') + name + QStringLiteral(".part"); }

TDownloadFile::TDownloadFile(const QString& dir, const QString& name)
    : m_path(dir + QLatin1Char('/') + name), m_partPath(dir + QLatin1Char('/') + partialName(name)) {}

TDownloadFile::~TDownloadFile() {
  if (!m_completed) ::unlink(QFile::encodeName(m_partPath).constData());
}

void TDownloadFile::begin() { ::unlink(QFile::encodeName(m_partPath).constData()); }

void TDownloadFile::complete() {
  const QByteArray part = QFile::encodeName(m_partPath);
  // The data reaches the disk before the name does: a crash after the
  // rename never leaves a name on a file whose data was not written.
  const int fd = ::open(part.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  const bool flushed = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!flushed || ::rename(part.constData(), QFile::encodeName(m_path).constData()) != 0)
    throw EFCreateError(msg::text(msg::FileCreateError).arg(m_path));
  m_completed = true;
  m_device = st.st_dev;
  m_inode = st.st_ino;
}

void TDownloadFile::removeUnpacked() const {
  const QByteArray file = QFile::encodeName(m_path);
  struct stat st {};
  if (::lstat(file.constData(), &st) == 0 && (st.st_dev != m_device || st.st_ino != m_inode)) return;
  if (::unlink(file.constData()) != 0) throw EInOutError::deleting(errno);
}

}  // namespace vrk
