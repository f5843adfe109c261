// The main window's Options commands: the recording-quality and MP3 tag dialogs, and the
// desktop's sound settings.
#include "app/FrmConfig.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"

namespace sonarelle {

namespace {

constexpr TText kNoSettingsForRecording{
    "MsgNoSettingsForRecording",
    "No sound settings program was found. Install pavucontrol to choose the recording device."};
constexpr TText kNoSettingsForVolume{
    "MsgNoSettingsForVolume",
    "No sound settings program was found. Install pavucontrol to change the system volume."};

// A plain show: the main window stays usable while the dialog is open.
void ShowDialog(QWidget* dialog) {
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

// The desktop's sound settings, best first: the input devices when `recording`, else the
// outputs.
bool StartSoundSettings(bool recording) {
  struct Candidate {
    const char* program;
    QStringList arguments;
  };
  const Candidate candidates[] = {
      {"pavucontrol", {recording ? QStringLiteral("--tab=4") : QStringLiteral("--tab=3")}},
      {"pavucontrol-qt", {}},
      {"gnome-control-center", {QStringLiteral("sound")}},
      {"systemsettings", {QStringLiteral("kcm_pulseaudio")}},
  };
  for (const Candidate& c : candidates) {
    QString path = Shell::FindProgram(QString::fromLatin1(c.program));
    if (!path.isEmpty() && Shell::Start(path, c.arguments)) return true;
  }
  return false;
}

}  // namespace

void TFrmMain::N61Click() {
  ShowDialog(FrmConfig);
}

void TFrmMain::N62Click() {
  ShowDialog(FrmMP3info);
}

void TFrmMain::N63Click() {
  if (!StartSoundSettings(true)) {
    ShowMessage(FTexts(kNoSettingsForRecording));
  }
}

void TFrmMain::N64Click() {
  if (!StartSoundSettings(false)) {
    ShowMessage(FTexts(kNoSettingsForVolume));
  }
}

}  // namespace sonarelle
