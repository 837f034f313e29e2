// The nine user settings and their file, VRK.ini in the program's directory,
// section "Options". They are read once when the data module is created and
// written back, all nine, when it is destroyed.
#pragma once

#include "IniFile.h"

#include <QString>

namespace vrk {

// The archive mirror the program uses until the user picks another. The demo
// mirror answers on it through the default proxy (localhost:8080).
inline const char* const kDefaultMirror = "http://localhost:8081";

struct TSettings {
  QString Mirror;
  QString Host;
  QString Proxy;
  QString Proxyport;  // kept as text; a number only when a fetch uses it
  bool UseProxy = true;
  bool DeleteUnzip = true;
  bool AskConnect = true;
  bool OverwriteData = true;
  bool UnzipFile = true;
};

// Reads the nine keys in their order, each with its default.
void loadSettings(const TIniFile& file, TSettings& settings);
// Writes the nine keys in their order. A key that cannot be written raises
// EIniFileException (msg::IniNotWritable); the keys after it are not
// written.
void storeSettings(TIniFile& file, const TSettings& settings);

// A switch: "0x"/"0X" and more is hexadecimal, otherwise decimal; on when
// the number is not 0; no number at all gives the default.
bool readSwitch(const TIniFile& file, const QString& key, bool def);

}  // namespace vrk
