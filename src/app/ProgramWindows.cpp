#include "app/ProgramWindows.h"

#include <QCoreApplication>

#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "media/MediaPlayer.h"
#include "midi/FrmMidiPlayer.h"
#include "platform/TerminationSignals.h"
#include "update/FrmUpdate.h"

namespace sonarelle {

TProgramWindows::TProgramWindows()
    : FrmMain(std::make_unique<TFrmMain>()),
      FrmDisplay(std::make_unique<TFrmDisplay>(*FrmMain)),
      FrmWaiting(std::make_unique<TFrmWaiting>()),
      FrmMidiPlayer(std::make_unique<TFrmMidiPlayer>()),
      FrmUpdate(std::make_unique<TFrmUpdate>(FrmMain->FConfigFile, [this] { FrmMain->close(); })),
      FrmTakes(std::make_unique<TFrmTakes>()) {
  FrmMain->LinkWindows(FrmDisplay.get(), FrmWaiting.get(), FrmMidiPlayer.get(), FrmUpdate.get(),
                       FrmTakes.get());
  signals_ = std::make_unique<TerminationSignals>([this](int signal) {
    FrmMain->EndSession();
    QCoreApplication::exit(128 + signal);
  });
}

TProgramWindows::~TProgramWindows() {
  signals_.reset();
  // The media device draws into the display window's panel: release it first.
  FrmMain->MediaPlayer1->Close();
  FrmMain->MediaPlayer1->SetDisplay(nullptr);
  FrmMain.reset();
  FrmTakes.reset();
  FrmUpdate.reset();
  FrmMidiPlayer.reset();
  FrmWaiting.reset();
  FrmDisplay.reset();
}

}  // namespace sonarelle
