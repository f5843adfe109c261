#pragma once

#include <memory>

#include <QList>
#include <QMainWindow>
#include <QStringList>

#include "app/PlayerState.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QSlider;
class QTimer;
class QToolButton;

namespace sonarelle {

class TCollapsiblePanel;
class TMMLEDLABEL;

// The main window: owns the playing and recording components, holds the program's state
// and turns menu commands and toolbar buttons into calls on the parts that do the work.
class TFrmMain : public QMainWindow {
 public:
  static constexpr int kClientWidth = 508;
  static constexpr int kClientHeight = 302;

  // Creates the window and runs FormCreate.
  explicit TFrmMain(QWidget* parent = nullptr);
  ~TFrmMain() override;

  // The menu item (or pop-up item) with the given name, such as "N21" or "MenuScreen".
  QAction* Item(const QString& name) const;

  // Fields the other windows use.
  QString FConfigFile;
  QString FLanguageFile;

  // Components and controls, reachable by the other windows and the tests.
  TMMLEDLABEL* MMLEDLABEL1 = nullptr;
  QSlider* suiTrackBar1 = nullptr;  // position bar
  QSlider* suiTrackBar2 = nullptr;  // master volume
  QLabel* Label1 = nullptr;
  TCollapsiblePanel* suiPanel1 = nullptr;
  QGroupBox* suiGroupBox4 = nullptr;
  QMenu* suiPopupMenu1 = nullptr;
  QTimer* Timer1 = nullptr;
  QToolButton* BtnPlay = nullptr;
  QToolButton* BtnPause = nullptr;
  QToolButton* BtnStop = nullptr;
  QToolButton* BtnRecord = nullptr;
  QToolButton* BtnStopRecord = nullptr;

  // State.
  TPlayState FPlayState = TPlayState::psIdle;
  TMediaKind FMediaKind = TMediaKind::mkNone;
  bool FDiscMode = false;
  int FDiscTrack = 0;
  QString FCdDrive;  // mount point of the first optical drive
  QList<QAction*> FDiscItems;
  TNormalBounds FNormalBounds;
  QString FTempWave;
  bool FRecording = false;
  std::unique_ptr<QStringList> FLyricLines;
  int FLyricLine = 0;
  int FLyricChar = 0;

  // Where the Homepage and Support commands lead.
  static const char* const kHomePage;
  static const char* const kSupportMail;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildControls();
  QToolButton* AddButton(QWidget* parent, const char* name, const char* hint, const QIcon& icon,
                         QAction* command);
  void Enable(const char* name, bool enabled);

  void FormCreate();
  void FormClose();

  void N17Click();
  void N63Click();
  void N64Click();
  void N81Click();
  void N82Click();
  void N83Click();
  void suiPanel1Push();
  void suiPanel1Pop();

  int menuHeight_ = 0;
};

}  // namespace sonarelle
