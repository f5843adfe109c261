// The main window's settings commands: the recording-quality and the MP3 tag dialogs.
#include "app/FrmConfig.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"

namespace sonarelle {

namespace {

// A plain show: the main window stays usable while the dialog is open.
void ShowDialog(QWidget* dialog) {
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

}  // namespace

void TFrmMain::N61Click() {
  ShowDialog(FrmConfig);
}

void TFrmMain::N62Click() {
  ShowDialog(FrmMP3info);
}

}  // namespace sonarelle
