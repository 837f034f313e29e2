#include "MessageDlg.h"

#include "Messages.h"

namespace vrk {
namespace {

MessageDlg::Asker& asker() {
  static MessageDlg::Asker a;
  return a;
}

}  // namespace

int MessageDlg::ask(const QString& text, TMsgDlgType type) {
  if (!asker()) return mrNone;
  return asker()(text, type);
}

MessageDlg::Asker MessageDlg::setAsker(Asker a) {
  Asker old = std::move(asker());
  asker() = std::move(a);
  return old;
}

QString MessageDlg::title(TMsgDlgType type) {
  return msg::text(type == TMsgDlgType::mtWarning ? msg::TitleWarning : msg::TitleConfirmation);
}

}  // namespace vrk
