// libFuzzer target for the search's text comparison. The first byte gives
// the length of the search text (0 to 15), its bytes follow, the rest is a
// description; both are UTF-8 as the catalogue stores them. The description
// is compared three ways, which must agree: as stored (upperContainsUtf8),
// decoded (upperContains), and by upper-casing the whole decoded text with
// the locale and looking for the search text in it.
#include "FilterText.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t n = std::min<std::size_t>(data[0] % 16, size - 1);
  const auto* needleBytes = reinterpret_cast<const char*>(data + 1);
  const auto* text = reinterpret_cast<const char*>(data + 1 + n);
  const auto textSize = static_cast<qsizetype>(size - 1 - n);
  const QString needle = vrk::localeUpper(QString::fromUtf8(needleBytes, static_cast<qsizetype>(n)));
  const QString decoded = QString::fromUtf8(text, textSize);
  const bool stored = vrk::upperContainsUtf8(text, textSize, needle);
  const bool asText = vrk::upperContains(decoded, needle);
  const bool whole = vrk::localeUpper(decoded).contains(needle);
  if (stored != asText || asText != whole) {
    std::fprintf(stderr, "stored %d, as text %d, whole text %d: needle %s text %s\n", stored, asText, whole,
                 QByteArray(needleBytes, static_cast<qsizetype>(n)).toHex().constData(),
                 QByteArray(text, textSize).toHex().constData());
    std::abort();
  }
  return 0;
}
