#include "Startup.h"

#include "FormLook.h"
#include "Mirrors.h"
#include "OptionsPage.h"
#include "VRKSearchData.h"
#include "VRKSearchMain.h"

#include <QApplication>
#include <QTimer>

#include <memory>

namespace vrk {

int runProgram(const TPlaces& places, const std::function<void(TForm1&)>& afterShow) {
  // The data module first: its creation handler reads VRK.ini and the alias.
  // Its own errors are shown and start-up goes on.
  auto data = std::make_unique<TVRKData>(places);
  int rc = 0;
  {
    // The main window, whose FormCreate fills the category list.
    TForm1 form(*data);
    // The two dialogs, hidden until the user opens them.
    TfrmOptions frmOptions(*data);
    TfrmMirror frmMirror(*data);
    frmOptions.setMirrorDialog(&frmMirror);
    form.setOptionsDialog(&frmOptions);
    // Centred on the screen when it first appears.
    centreOnScreen(form);
    form.show();
    form.activateWindow();
    if (afterShow) QTimer::singleShot(0, &form, [&form, &afterShow] { afterShow(form); });
    rc = QApplication::exec();
  }
  // Destroying the data module writes the settings back.
  data.reset();
  return rc;
}

}  // namespace vrk
