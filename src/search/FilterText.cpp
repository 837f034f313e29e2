#include "FilterText.h"

#include <QLocale>
#include <QVarLengthArray>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vrk {
namespace {

constexpr const char* kToolFields[ToolBoxCount] = {"D10", "D20", "D30", "D40", "D50", "D60", "C10",
                                                   "C30", "C40", "C50", "J10", "J20", "K10"};

// Adds one AND term: alone when F is empty, appended when F already starts
// with a bracket, otherwise after bracketing F.
void joinAnd(QString& f, const QString& term) {
  if (f.isEmpty()) {
    f = term;
  } else if (f.startsWith(QLatin1Char('('))) {
    f += QStringLiteral(" AND ") + term;
  } else {
    f = QStringLiteral("(") + f + QStringLiteral(") AND ") + term;
  }
}

}  // namespace

QString toolField(int box) { return QString::fromLatin1(kToolFields[box]); }

QString buildFilterText(const SearchCriteria& c, const QString& trueWord) {
  QString f;
  for (int box = 0; box < ToolBoxCount; ++box) {
    if (!c.tools[static_cast<std::size_t>(box)]) continue;
    if (!f.isEmpty()) f += QStringLiteral(" OR ");
    f += toolField(box) + QLatin1Char('=') + trueWord;
  }
  // Freeware always brackets a non-empty F: after the tool chain F never
  // starts with a bracket.
  if (c.freeware) {
    const QString term = QStringLiteral("Free=") + trueWord;
    f = f.isEmpty() ? term : QStringLiteral("(") + f + QStringLiteral(") AND ") + term;
  }
  if (c.withSource) joinAnd(f, QStringLiteral("WithSource=") + trueWord);
  if (c.category != 0) joinAnd(f, QStringLiteral("FileCatID=") + QString::number(c.category));
  return f;
}

namespace {

const QLocale& systemLocale() {
  static const QLocale locale = QLocale::system();
  return locale;
}

// Outside Turkish and Azerbaijani (dotted and dotless i), every locale
// upper-cases the Latin-1 letters by the plain one-to-one mapping (a-z to
// A-Z, à-þ to À-Þ) except ß, ÿ and µ, whose capitals are other characters
// or two of them. Texts made only of such characters, the common case of a
// description, are upper-cased here directly: the same result without the
// locale library's cost per text. Anything else goes to the locale.
bool plainLocale() {
  static const bool plain =
      systemLocale().language() != QLocale::Turkish && systemLocale().language() != QLocale::Azerbaijani;
  return plain;
}

inline bool isPlain(char16_t c) { return c < 0x100 && c != 0xDF && c != 0xFF && c != 0xB5; }
inline bool isPlainLower(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
}
// Requires: isPlain(c).
inline char16_t plainUpper(char16_t c) { return isPlainLower(c) ? static_cast<char16_t>(c - 0x20) : c; }

const char16_t* chars(const QString& s) { return reinterpret_cast<const char16_t*>(s.constData()); }

bool allPlain(const QString& s) {
  const char16_t* p = chars(s);
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (!isPlain(p[i])) return false;
  }
  return true;
}

}  // namespace

QString localeUpper(const QString& text) {
  if (plainLocale() && allPlain(text)) {
    QString out(text);
    char16_t* q = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < out.size(); ++i) q[i] = plainUpper(q[i]);
    return out;
  }
  return systemLocale().toUpper(text);
}

namespace {

// What a Latin-1 character becomes in capitals, one byte each: its plain
// capital, "SS" for ß, or, for ÿ and µ, a capital outside Latin-1 that no
// character of a plain needle can match; ß itself (never a capital) stands
// in for that one.
class TCapitals final {
 public:
  explicit TCapitals(qsizetype room) : m_bytes(room), m_end(m_bytes.data()) {}

