#pragma once

#include <deque>
#include <functional>
#include <memory>

#include <QList>
#include <QMainWindow>
#include <QSize>
#include <QStringList>

#include "app/PlayerState.h"
#include "app/TakeFile.h"
#include "midi/MidiFile.h"
#include "platform/LanguageSection.h"
#include "platform/OpticalDrives.h"
#include "platform/WaveInDriver.h"

class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QRadioButton;
class QSlider;
class QTimer;
class QToolButton;

namespace sonarelle {

class TAudioMixer;
class TCollapsiblePanel;
class TFrmConfig;
class TFrmDisplay;
class TFrmMidiPlayer;
class TFrmMP3info;
class TFrmTakes;
class TFrmUpdate;
class TFrmWaiting;
class TMediaPlayer;
class TMMLEDLABEL;
class TMMConnector;
class TMMMP3Encoder;
class TMMOscope;
class TMMTrigger;
class TMMWaveFile;
class TMMWaveRecorder;
class TMP3Info;
class MixerDriver;
class TsuiFileTheme;
class TsuiThemeManager;

// The main window: owns the playing and recording components, holds the program's state
// and turns menu commands and toolbar buttons into calls on the parts that do the work.
class TFrmMain : public QMainWindow {
 public:
  static constexpr int kClientWidth = 508;
  static constexpr int kClientHeight = 302;

