// The toolkit's message box with Yes and No, as the core asks its questions
// (whether to connect to a mirror, whether to overwrite the database). The
// program answers through a real message box with the title of its kind and
// the buttons msg::ButtonYes and msg::ButtonNo (Messages.h); a command-line
// tool asks on its terminal; tests install scripted answers, so every path
// (Yes, No, a closed box) runs without a screen.
//
// UI thread only.
#pragma once

#include <QString>

#include <functional>

namespace vrk {

enum class TMsgDlgType { mtWarning, mtConfirmation };

// The modal results a question can end with. A box closed without a button
// gives mrNone (its close box) or mrCancel (Escape).
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class MessageDlg final {
 public:
  using Asker = std::function<int(const QString& text, TMsgDlgType type)>;

  // Shows text with the buttons Yes and No and returns the answer. Without
  // an installed asker nothing can answer, and the result is mrNone.
  static int ask(const QString& text, TMsgDlgType type);
  // Replaces the asker and returns the previous one.
  static Asker setAsker(Asker asker);

  // The title of the box of each kind: msg::TitleWarning,
  // msg::TitleConfirmation.
  static QString title(TMsgDlgType type);
};

}  // namespace vrk
