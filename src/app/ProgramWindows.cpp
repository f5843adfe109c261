#include "app/ProgramWindows.h"

#include <QCoreApplication>

#include "app/FrmConfig.h"
#include "app/FrmDisplay.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "media/MediaPlayer.h"
#include "midi/FrmMidiPlayer.h"
#include "platform/TerminationSignals.h"
#include "update/FrmUpdate.h"

namespace sonarelle {

TProgramWindows::TProgramWindows()
    : FrmMain(std::make_unique<TFrmMain>()),
      FrmDisplay(std::make_unique<TFrmDisplay>(*FrmMain)),
      FrmMP3info(std::make_unique<TFrmMP3info>(FrmMain->FConfigFile)),
      FrmWaiting(std::make_unique<TFrmWaiting>()),
      FrmConfig(std::make_unique<TFrmConfig>(
          FrmMain->FConfigFile, [this] { return FrmMain->MMWaveRecorder1->ProductName(); })),
      FrmMidiPlayer(std::make_unique<TFrmMidiPlayer>()),
      FrmUpdate(std::make_unique<TFrmUpdate>(FrmMain->FConfigFile, [this] { FrmMain->close(); })),
      FrmTakes(std::make_unique<TFrmTakes>()) {
  FrmMain->LinkWindows(FrmDisplay.get(), FrmMP3info.get(), FrmWaiting.get(), FrmConfig.get(),
                       FrmMidiPlayer.get(), FrmUpdate.get(), FrmTakes.get());
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
  FrmConfig.reset();
  FrmWaiting.reset();
  FrmMP3info.reset();
  FrmDisplay.reset();
}

}  // namespace sonarelle
