#pragma once

#include <memory>

namespace sonarelle {

class TFrmDisplay;
class TFrmMain;
class TFrmWaiting;

// The program's windows, created at start in their fixed order (the main window first, as
// the others read its fields) and living until the program ends.
class TProgramWindows {
 public:
  TProgramWindows();
  ~TProgramWindows();

  std::unique_ptr<TFrmMain> FrmMain;
  std::unique_ptr<TFrmDisplay> FrmDisplay;
  std::unique_ptr<TFrmWaiting> FrmWaiting;
};

}  // namespace sonarelle
