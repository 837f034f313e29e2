#include "IniFile.h"

#include "Exception.h"
#include "Messages.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

namespace vrk {
namespace {

constexpr int kMaxValue = 2047;

// How the file's text is stored. A file that is not valid UTF-8 was written
// in the ANSI code page by a Windows editor; it is read one byte per Latin-1
// character, so that every byte survives a rewrite unchanged.
struct TFileText {
  bool latin1 = false;
  bool bom = false;
};

// Decodes bytes (a leading mark taken off before) as UTF-8; false when they
// are not valid UTF-8.
bool decodeUtf8(const QByteArray& bytes, QString* text) {
  // A second mark after the first one is text of the first line.
  QStringDecoder utf8(QStringDecoder::Utf8,
                      QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  *text = utf8(bytes);
  return !utf8.hasError();
}

// The file's lines without their line ends. unreadable (if given) tells
// whether the file exists but could not be read.
QStringList readLines(const QString& fileName, bool* unreadable = nullptr, TFileText* format = nullptr) {
  QFile f(fileName);
  if (unreadable) *unreadable = false;
  if (!f.open(QIODevice::ReadOnly)) {
    if (unreadable) *unreadable = f.exists();
    return {};
  }
  QByteArray bytes = f.readAll();
  TFileText fmt;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    fmt.bom = true;
    bytes.remove(0, 3);
  }
  QString text;
  if (!decodeUtf8(bytes, &text)) {
    // A byte-order mark stays a mark (written back in front of the file),
    // so that its three bytes neither get lost nor hide the first section.
    fmt.latin1 = true;
    text = QString::fromLatin1(bytes);
  }
  if (format) *format = fmt;
  // A line ends with CR LF, LF or a CR alone: no value read holds a line
  // break, which the writer would refuse.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// The file's bytes: in its own code page when every character fits, else in
// UTF-8 (a value beyond the code page is kept rather than mangled). Code page
// bytes that would be read as UTF-8 next time (the one byte that was no UTF-8
// was in the line just replaced) are written as UTF-8 too: read either way,
// the file must give the characters it was written with.
QByteArray encodeLines(const QStringList& lines, const TFileText& format) {
  const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
  const QByteArray mark = format.bom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
  if (format.latin1) {
    const bool fits = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 256; });
    if (fits) {
      const QByteArray bytes = text.toLatin1();
      const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
      QString asUtf8;
      if (ascii || !decodeUtf8(bytes, &asUtf8)) return mark + bytes;
    }
  }
  return mark + text.toUtf8();
}

// The section name of a "[name]" line, or a null string for other lines.
QString sectionOf(const QString& line) {
  const QString t = line.trimmed();
  if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) return t.mid(1, t.size() - 2).trimmed();
  return QString();
}

bool isComment(const QString& line) {
  const QString t = line.trimmed();
  return t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Splits "key = value"; false for lines that carry no key.
bool splitKey(const QString& line, QString* key, QString* value) {
  if (isComment(line)) return false;
  const int eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  *key = line.left(eq).trimmed();
  *value = line.mid(eq + 1).trimmed();
  return !key->isEmpty();
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// A file the user made read-only (no write permission for anyone) stays as
// it is even for root, whom the permission bits would not stop, and even in
// a writable directory, where a new file could simply replace it.
bool isReadOnly(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.exists()) return false;
  // The mode bits themselves; WriteUser would be root's answer, always yes.
  const QFileDevice::Permissions write =
      QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
  return (info.permissions() & write) == 0 || !info.isWritable();
}

}  // namespace

bool holdsLineBreak(const QString& text) {
  return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

void checkNoLineBreak(const QString& name, const QString& value) {
  if (holdsLineBreak(value)) throw EIniFileException(msg::text(msg::ValueLineBreak).arg(name));
}

QString TIniFile::readString(const QString& section, const QString& key, const QString& def) const {
  const QStringList lines = readLines(m_fileName);
  bool inSection = false;
  for (const QString& line : lines) {
    const QString s = sectionOf(line);
    if (!s.isNull()) {
      inSection = sameName(s, section);
      continue;
    }
    QString k, v;
    if (inSection && splitKey(line, &k, &v) && sameName(k, key)) return v.left(kMaxValue);
  }
  return def;
}

QStringList TIniFile::readSectionValues(const QString& section) const {
  QStringList out;
  bool inSection = false;
  for (const QString& line : readLines(m_fileName)) {
    const QString s = sectionOf(line);
    if (!s.isNull()) {
      inSection = sameName(s, section);
      continue;
    }
    QString k, v;
    if (inSection && splitKey(line, &k, &v)) out << k + QLatin1Char('=') + v;
  }
  return out;
}

bool TIniFile::sectionExists(const QString& section) const {
  for (const QString& line : readLines(m_fileName)) {
    const QString s = sectionOf(line);
    if (!s.isNull() && sameName(s, section)) return true;
  }
  return false;
}

void TIniFile::writeString(const QString& section, const QString& key, const QString& value) {
  // A line break anywhere would write more lines than the one key line.
  checkNoLineBreak(key, section + key + value);
  const auto refused = [this] { return EIniFileException(msg::text(msg::IniNotWritable).arg(m_fileName)); };
  if (isReadOnly(m_fileName)) throw refused();
  TFileText format;
  bool unreadable = false;
  QStringList lines = readLines(m_fileName, &unreadable, &format);
  // Rewriting a file that could not be read would lose all of it.
  if (unreadable) throw refused();
  const QString entry = key + QLatin1Char('=') + value;
  int sectionLine = -1;
  int lastKeyLine = -1;  // last key line of the section, to append after it
  bool done = false;
  for (int i = 0; i < lines.size() && !done; ++i) {
    const QString s = sectionOf(lines[i]);
    if (!s.isNull()) {
      if (sectionLine >= 0) break;  // the section ended
      if (sameName(s, section)) {
        sectionLine = i;
        lastKeyLine = i;
      }
      continue;
    }
    if (sectionLine < 0) continue;
    QString k, v;
    if (splitKey(lines[i], &k, &v)) {
      if (sameName(k, key)) {
        lines[i] = k + QLatin1Char('=') + value;  // keep the key's spelling
        done = true;
      } else {
        lastKeyLine = i;
      }
    } else if (!lines[i].trimmed().isEmpty()) {
      lastKeyLine = i;
    }
  }
  if (!done) {
    if (sectionLine < 0) {
      if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QString();
      lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
    } else {
      lines.insert(lastKeyLine + 1, entry);
    }
  }

  // The new text goes to a temporary file beside the old one, is synced to
  // disk and then renamed over it, so that a write cut short (the program
  // killed, the disk full) leaves the old file whole. A directory that takes
  // no new file refuses the write: writing in place could leave half a file.
  QSaveFile out(m_fileName);
  out.setDirectWriteFallback(false);
  const QByteArray data = encodeLines(lines, format);
  // The bytes are buffered until the flush, and a write that fails there (a
  // full disk, a file size limit) does not stop the commit from renaming the
  // cut file over the old one: the flush is checked first.
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.flush() || !out.commit())
    throw refused();
}

}  // namespace vrk
