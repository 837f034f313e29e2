// The status line of a listed member, byte for byte, and the reading of a
// stored member name as text.
#include "unzip/UnzipStatus.h"

#include <gtest/gtest.h>

namespace vrk {
namespace {

TEST(UnzipStatusLine, Layout) {
  struct Case {
    quint32 size, compressed, factor, month, day, year, hour, minute;
    char flag;
    const char* name;
    const char* line;
  };
  const Case cases[] = {
      // factor 100: "100%" with no sign
      {200000, 203, 100, 11, 22, 21, 9, 30, ' ', "zeros.bin",
       " 200000      203 100%  11-22-21   9:30   zeros.bin"},
      // factor 45, compressed not larger: a blank before it
      {1000, 550, 45, 12, 31, 20, 23, 59, ' ', "a.txt", "   1000      550  45%  12-31-20  23:59   a.txt"},
      // compressed larger than uncompressed: "-"
      {100, 145, 45, 1, 1, 0, 0, 0, ' ', "b", "    100      145 -45%   1- 1- 0   0: 0   b"},
      // one-digit date and time parts padded with blanks, not zeros
      {45, 45, 0, 3, 7, 99, 14, 5, ' ', "dated.txt", "     45       45   0%   3- 7-99  14: 5   dated.txt"},
      // the flag character before the name
      {6, 18, 200, 5, 4, 3, 2, 1, '*', "secret.txt", "      6       18 -200%   5- 4- 3   2: 1  *secret.txt"},
      // values wider than their fields are not cut
      {123456789, 4294967295u, 3379, 13, 32, 127, 31, 63, ' ', "x",
       "123456789  4294967295 -3379%  13-32-127  31:63   x"},
      // an empty name
      {0, 0, 0, 1, 2, 3, 4, 5, ' ', "", "      0        0   0%   1- 2- 3   4: 5   "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnzipStatusLine(c.size, c.compressed, c.factor, c.month, c.day, c.year, c.hour, c.minute,
                              c.flag, QString::fromUtf8(c.name))
                  .toStdString(),
              c.line);
  }
}

TEST(UnzipStatusLine, ColumnsWhenNothingOverflows) {
  const QString line =
      UnzipStatusLine(1234567, 7654321, 99, 10, 11, 12, 13, 14, '*', QStringLiteral("dir/name.txt"));
  EXPECT_EQ(line.mid(0, 7), QStringLiteral("1234567"));     // columns 1–7
  EXPECT_EQ(line.mid(7, 2), QStringLiteral("  "));          // 8–9
  EXPECT_EQ(line.mid(9, 7), QStringLiteral("7654321"));     // 10–16
  EXPECT_EQ(line.mid(17, 4), QStringLiteral("-99%"));       // 18–21
  EXPECT_EQ(line.mid(23, 8), QStringLiteral("10-11-12"));   // 24–31
  EXPECT_EQ(line.mid(33, 5), QStringLiteral("13:14"));      // 34–38
  EXPECT_EQ(line.mid(40, 1), QStringLiteral("*"));          // 41
  EXPECT_EQ(line.mid(41), QStringLiteral("dir/name.txt"));  // 42 onward
}

TEST(MemberNameText, Utf8WhenValidElseOneCharacterPerByte) {
  EXPECT_EQ(MemberNameText(QByteArray("Gr\xc3\xbc\xc3\x9f"
                                      "e.txt")),
            QStringLiteral(u"Grüße.txt"));
  EXPECT_EQ(MemberNameText(QByteArray("\xe4rger.txt")), QStringLiteral(u"ärger.txt"));
  EXPECT_EQ(MemberNameText(QByteArray("\xef\xbb\xbf"
                                      "bom")),
            QStringLiteral(u"\ufeffbom"));
  EXPECT_EQ(MemberNameText(QByteArray("plain?.txt")), QStringLiteral("plain?.txt"));
}

}  // namespace
}  // namespace vrk