  // Creates the window and runs FormCreate.
  explicit TFrmMain(QWidget* parent = nullptr);
  // The same over another mixer than the sound server's (a test's driver around it).
  explicit TFrmMain(MixerDriver& mixer, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // The menu item (or pop-up item) with the given name, such as "N21" or "MenuScreen".
  QAction* Item(const QString& name) const;

  // Opens and starts an accompaniment, choosing the player by the name's last three
  // characters.
  void PlayFile(const QString& fileName);

  // Finds the first optical drive and leaves its mount point in FCdDrive.
  bool FindCdDrive();
  // Lists the disc's tracks, plays the first and fills the track menu.
  void ListDiscTracks();
  // Plays the track of a track menu item.
  void DiscTrackClick(QAction* item);

  // Shows the desktop's panels (the display window leaves full screen) or hides them (the
  // display window covers the screen).
  void ShowTaskbar(bool show);

  // The filters of the file-open and file-save dialogs, as pairs of description and
  // patterns.
  static const char* const kOpenFilter;
  static const char* const kSaveFilter;

  // Fields the other windows use.
  QString FConfigFile;
  QString FLanguageFile;

  // Sets the texts of every window from the language file, window by window; a missing file
  // or key leaves the built-in English text (FrmMainLanguage.cpp).
  void LoadLanguage(const QString& languageFile);
  // The main window's messages and hints in the language last loaded.
  TLanguageTexts FTexts{QStringLiteral("FrmMain")};

  // Links the windows created after this one (not owned).
  void LinkWindows(TFrmDisplay* display, TFrmMP3info* mp3Info, TFrmWaiting* waiting,
                   TFrmConfig* config, TFrmMidiPlayer* midiPlayer, TFrmUpdate* update,
                   TFrmTakes* takes);

  // The video display window, linked at start (not owned).
  TFrmDisplay* FrmDisplay = nullptr;
  // The MP3 tag dialog, linked at start (not owned).
  TFrmMP3info* FrmMP3info = nullptr;
  // The conversion's progress window, linked at start (not owned).
  TFrmWaiting* FrmWaiting = nullptr;
  // The recording-quality dialog, linked at start (not owned).
  TFrmConfig* FrmConfig = nullptr;
  // The lyric window and MIDI output device, linked at start (not owned).
  TFrmMidiPlayer* FrmMidiPlayer = nullptr;
  // The online update window, linked at start (not owned).
  TFrmUpdate* FrmUpdate = nullptr;
  // The window offering takes that were not saved, linked at start (not owned).
  TFrmTakes* FrmTakes = nullptr;

  // The program is ending (a logout, a signal): a take being recorded is finished and
  // kept, a conversion is cut short keeping its take, and no dialog asks anything more.
  void EndSession();
  // Offers the takes a program that ended left behind; run once the window shows.
  void OfferLeftTakes();

  // Called once, when the window is on the screen with its first picture drawn. What can
  // wait for that moment (the file dialogs, the MIDI devices) is made right after.
  std::function<void()> OnScreen;

  // Where the optical drives come from; tests put a folder in place of a disc.
  std::function<QList<OpticalDrive>()> OpticalDriveProvider = OpticalDrives;

  // Components and controls, reachable by the other windows and the tests.
  std::unique_ptr<TMediaPlayer> MediaPlayer1;
  std::unique_ptr<TMidiFile> MidiFile1;
  std::unique_ptr<TMMWaveRecorder> MMWaveRecorder1;
  std::unique_ptr<TMMConnector> MMConnector1;
  std::unique_ptr<TMMWaveFile> MMWaveFile1;
  std::unique_ptr<TMMTrigger> MMTrigger1;
  std::unique_ptr<TMMMP3Encoder> MMMP3Encoder1;
  std::unique_ptr<TMP3Info> MP3Info1;
  std::unique_ptr<TAudioMixer> AudioMixer1;
  // The theme file the SilverXP, GreenXP and BlueStorm skins draw from, shared by every window.
  std::unique_ptr<TsuiFileTheme> suiFileTheme1;
  // Made once the window is on screen, or when first used before.
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  QStringList FileListBox1;  // names of the disc's track files, without folder
  TMMLEDLABEL* MMLEDLABEL1 = nullptr;
  TMMOscope* MMOscope1 = nullptr;
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
  QString FDiscFolder;   // folder of the names in FileListBox1
  QString FCurrentFile;  // the accompaniment last opened, played again after its end

  // Recording and saving takes.
  QString FTempWave;
  std::unique_ptr<TTakeFile> FTake;  // the take of FTempWave until it is saved or discarded
  // A take on its way to an MP3 file, encoded into a file of its own beside the target that
  // takes the target's name once its tag is written: a crash never leaves a part of an MP3
  // file under the singer's name.
  struct TConversion {
    std::unique_ptr<TTakeFile> take;
    QString target;
    QString partial;
    QString failure;     // why it failed, once it has
    QString tagFailure;  // saved, but without its tag
  };
  std::deque<TConversion> FConversions;  // the running conversion first, then the waiting
  bool FConverting = false;
  bool FRecording = false;
  bool FSessionEnding = false;
  // The window was closed while conversions ran: nothing starts any more, and the program
  // ends once they have.
  bool FClosing = false;
  // The window was closed while the media service opened a file: the open was called off,
  // and the window closes once it has given up.
  bool FCloseAfterOpen = false;
  // While recording, a look at the room left for the take every second; one warning a take.
  QTimer* FSpaceTimer = nullptr;
  bool FSpaceWarned = false;

  // The recording-source panel: a radio button and a level slider per source, by index.
  QList<QRadioButton*> FSourceRadios;
  QList<QSlider*> FSourceBars;

  // KAR songs: the lines of the lyric window, the line being sung (-2 before the first
  // paragraph) and how many of the lyrics' characters are coloured.
  std::unique_ptr<QStringList> LyricLines;
  int LyricLine = 0;
  int LyricChars = 0;
  // The meta type of the texts the song sings: karaoke texts, or lyric events in a song
  // without them.
  std::uint8_t FSungTextType = 1;
  // The karaoke screen's panel when the display window opens for a song.
  static constexpr QSize kKaraokeScreenSize{640, 360};
  void ShowKaraokeScreen();
  // Readies the song's sung texts, turns them into LyricLines and restarts the colouring.
  void BuildLyricLines();
  // Each event of the song as it comes due: channel messages to the device, texts to the
  // lyric colouring.
  void MidiFile1MidiEvent(PMidiEvent event);
  // The song's clock is halted at its place until the MIDI device is ready.
  bool FKaraokeWaiting = false;

  // Where the Homepage and Support commands lead.
  static const char* const kHomePage;
  static const char* const kSupportMail;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Watches the window's first expose on the screen.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildControls();
  QToolButton* AddButton(QWidget* parent, const char* name, const char* hint, const QIcon& icon,
                         QAction* command);
  void Enable(const char* name, bool enabled);
  void SetTransport(bool play, bool pause, bool stop);
  void SetScreenModes(bool fullScreen, bool normal);
  void Unload();
  void PlayKaraoke(const QString& fileName);
  // The media path of PlayFile: opens and starts the file on the media service.
  void PlayMedia(const QString& fileName);
  void StopKaraoke();
  // Halts the song's clock while the MIDI device gets ready (FrmMainKaraoke.cpp): what it
  // sent meanwhile would wait and then sound all at once.
  void HoldForDevice();
  void SendOpeningInstruments();
  void MidiDeviceReady();
  void EndOfPlay();
  void MediaPlayer1Notify(TMediaPlayer* Sender);
  void SizeDisplayToVideo();
  // Gives the display window's panel this size, the window placed above the main window.
  void SizeDisplayTo(QSize panel);
  void SetDisplayRectToPanel();
  void CreateRecordingComponents();
  // The file dialogs take long to build; each is made once (FrmMain.cpp, FrmMainRecording.cpp).
  void CreateOpenDialog();
  void CreateSaveDialog();
  // Stop recording's second half: asks where the take goes and saves it, or discards it
  // once the singer said so; false when the program ends meanwhile.
  bool SaveStoppedTake();
  // A take whose save dialog was cancelled: discarded only when the singer confirms, else
  // kept in the takes window.
  void DiscardOrKeep(std::unique_ptr<TTakeFile> take);
  void OfferTake(std::unique_ptr<TTakeFile> take);
  // The recorder stopped without Stop recording (a full disk, a lost input).
  void RecorderStopped();
  void TakeStoppedByItself();
  void RecorderInputChange(const WaveInInputChange& change);
  void CheckTakeSpace();
  // The close waits for the conversions, in the waiting window; nothing else can start.
  void WaitForConversionsToClose();
  // Runs the save dialog until it gives a name ending in .wav or .mp3 other than the take's
  // own; false when cancelled.
  bool AskSaveName(const QString& takePath, QString& target);
  // Copies the take to a WAV name, or queues its conversion to an MP3 name. Takes the take
  // when it is saved or queued; raises and leaves it in place when that failed.
  void SaveTakeAs(std::unique_ptr<TTakeFile>& take, const QString& target);
  // Saves a take the takes window offers; answers it back when it was not saved.
  std::unique_ptr<TTakeFile> SaveLeftTake(std::unique_ptr<TTakeFile> take);
  void QueueConversion(std::unique_ptr<TTakeFile>& take, const QString& target);
  void StartConversion();
  void StartWaitingConversions();
  // Ends the running conversion: its take goes when it succeeded, else it is kept.
  void EndConversion(const QString& failure);
  void ConversionFailed(TConversion job, const QString& reason);
  void ConversionsMoveOn();
  void ShowConversionFailures();
  void MMTrigger1Start();
  void MMTrigger1Stop();
  void MMTrigger1Close();
  void WaitingTimerTick();
  bool LaterDiscTrack() const;
  QString DiscTrackPath(int index) const;

  void FormCreate();
  // The first show: the language file's texts, then the skin config.ini keeps.
  void FormShow();
  // The window's first picture is on the screen.
  void WindowOnScreen();
  void FormClose();

  void N11Click();
  void N12Click();
  void N14Click();
  void N15Click();
  void N17Click();
  void N21Click();
  void N22Click();
  void N23Click();
  void N31Click();
  void N32Click();
  void N41Click();
  void N42Click();
  void N43Click();
  void N51Click();
  void N52Click();
  void Timer1Timer();
  // The Options menu: the settings dialogs and the desktop's sound settings
  // (FrmMainOptions.cpp).
  void N61Click();
  void N62Click();
  void N63Click();
  void N64Click();
  // The Help menu.
  void N81Click();
  void N82Click();
  void N83Click();
  // The online update (FrmMainUpdate.cpp).
  void N101Click();
  // The skins (FrmMainSkin.cpp): the Skin menu's eight commands, the theme manager of each
  // window the main window knows, and the skin config.ini keeps.
  void BuildSkinCommands();
  void AttachThemeManagers(const QList<QWidget*>& windows);
  QList<TsuiThemeManager*> ThemeManagers() const;
  void ApplySkin(int number);
  void SkinClick(int number);
  void ApplySavedSkin();
  void suiPanel1Push();
  void suiPanel1Pop();
  // The master volume and the recording sources (FrmMainMixer.cpp).
  void ReadMasterVolume();
  void BuildSourcePanel();
  void suiTrackBar2Change();
  void SourceTrackBarChange(QSlider* bar);
  void SourceRadioClick(QRadioButton* radio);

  int menuHeight_ = 0;
  QList<QWidget*> skinnedWindows_;  // this window and those linked to it
  bool shown_ = false;
  bool onScreen_ = false;
  std::deque<TConversion> FFailedConversions;  // to be told, from the message loop
};

}  // namespace sonarelle
