#include "MemTablePack.h"

#include "MemTableSlot.h"

#include <cstring>

namespace vrk::mempack {
namespace {

constexpr std::uint8_t kUtf8Text = 2;  // the slot's presence byte of a UTF-8 text

std::size_t lengthBytes(std::size_t n) {
  std::size_t bytes = 1;
  while (n >= 0x80) n >>= 7, ++bytes;
  return bytes;
}

std::uint8_t* putLength(std::uint8_t* out, std::size_t n) {
  while (n >= 0x80) {
    *out++ = static_cast<std::uint8_t>(n | 0x80);
    n >>= 7;
  }
  *out++ = static_cast<std::uint8_t>(n);
  return out;
}

const std::uint8_t* getLength(const std::uint8_t* in, std::size_t& n) {
  n = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t b = *in++;
    n |= static_cast<std::size_t>(b & 0x7f) << shift;
    if (!(b & 0x80)) return in;
  }
}

bool bitAt(const std::uint8_t* packed, int bit) { return (packed[bit / 8] >> (bit % 8)) & 1; }

}  // namespace

int Layout::addInline(TFieldType type, int size, int offset) {
  Entry e{Kind::Fixed, type, size, offset, 0, 0};
  if (type == TFieldType::ftBoolean) {
    e.kind = Kind::Flag;
    e.at = 2 * m_flags++;
  } else if (type == TFieldType::ftString || type == TFieldType::ftFixedChar) {
    e.kind = Kind::Text;
    e.at = m_variables++;
    m_textVariable.push_back(true);
  } else {
    e.width = 1 + memslot::valueWidth(type, size);
    e.at = m_fixedBytes;  // from the start of the fixed part, made absolute in finish()
    m_fixedBytes += e.width;
  }
  m_entries.push_back(e);
  return static_cast<int>(m_entries.size()) - 1;
}

int Layout::addBlob(int blobIndex) {
  m_entries.push_back(Entry{Kind::Blob, TFieldType::ftBlob, 0, -1, m_variables++, blobIndex});
  m_textVariable.push_back(false);
  return static_cast<int>(m_entries.size()) - 1;
}

void Layout::finish() {
  const int flagBytes = (2 * m_flags + 7) / 8;
  m_flagSteps.clear();
  m_fixedRuns.clear();
  m_variableSteps.clear();
  m_textBound = 0;
  for (Entry& e : m_entries) {
    switch (e.kind) {
      case Kind::Flag: m_flagSteps.push_back({e.offset, e.at}); break;
      case Kind::Fixed: {
        e.at += flagBytes;
        FixedRun* last = m_fixedRuns.empty() ? nullptr : &m_fixedRuns.back();
        if (last && last->offset + last->width == e.offset && last->at + last->width == e.at) {
          last->width += e.width;
        } else {
          m_fixedRuns.push_back({e.offset, e.at, e.width});
        }
        break;
      }
      case Kind::Text:
        m_variableSteps.push_back({true, e.offset, e.size});
        m_textBound +=
            lengthBytes(2 * static_cast<std::size_t>(e.size) + 1) + static_cast<std::size_t>(e.size);
        break;
      case Kind::Blob: m_variableSteps.push_back({false, e.width, 0}); break;
    }
  }
  m_variablesAt = flagBytes + m_fixedBytes;
}

void Layout::clear() {
  m_entries.clear();
  m_textVariable.clear();
  m_flagSteps.clear();
  m_fixedRuns.clear();
  m_variableSteps.clear();
  m_textBound = 0;
  m_flags = m_fixedBytes = m_variables = m_variablesAt = 0;
}

std::size_t Layout::packBound(const QByteArray* blobs) const {
  std::size_t size = static_cast<std::size_t>(m_variablesAt) + m_textBound;
  for (const VariableStep& v : m_variableSteps) {
    if (v.text) continue;
    const auto n = static_cast<std::size_t>(blobs[v.offset].size());
    size += lengthBytes(n) + n;
  }
  return size;
}

