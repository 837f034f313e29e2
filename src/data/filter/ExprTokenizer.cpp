// The filter tokenizer: the character classes of the filter language and
// the reading of one token after the other from the text.
#include "ExprParser.h"

#include "ExprInternal.h"
#include "Messages.h"

namespace vrk {
namespace {

using expr::sameAsciiText;

bool isAsciiLetter(char16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isSymbolStart(char16_t c) { return isAsciiLetter(c) || c == '_' || (c >= 0x81 && c <= 0xFE); }
bool isSymbolChar(char16_t c) {
  return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '[' || c == ']';
}
bool isNumberChar(char16_t c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'E' || c == 'e';
}

}  // namespace

QString TExprParser::tokenName() const {
  if (m_pos == m_tokenPos) return msg::text(msg::ExprNothing);
  return QLatin1Char('\'') + m_text.mid(m_tokenPos, m_pos - m_tokenPos) + QLatin1Char('\'');
}

bool TExprParser::tokenSymbolIs(const char* word) const {
  return m_token == TExprToken::etSymbol && sameAsciiText(m_tokenString, QString::fromLatin1(word));
}

void TExprParser::nextToken() {
  auto at = [this](int i) -> char16_t { return i < m_text.size() ? m_text[i].unicode() : 0; };
  auto skipBlanks = [&] {
    while (at(m_pos) >= 1 && at(m_pos) <= 32) ++m_pos;
  };
  auto invalidChar = [&](int i) {
    QString c;
    if (i < m_text.size()) {
      c = m_text.mid(i, 1);
      if (m_text[i].isHighSurrogate() && i + 1 < m_text.size()) c = m_text.mid(i, 2);
    }
    fail(msg::ExprInvalidChar, c);
  };

  m_prevToken = m_token;
  m_tokenString.clear();
  skipBlanks();
  if (at(m_pos) == '/' && at(m_pos + 1) == '*') {
    m_pos += 2;
    while (at(m_pos) != 0 && at(m_pos) != '*') ++m_pos;
    if (at(m_pos) == '*' && at(m_pos + 1) == '/') {
      m_pos += 2;
      skipBlanks();
    } else {
      invalidChar(m_pos);
    }
  }
  m_tokenPos = m_pos;
  m_numericLit = false;
  const char16_t c = at(m_pos);
  switch (c) {
    case 0: m_token = TExprToken::etEnd; return;
    case '\'': {
      ++m_pos;
      int kept = 0;
      for (;;) {
        const char16_t ch = at(m_pos);
        if (ch == 0) fail(msg::ExprStringTerm);
        if (ch == '\'') {
          if (at(m_pos + 1) != '\'') {
            ++m_pos;
            break;
          }
          ++m_pos;  // a doubled quote stands for one
        }
        if (kept < 256) {
          m_tokenString += QChar(ch);
          ++kept;
        }
        ++m_pos;
      }
      if (m_tokenString.isNull()) m_tokenString = QLatin1String("");
      m_token = TExprToken::etLiteral;
      return;
    }
    case '(':
      ++m_pos;
      m_token = TExprToken::etLParen;
      return;
    case ')':
      ++m_pos;
      m_token = TExprToken::etRParen;
      return;
    case '*':
      ++m_pos;
      m_token = TExprToken::etMUL;
      return;
    case '+':
      ++m_pos;
      m_token = TExprToken::etADD;
      return;
    case ',':
      ++m_pos;
      m_token = TExprToken::etComma;
      return;
    case '/':
      ++m_pos;
      m_token = TExprToken::etDIV;
      return;
    case '=':
      ++m_pos;
      m_token = TExprToken::etEQ;
      return;
    case '<':
      ++m_pos;
      if (at(m_pos) == '=') {
        ++m_pos;
        m_token = TExprToken::etLE;
      } else if (at(m_pos) == '>') {
        ++m_pos;
        m_token = TExprToken::etNE;
      } else
        m_token = TExprToken::etLT;
      return;
    case '>':
      ++m_pos;
      if (at(m_pos) == '=') {
        ++m_pos;
        m_token = TExprToken::etGE;
      } else
        m_token = TExprToken::etGT;
      return;
    case '[': {
      const qsizetype close = m_text.indexOf(QLatin1Char(']'), m_pos + 1);
      if (close < 0) fail(msg::ExprNameTerm);
      m_tokenString = m_text.mid(m_pos + 1, close - m_pos - 1);
      m_pos = static_cast<int>(close) + 1;
      m_token = TExprToken::etName;
      return;
    }
    default: break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    if (m_prevToken == TExprToken::etSymbol || m_prevToken == TExprToken::etName ||
        m_prevToken == TExprToken::etLiteral || m_prevToken == TExprToken::etRParen) {
      ++m_pos;
      m_token = TExprToken::etSUB;
      return;
    }
    ++m_pos;
    while (isNumberChar(at(m_pos))) ++m_pos;
    m_tokenString = m_text.mid(m_tokenPos, m_pos - m_tokenPos);
    m_numericLit = true;
    m_token = TExprToken::etLiteral;
    return;
  }
  if (isSymbolStart(c)) {
    ++m_pos;
    while (isSymbolChar(at(m_pos))) ++m_pos;
    m_tokenString = m_text.mid(m_tokenPos, m_pos - m_tokenPos);
    m_token = TExprToken::etSymbol;
    if (sameAsciiText(m_tokenString, QStringLiteral("LIKE"))) {
      m_token = TExprToken::etLIKE;
    } else if (sameAsciiText(m_tokenString, QStringLiteral("IN"))) {
      m_token = TExprToken::etIN;
    } else if (sameAsciiText(m_tokenString, QStringLiteral("IS"))) {
      auto readWord = [&] {
        skipBlanks();
        const int start = m_pos;
        while (isAsciiLetter(at(m_pos))) ++m_pos;
        return m_text.mid(start, m_pos - start);
      };
      QString word = readWord();
      if (sameAsciiText(word, QStringLiteral("NULL"))) {
        m_token = TExprToken::etIsNull;
      } else if (sameAsciiText(word, QStringLiteral("NOT"))) {
        word = readWord();
        if (!sameAsciiText(word, QStringLiteral("NULL"))) fail(msg::ExprBadKeyword);
        m_token = TExprToken::etIsNotNull;
      } else {
        fail(msg::ExprBadKeyword);
      }
    }
    return;
  }
  invalidChar(m_pos);
}

}  // namespace vrk
