// The main window's online update command.
#include "app/FrmMain.h"
#include "update/FrmUpdate.h"

namespace sonarelle {

void TFrmMain::N101Click() {
  // A plain show: the main window stays usable while the update window is open.
  FrmUpdate->show();
  FrmUpdate->raise();
  FrmUpdate->activateWindow();
}

}  // namespace sonarelle