  void add(char16_t c) {
    static const auto table = [] {
      std::array<std::uint16_t, 0x100> t{};
      for (char16_t u = 0; u < 0x100; ++u) t[u] = isPlain(u) ? plainUpper(u) : kNoMatch;
      t[0xDF] = kSS;
      return t;
    }();
    const std::uint16_t u = table[c];
    if (u < 0x100) {
      *m_end++ = static_cast<char>(u);
    } else if (u == kSS) {
      *m_end++ = 'S';
      *m_end++ = 'S';
    } else {
      *m_end++ = static_cast<char>(0xDF);
    }
  }
  // Adds the capitals of the ASCII characters in w: eight one-byte lanes
  // (bits 8) or four two-byte lanes (bits 16), copied from the text in its
  // order. Every lane is below 0x80, so adding to a lane never carries into
  // the next, and the lanes come out in the text's order on any host.
  template <int bits>
  void addAscii(std::uint64_t w) {
    constexpr std::uint64_t lanes = bits == 8 ? 0x0101010101010101ull : 0x0001000100010001ull;
    const std::uint64_t fromA = w + lanes * (0x80 - 'a');      // bit 7: at least 'a'
    const std::uint64_t pastZ = w + lanes * (0x80 - 'z' - 1);  // bit 7: above 'z'
    w -= (fromA & ~pastZ & (lanes * 0x80)) >> 2;               // 'a' - 'A' is bit 7 >> 2
    if constexpr (bits == 8) {
      std::memcpy(m_end, &w, 8);
      m_end += 8;
    } else {
      // The four 16-bit lanes packed into four bytes.
      w = (w | (w >> 8)) & 0x0000FFFF0000FFFFull;
      const auto packed = static_cast<std::uint32_t>(w | (w >> 16));
      std::memcpy(m_end, &packed, 4);
      m_end += 4;
    }
  }
  bool contain(const QString& upperNeedle) const {
    // The needle is plain: its capitals are Latin-1 characters, one byte each.
    const qsizetype n = upperNeedle.size();
    QVarLengthArray<char, 64> needle(n);
    for (qsizetype j = 0; j < n; ++j) needle[j] = static_cast<char>(upperNeedle.at(j).unicode());
    const std::string_view capitals(m_bytes.data(), static_cast<std::size_t>(m_end - m_bytes.data()));
    return capitals.find(std::string_view(needle.data(), static_cast<std::size_t>(n))) !=
           std::string_view::npos;
  }

 private:
  static constexpr std::uint16_t kSS = 0x100;
  static constexpr std::uint16_t kNoMatch = 0x101;
  QVarLengthArray<char, 1024> m_bytes;
  char* m_end;
};

constexpr std::uint64_t kNotAscii16 = 0xFF80FF80FF80FF80ull;
constexpr std::uint64_t kNotAscii8 = 0x8080808080808080ull;

// The capitals of text up to its first character outside Latin-1; returns
// the number of characters taken.
qsizetype addCapitals(TCapitals& out, const char16_t* text, qsizetype size) {
  qsizetype i = 0;
  while (i < size) {
    // Descriptions are mostly ASCII: four characters at a time while they are.
    if (i + 4 <= size) {
      std::uint64_t w;
      std::memcpy(&w, text + i, sizeof w);
      if ((w & kNotAscii16) == 0) {
        out.addAscii<16>(w);
        i += 4;
        continue;
      }
    }
    if (text[i] >= 0x100) break;
    out.add(text[i++]);
  }
  return i;
}

// The same over UTF-8: stops at the first character outside Latin-1, and at
// the first byte that does not continue well-formed UTF-8; returns the
// number of bytes taken.
qsizetype addCapitals(TCapitals& out, const std::uint8_t* text, qsizetype size) {
  qsizetype i = 0;
  while (i < size) {
    if (i + 8 <= size) {
      std::uint64_t w;
      std::memcpy(&w, text + i, sizeof w);
      if ((w & kNotAscii8) == 0) {
        out.addAscii<8>(w);
        i += 8;
        continue;
      }
    }
    const std::uint8_t b = text[i];
    if (b < 0x80) {
      out.add(b);
      ++i;
    } else if ((b == 0xC2 || b == 0xC3) && i + 1 < size && (text[i + 1] & 0xC0) == 0x80) {
      // U+0080 to U+00FF.
      out.add(static_cast<char16_t>(((b & 0x1F) << 6) | (text[i + 1] & 0x3F)));
      i += 2;
    } else {
      break;
    }
  }
  return i;
}

}  // namespace

// Upper-casing goes character by character up to the first character outside
// Latin-1, so a match before it is a match of the whole text; after it, the
// locale decides on the whole text.
bool upperContains(const QString& text, const QString& upperNeedle) {
  if (!plainLocale() || !allPlain(upperNeedle)) return localeUpper(text).contains(upperNeedle);
  if (upperNeedle.isEmpty()) return true;
  TCapitals capitals(2 * text.size());
  const qsizetype taken = addCapitals(capitals, chars(text), text.size());
  if (capitals.contain(upperNeedle)) return true;
  return taken < text.size() && localeUpper(text).contains(upperNeedle);
}

bool upperContainsUtf8(const char* text, qsizetype size, const QString& upperNeedle) {
  if (!plainLocale() || !allPlain(upperNeedle)) {
    return localeUpper(QString::fromUtf8(text, size)).contains(upperNeedle);
  }
  if (upperNeedle.isEmpty()) return true;
  // Each character takes at least as many bytes as its capitals.
  TCapitals capitals(size);
  const qsizetype taken = addCapitals(capitals, reinterpret_cast<const std::uint8_t*>(text), size);
  if (capitals.contain(upperNeedle)) return true;
  return taken < size && localeUpper(QString::fromUtf8(text, size)).contains(upperNeedle);
}

}  // namespace vrk
