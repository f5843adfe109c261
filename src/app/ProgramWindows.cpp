#include "app/ProgramWindows.h"

#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/FrmWaiting.h"
#include "media/MediaPlayer.h"

namespace sonarelle {

TProgramWindows::TProgramWindows()
    : FrmMain(std::make_unique<TFrmMain>()),
      FrmDisplay(std::make_unique<TFrmDisplay>(*FrmMain)),
      FrmWaiting(std::make_unique<TFrmWaiting>()) {
  FrmMain->LinkWindows(FrmDisplay.get(), FrmWaiting.get());
}

TProgramWindows::~TProgramWindows() {
  // The media device draws into the display window's panel: release it first.
  FrmMain->MediaPlayer1->Close();
  FrmMain->MediaPlayer1->SetDisplay(nullptr);
  FrmMain.reset();
  FrmWaiting.reset();
  FrmDisplay.reset();
}

}  // namespace sonarelle
