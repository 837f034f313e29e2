// Helpers that the units of the filter expression share (tokenizer, parser
// and block writer); not part of the filter library's interface.
#pragma once

#include <QString>

namespace vrk::expr {

// Throws EDatabaseError with message, "%1" in it replaced by arg.
[[noreturn]] void databaseError(const char* message, const QString& arg = {});

// Keywords and the yes/no words ignore the case of A-Z only.
bool sameAsciiText(const QString& a, const QString& b);

}  // namespace vrk::expr
