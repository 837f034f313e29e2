#include "IniFile.h"

#include "Exception.h"

#include <QFile>
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

QStringList readLines(const QString& fileName, bool* exists = nullptr, TFileText* format = nullptr) {
  QFile f(fileName);
  if (exists) *exists = f.exists();
  if (!f.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = f.readAll();
  TFileText fmt;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    fmt.bom = true;
    bytes.remove(0, 3);
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  if (utf8.hasError()) {
    fmt.latin1 = true;
    fmt.bom = false;
    text = QString::fromLatin1(bytes);
  }
  if (format) *format = fmt;
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& l : lines) {
    if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
  }
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// The file's bytes: in its own code page when every character fits, else in
// UTF-8 (a value beyond the code page is kept rather than mangled).
QByteArray encodeLines(const QStringList& lines, const TFileText& format) {
  const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
  if (format.latin1) {
    const bool fits = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 256; });
    if (fits) return text.toLatin1();
  }
  return (format.bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
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

}  // namespace

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
  TFileText format;
  QStringList lines = readLines(m_fileName, nullptr, &format);
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

  // Replace the file in one step where the directory allows it; write it in
  // place where only the file itself is writable.
  QSaveFile out(m_fileName);
  out.setDirectWriteFallback(true);
  const QByteArray data = encodeLines(lines, format);
  // The bytes are buffered until the flush: a write that fails there (a full
  // disk, a file size limit) must not let the commit put a cut file in place.
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.flush() || !out.commit()) {
    throw EIniFileException(QStringLiteral("nach %1 kann nicht geschrieben werden").arg(m_fileName));
  }
}

}  // namespace vrk
