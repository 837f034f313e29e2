// The main window's design: what it fixes for each control of the criteria
// panel and the detail panel. The window builds both panels from these
// tables, and its tests read them, so the design is written once.
#pragma once

namespace vrk {

// A control of the criteria panel (Panel1): its name, caption (none for the
// combo box and the edit field), left and top in the panel, width and
// height (0: what the caption needs) and place in the Tab key's order (-1:
// none, the labels).
struct TCriteriaControl {
  const char* name;
  const char* caption;
  int left, top, width, height, tab;
};

// The check boxes are as wide as their column allows: the columns start at
// 8, 96, 192 and 288, the category box at 376.
inline constexpr TCriteriaControl kCriteriaPanel[] = {
    {"cbDelphi1", "Delphi 1", 8, 8, 88, 17, 0},       {"cbDelphi2", "Delphi 2", 8, 24, 88, 17, 1},
    {"cbDelphi3", "Delphi 3", 8, 40, 88, 17, 2},      {"cbDelphi4", "Delphi 4", 8, 56, 88, 17, 3},
    {"cbDelphi5", "Delphi 5", 8, 72, 88, 17, 4},      {"cbDelphi6", "Delphi 6", 8, 88, 88, 17, 16},
    {"cbC1", "C++ Builder 1", 96, 8, 96, 17, 5},      {"cbC3", "C++ Builder 3", 96, 40, 96, 17, 6},
    {"cbC4", "C++ Builder 4", 96, 56, 96, 17, 7},     {"cbC5", "C++ Builder 5", 96, 72, 96, 17, 8},
    {"cbJ1", "J Builder 1", 192, 8, 96, 17, 10},      {"cbJ2", "J Builder 2", 192, 24, 96, 17, 11},
    {"cbKylix", "Kylix", 192, 48, 96, 17, 17},        {"cbFreeWare", "Freeware", 288, 8, 88, 17, 12},
    {"cbSource", "with Source", 288, 24, 88, 17, 13}, {"Label1", "File-Categorie", 376, 8, 0, 0, -1},
    {"cbFileCat", nullptr, 376, 20, 217, 21, 14},     {"Label2", "Text to search :", 272, 64, 0, 0, -1},
    {"Edit1", nullptr, 272, 84, 321, 21, 15},         {"Button1", "submit", 188, 80, 75, 25, 9},
};

// A read-only check box of the detail panel (Panel2), top to bottom: its
// name, caption, the yes/no field it shows and its top; all stand at left 7,
// 90 wide and 17 high.
struct TDetailControl {
  const char* name;
  const char* caption;
  const char* field;
  int top;
};
inline constexpr int kDetailLeft = 7;
inline constexpr int kDetailWidth = 90;

inline constexpr TDetailControl kDetailPanel[] = {
    {"CheckBox1", "Delphi 1", "D10", 8},
    {"CheckBox2", "Delphi 2", "D20", 24},
    {"CheckBox3", "Delphi 3", "D30", 40},
    {"CheckBox4", "Delphi 4", "D40", 56},
    {"CheckBox5", "Delphi 5", "D50", 72},
    {"DBCheckBox1", "Delphi 6", "D60", 88},
    {"DBCheckBox2", "Kylix", "K10", 112},
    {"CheckBox6", "C++ Builder 1", "C10", 136},
    {"CheckBox8", "C++ Builder 3", "C30", 152},
    {"CheckBox9", "C++ Builder 4", "C40", 168},
    {"CheckBox10", "C++ Builder 5", "C50", 184},
    {"CheckBox11", "J Builder 1", "J10", 208},
    {"CheckBox12", "J Builder 2", "J20", 224},
    {"CheckBox13", "Freeware", "Free", 248},
    {"CheckBox14", "with Source", "WithSource", 264},
};

}  // namespace vrk
