// libFuzzer target for the settings file. The input is the bytes of VRK.ini.
// The nine settings are read, written back (every key, as at program exit)
// and read again: the values read back must equal the values written, and
// every line that is not one of the nine keys must survive byte for byte,
// the only addition allowed being the section line of a file that had none.
// A leading byte-order mark belongs to the file, not to its first line: it
// must stay in front, and a file that holds only the mark is an empty file.
// Any exception aborts: a writable file in a writable directory must take
// every key.
#include "Exception.h"
#include "IniFile.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kKeys[] = {"Mirror",      "Host",       "Proxy",         "Proxyport", "UseProxy",
                             "DeleteUnzip", "AskConnect", "OverwriteData", "UnzipFile"};

[[noreturn]] void fail(const char* what, const QByteArray& detail = {}) {
  std::fprintf(stderr, "%s: %s\n", what, detail.toHex(' ').constData());
  std::abort();
}

const QString& workFile() {
  // tmpfs where there is one: every write is synced to disk.
  static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                               ? QStringLiteral("/dev/shm/vrkfuzz-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/vrkfuzz-XXXXXX"));
  static const QString path = dir.filePath(QStringLiteral("VRK.ini"));
  return path;
}

const QByteArray kMark("\xEF\xBB\xBF");

// The file's lines as bytes, without their line ends (CR LF, LF or a CR
// alone) and without a leading byte-order mark (a second mark is text of the
// first line).
QList<QByteArray> byteLines(const QByteArray& bytes) {
  QByteArray text = bytes.startsWith(kMark) ? bytes.mid(kMark.size()) : bytes;
  QList<QByteArray> lines = text.replace("\r\n", "\n").replace('\r', '\n').split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// How the file reads its text: UTF-8 (after a byte-order mark) when it is
// valid UTF-8, else one byte per character.
bool isUtf8(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(bytes.startsWith(kMark) ? bytes.mid(kMark.size()) : bytes);
  return !utf8.hasError();
}

// A line's text as the file's encoding gives it.
QString lineText(const QByteArray& line, bool utf8) {
  return utf8 ? QString::fromUtf8(line) : QString::fromLatin1(line);
}

// True for a key=value line of one of the nine keys (in any section).
bool isSettingLine(const QByteArray& line, bool utf8) {
  const QString t = lineText(line, utf8).trimmed();
  if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))) return false;
  if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) return false;
  const qsizetype eq = t.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  const QString key = t.left(eq).trimmed();
  for (const char* k : kKeys)
    if (key.compare(QLatin1String(k), Qt::CaseInsensitive) == 0) return true;
  return false;
}

// The lines that are not one of the nine keys: as bytes, or as text.
QList<QByteArray> foreignLines(const QByteArray& bytes, QStringList* texts) {
  const bool utf8 = isUtf8(bytes);
  QList<QByteArray> out;
  const QList<QByteArray> lines = byteLines(bytes);
  for (const QByteArray& line : lines) {
    if (isSettingLine(line, utf8)) continue;
    out << line;
    *texts << lineText(line, utf8);
  }
  return out;
}

bool sameSettings(const vrk::TSettings& a, const vrk::TSettings& b) {
  return a.Mirror == b.Mirror && a.Host == b.Host && a.Proxy == b.Proxy && a.Proxyport == b.Proxyport &&
         a.UseProxy == b.UseProxy && a.DeleteUnzip == b.DeleteUnzip && a.AskConnect == b.AskConnect &&
         a.OverwriteData == b.OverwriteData && a.UnzipFile == b.UnzipFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray before(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString& path = workFile();
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(before) != before.size())
      fail("set-up");
  }
  vrk::TIniFile ini(path);
  vrk::TSettings read;
  vrk::loadSettings(ini, read);
  try {
    vrk::storeSettings(ini, read);
  } catch (const vrk::Exception& e) {
    fail("store refused", e.message().toUtf8());
  }
  vrk::TSettings again;
  vrk::loadSettings(ini, again);
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) fail("file gone");
  const QByteArray after = f.readAll();
  if (!sameSettings(read, again)) fail("values read back differ from those written", after);
  if (before.startsWith(kMark) != after.startsWith(kMark)) fail("the byte-order mark moved", after);

  QStringList keptText, foreignText;
  QList<QByteArray> kept = foreignLines(after, &keptText);
  const QList<QByteArray> foreign = foreignLines(before, &foreignText);
  // A file without the section gets it at its end, after an empty line
  // unless it ends with one.
  if (kept.size() > foreign.size() && kept.last() == "[Options]") {
    kept.removeLast();
    keptText.removeLast();
    if (kept.size() > foreign.size() && kept.last().isEmpty()) {
      kept.removeLast();
      keptText.removeLast();
    }
  }
  // Byte for byte, unless a file read byte for byte had to become UTF-8 to
  // keep its characters: then character for character.
  if (isUtf8(before) == isUtf8(after)) {
    if (kept != foreign) fail("a foreign line changed", after);
  } else {
    if (isUtf8(before)) fail("a UTF-8 file was written in the code page", after);
    if (keptText != foreignText) fail("a foreign line's text changed", after);
  }
  return 0;
}
