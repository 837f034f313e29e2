// An initialisation file with the profile-file semantics of the platform the
// program was first written for: sections and keys are compared without
// case, blanks around names and values are trimmed, lines end with CR LF, LF
// or a CR alone, and every other section, key and comment line is kept as it
// is. There is no cache: every read opens the file and every write rewrites
// it at once, through a temporary file that replaces it in one step (a write
// cut short leaves the old file).
//
// UI thread only (no locking between processes).
#pragma once

#include <QString>
#include <QStringList>

namespace vrk {

// Whether text holds a line break (CR or LF). No value of the file may: its
// line end would end the key's line, and what follows would be read as
// other keys or sections.
bool holdsLineBreak(const QString& text);

// Raises EIniFileException msg::ValueLineBreak of name when value holds a
// line break; the settings' editors check a value with it where it enters.
void checkNoLineBreak(const QString& name, const QString& value);

class TIniFile final {
 public:
  explicit TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

  const QString& fileName() const { return m_fileName; }

  // The value of key in section, or def when the file, section or key is
  // missing. Values are cut to 2047 characters.
  QString readString(const QString& section, const QString& key, const QString& def) const;
  // Writes key=value into section, creating the file, section or key as
  // needed. Fails with msg::IniNotWritable (of the file's name), leaving the
  // file as it was: for a read-only file (no write permission bit, root
  // included), a file that cannot be read, or a directory that takes no new
  // file; and with msg::ValueLineBreak (of the key) for a section, key or
  // value that holds a line break.
  void writeString(const QString& section, const QString& key, const QString& value);
  // Every name=value line of the section (trimmed), in file order.
  QStringList readSectionValues(const QString& section) const;
  bool sectionExists(const QString& section) const;

 private:
  QString m_fileName;
};

}  // namespace vrk