std::size_t Layout::pack(const std::uint8_t* block, const QByteArray* blobs, std::uint8_t* out) const {
  std::memset(out, 0, static_cast<std::size_t>(m_variablesAt - m_fixedBytes));
  for (const FlagStep& f : m_flagSteps) {
    const std::uint8_t* slot = block + f.offset;
    if (slot[0] == 0) continue;
    std::uint16_t v;
    std::memcpy(&v, slot + 1, sizeof v);
    out[f.bit / 8] |= static_cast<std::uint8_t>((v != 0 ? 3 : 1) << (f.bit % 8));
  }
  for (const FixedRun& r : m_fixedRuns)
    std::memcpy(out + r.at, block + r.offset, static_cast<std::size_t>(r.width));
  std::uint8_t* var = out + m_variablesAt;
  for (const VariableStep& v : m_variableSteps) {
    if (v.text) {
      const std::uint8_t* slot = block + v.offset;
      const std::size_t n =
          strnlen(reinterpret_cast<const char*>(slot + 1), static_cast<std::size_t>(v.size));
      var = putLength(var, 2 * n + (slot[0] == kUtf8Text ? 1 : 0));
      std::memcpy(var, slot + 1, n);
      var += n;
    } else {
      const QByteArray& b = blobs[v.offset];
      var = putLength(var, static_cast<std::size_t>(b.size()));
      std::memcpy(var, b.constData(), static_cast<std::size_t>(b.size()));
      var += b.size();
    }
  }
  return static_cast<std::size_t>(var - out);
}

void Layout::unpack(const std::uint8_t* packed, std::uint8_t* block, QByteArray* blobs) const {
  const std::uint8_t* var = packed + m_variablesAt;
  for (const Entry& e : m_entries) {
    std::uint8_t* slot = block + e.offset;
    switch (e.kind) {
      case Kind::Flag:
        if (bitAt(packed, e.at)) {
          slot[0] = 1;
          const std::uint16_t v = bitAt(packed, e.at + 1) ? 1 : 0;
          std::memcpy(slot + 1, &v, sizeof v);
        }
        break;
      case Kind::Fixed: std::memcpy(slot, packed + e.at, static_cast<std::size_t>(e.width)); break;
      case Kind::Text: {
        std::size_t n = 0;
        var = getLength(var, n);
        if (n > 1) {
          slot[0] = (n & 1) ? kUtf8Text : 1;
          std::memcpy(slot + 1, var, n / 2);
        }
        var += n / 2;
        break;
      }
      case Kind::Blob: {
        std::size_t n = 0;
        var = getLength(var, n);
        blobs[e.width] =
            n ? QByteArray(reinterpret_cast<const char*>(var), static_cast<qsizetype>(n)) : QByteArray();
        var += n;
        break;
      }
    }
  }
}

const std::uint8_t* Layout::variable(const std::uint8_t* packed, const Entry& e, std::size_t& length,
                                     bool& utf8) const {
  const std::uint8_t* var = packed + m_variablesAt;
  for (int i = 0;; ++i) {
    std::size_t n = 0;
    var = getLength(var, n);
    if (i == e.at) {
      if (e.kind == Kind::Text) {
        utf8 = (n & 1) != 0;
        length = n / 2;
      } else {
        utf8 = false;
        length = n;
      }
      return var;
    }
    // A short text's length holds its encoding in the low bit.
    var += m_textVariable[static_cast<std::size_t>(i)] ? n / 2 : n;
  }
}

QVariant Layout::read(const std::uint8_t* packed, int entry) const {
  const Entry& e = m_entries[static_cast<std::size_t>(entry)];
  switch (e.kind) {
    case Kind::Flag: return bitAt(packed, e.at) ? QVariant(bitAt(packed, e.at + 1)) : QVariant();
    case Kind::Fixed: return memslot::read(packed + e.at, e.type, e.size);
    case Kind::Text: {
      std::size_t n = 0;
      bool utf8 = false;
      const auto* p = reinterpret_cast<const char*>(variable(packed, e, n, utf8));
      if (n == 0) return QVariant();
      const auto len = static_cast<qsizetype>(n);
      return utf8 ? QString::fromUtf8(p, len) : QString::fromLatin1(p, len);
    }
    case Kind::Blob: break;
  }
  return QVariant();
}

bool Layout::isNull(const std::uint8_t* packed, int entry) const {
  const Entry& e = m_entries[static_cast<std::size_t>(entry)];
  switch (e.kind) {
    case Kind::Flag: return !bitAt(packed, e.at);
    case Kind::Fixed: return memslot::isNull(packed + e.at, e.type, e.size);
    case Kind::Text:
    case Kind::Blob: {
      std::size_t n = 0;
      bool utf8 = false;
      variable(packed, e, n, utf8);
      return n == 0;
    }
  }
  return true;
}

QByteArrayView Layout::blob(const std::uint8_t* packed, int entry) const {
  const Entry& e = m_entries[static_cast<std::size_t>(entry)];
  std::size_t n = 0;
  bool utf8 = false;
  const std::uint8_t* p = variable(packed, e, n, utf8);
  return QByteArrayView(reinterpret_cast<const char*>(p), static_cast<qsizetype>(n));
}

}  // namespace vrk::mempack
