#pragma once

#include <memory>

namespace sonarelle {

class TFrmConfig;
class TFrmDisplay;
class TFrmMain;
class TFrmMP3info;
class TFrmMidiPlayer;
class TFrmTakes;
class TFrmUpdate;
class TFrmWaiting;
class TerminationSignals;

// The program's windows, created at start in their fixed order (the main window first, as
// the others read its fields) and living until the program ends.
class TProgramWindows {
 public:
  TProgramWindows();
  ~TProgramWindows();

  std::unique_ptr<TFrmMain> FrmMain;
  std::unique_ptr<TFrmDisplay> FrmDisplay;
  std::unique_ptr<TFrmMP3info> FrmMP3info;
  std::unique_ptr<TFrmWaiting> FrmWaiting;
  std::unique_ptr<TFrmConfig> FrmConfig;
  std::unique_ptr<TFrmMidiPlayer> FrmMidiPlayer;
  std::unique_ptr<TFrmUpdate> FrmUpdate;
  std::unique_ptr<TFrmTakes> FrmTakes;

 private:
  // A logout or a kill signal ends the program the way its own end would, take kept.
  std::unique_ptr<TerminationSignals> signals_;
};

}  // namespace sonarelle
