#include "Settings.h"

#include <algorithm>

namespace vrk {
namespace {

const QString kSection = QStringLiteral("Options");

}  // namespace

bool readSwitch(const TIniFile& file, const QString& key, bool def) {
  const QString text = file.readString(kSection, key, QString());
  bool ok = false;
  int value = 0;
  if (text.size() > 2 && (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X")))) {
    const QString digits = text.mid(2);
    // Only hexadecimal digits; a sign or a second prefix is no number.
    const bool plain = std::all_of(digits.begin(), digits.end(), [](QChar c) {
      return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
    });
    if (plain) value = static_cast<int>(digits.toUInt(&ok, 16));
  } else {
    value = text.toInt(&ok, 10);
  }
  return ok ? value != 0 : def;
}

void loadSettings(const TIniFile& file, TSettings& s) {
  s.Mirror = file.readString(kSection, QStringLiteral("Mirror"), QString::fromLatin1(kDefaultMirror));
  s.Host = file.readString(kSection, QStringLiteral("Host"), QString());
  s.Proxy = file.readString(kSection, QStringLiteral("Proxy"), QStringLiteral("localhost"));
  s.Proxyport = file.readString(kSection, QStringLiteral("Proxyport"), QStringLiteral("8080"));
  s.UseProxy = readSwitch(file, QStringLiteral("UseProxy"), true);
  s.DeleteUnzip = readSwitch(file, QStringLiteral("DeleteUnzip"), true);
  s.AskConnect = readSwitch(file, QStringLiteral("AskConnect"), true);
  s.OverwriteData = readSwitch(file, QStringLiteral("OverwriteData"), true);
  s.UnzipFile = readSwitch(file, QStringLiteral("UnzipFile"), true);
}

void storeSettings(TIniFile& file, const TSettings& s) {
  auto sw = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
  file.writeString(kSection, QStringLiteral("Mirror"), s.Mirror);
  file.writeString(kSection, QStringLiteral("Host"), s.Host);
  file.writeString(kSection, QStringLiteral("Proxy"), s.Proxy);
  file.writeString(kSection, QStringLiteral("Proxyport"), s.Proxyport);
  file.writeString(kSection, QStringLiteral("UseProxy"), sw(s.UseProxy));
  file.writeString(kSection, QStringLiteral("DeleteUnzip"), sw(s.DeleteUnzip));
  file.writeString(kSection, QStringLiteral("AskConnect"), sw(s.AskConnect));
  file.writeString(kSection, QStringLiteral("OverwriteData"), sw(s.OverwriteData));
  file.writeString(kSection, QStringLiteral("UnzipFile"), sw(s.UnzipFile));
}

}  // namespace vrk
