// The main window's "Get Database": binds the four transfer indicators,
// then runs the catalogue refresh of the core, which shows the copy
// animation and msg::Ready through this window.
#include "VRKSearchMain.h"

#include "CatalogueInstall.h"
#include "Messages.h"
#include "VRKSearchData.h"

namespace vrk {
namespace {

class TWindowInstallView final : public TInstallView {
 public:
  explicit TWindowInstallView(TForm1& form) : m_form(form) {}

  void ShowCopying() override { m_form.Animate1->play(TCommonAVI::aviCopyFiles); }
  void HideCopying() override { m_form.Animate1->stop(); }
  void ShowReady() override { m_form.StatusBar1->setPanelText(1, msg::text(msg::Ready)); }

 private:
  TForm1& m_form;
};

}  // namespace

void TForm1::miGetDatabaseClick() {
  // Refused before the relays move, so a running transfer keeps its display.
  m_data.CheckNoTransferRunning();
  bindRelays(true);
  TWindowInstallView view(*this);
  runTransfer([&] { GetDatabase(m_data, view); });
}

}  // namespace vrk
