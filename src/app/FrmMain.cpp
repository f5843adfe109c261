#include "app/FrmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "app/CollapsiblePanel.h"
#include "app/FileDialogFilter.h"
#include "app/FrmConfig.h"
#include "app/FrmDisplay.h"
#include "app/FrmMP3info.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "audio/pump/MMTrigger.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "audio/wavefile/MMWaveFile.h"
#include "displays/MMConnector.h"
#include "displays/MMLEDLabel.h"
#include "displays/MMOscope.h"
#include "encode/MMMP3Encoder.h"
#include "encode/MP3Info.h"
#include "media/MediaPlayer.h"
#include "midi/FrmMidiPlayer.h"
#include "mixer/AudioMixer.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "platform/Shell.h"
#include "settings/ConfigFile.h"
#include "skins/SuiFileTheme.h"
#include "update/FrmUpdate.h"

namespace sonarelle {

const char* const TFrmMain::kHomePage = "https://sonarelle.org/";
const char* const TFrmMain::kSupportMail = "mailto:support@sonarelle.org?subject=Sonarelle";

namespace {

constexpr TText kNoHelpFile{"MsgNoHelpFile", "Unable to open the help file %1"};

struct MenuEntry {
  const char* name;
  const char* caption;  // "-" makes a separator
  int key = 0;          // function key shortcut, 0 for none
};

struct MenuDef {
  const char* name;
  const char* caption;
  std::initializer_list<MenuEntry> items;
};

// The menu bar from left to right, with the default captions the language file overrides.
const std::initializer_list<MenuDef>& MenuBarDef() {
  static const std::initializer_list<MenuDef> menus = {
      {"N1",
       "&File",
       {{"N11", "&Open a file"},
        {"N12", "&Play Karaoke Disk"},
        {"N13", "-"},
        {"N14", "Open CD-ROM Door"},
        {"N15", "Close CD-ROM Door"},
        {"N16", "-"},
        {"N17", "&Exit"}}},
      {"N2",
       "&Playing Control",
       {{"N21", "&Play", Qt::Key_F2}, {"N22", "P&ause", Qt::Key_F3}, {"N23", "&Stop", Qt::Key_F4}}},
      {"N3", "&Recording Control", {{"N31", "&Record", Qt::Key_F5}, {"N32", "&Stop", Qt::Key_F6}}},
      {"N4", "&Audio", {{"N41", "Stereo"}, {"N42", "Left  Channel"}, {"N43", "Right Channel"}}},
      {"N5", "&Video", {{"N51", "Full Screen"}, {"N52", "Normal"}}},
      {"N6",
       "&Options",
       {{"N61", "&setup"},
        {"N62", "MP3 Infomation Setting"},
        {"N63", "Multimedia Mixer"},
        {"N64", "System Volume"}}},
      {"N9",
       "&Skin",
       {{"N91", "MacOS"},
        {"N92", "WinXP"},
        {"N93", "Protein"},
        {"N94", "BlueGlass"},
        {"N95", "DeepBlue"},
        {"N96", "SilverXP"},
        {"N97", "GreenXP"},
        {"N98", "BlueStorm"}}},
      {"N10", "Update", {{"N101", "Online Update"}}},
      {"N8", "&Help", {{"N81", "&Help    F1"}, {"N82", "H&omepage"}, {"N83", "&Support"}}},
      {"MenuVCD", "VCD", {}},
  };
  return menus;
}

enum class Glyph { Play, Pause, Stop, Record, StopRecord };

QIcon DrawIcon(Glyph glyph) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  switch (glyph) {
    case Glyph::Play: {
      QPainterPath path;
      path.moveTo(6, 4);
      path.lineTo(20, 12);
      path.lineTo(6, 20);
      path.closeSubpath();
      p.fillPath(path, QColor(0, 150, 0));
      break;
    }
    case Glyph::Pause:
      p.setBrush(QColor(40, 40, 40));
      p.drawRect(6, 5, 4, 14);
      p.drawRect(14, 5, 4, 14);
      break;
    case Glyph::Stop:
      p.setBrush(QColor(40, 40, 40));
      p.drawRect(6, 6, 12, 12);
      break;
    case Glyph::Record:
      p.setBrush(QColor(210, 0, 0));
      p.drawEllipse(QPointF(12, 12), 7, 7);
      break;
    case Glyph::StopRecord:
      p.setBrush(QColor(150, 0, 0));
      p.drawRect(6, 6, 12, 12);
      break;
  }
  return QIcon(pixmap);
}
}  // namespace

TFrmMain::TFrmMain(QWidget* parent) : TFrmMain(PulseMixerDriver(), parent) {}

TFrmMain::TFrmMain(MixerDriver& mixer, QWidget* parent)
    : QMainWindow(parent),
      MediaPlayer1(std::make_unique<TMediaPlayer>()),
      MidiFile1(std::make_unique<TMidiFile>()),
      AudioMixer1(std::make_unique<TAudioMixer>(mixer)),
      suiFileTheme1(std::make_unique<TsuiFileTheme>()) {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Sonarelle recorder[v1.0]"));
  BuildMenus();
  BuildControls();
  BuildSkinCommands();
  CreateRecordingComponents();
  MediaPlayer1->OnNotify = [this](TMediaPlayer* sender) { MediaPlayer1Notify(sender); };
  MidiFile1->SetOnMidiEvent([this](PMidiEvent event) { MidiFile1MidiEvent(event); });
  FormCreate();
}

TFrmMain::~TFrmMain() {
  EndSession();
  // The pump goes first: it must not outlive the callbacks, nor the components it drives.
  MMTrigger1->OnStart = nullptr;
  MMTrigger1->OnStop = nullptr;
  MMTrigger1->OnClose = nullptr;
  MMTrigger1->ClosePump();
  MMTrigger1.reset();
  // A conversion whose stop was still pending: its partial MP3 file is not the take.
  if (!FConversions.empty()) {
    MMMP3Encoder1->DiscardOutput(FConversions.front().partial);
    if (!FConversions.front().partial.isEmpty()) QFile::remove(FConversions.front().partial);
  }
}

void TFrmMain::LinkWindows(TFrmDisplay* display, TFrmMP3info* mp3Info, TFrmWaiting* waiting,
                           TFrmConfig* config, TFrmMidiPlayer* midiPlayer, TFrmUpdate* update,
                           TFrmTakes* takes) {
  FrmDisplay = display;
  FrmMP3info = mp3Info;
  FrmWaiting = waiting;
  FrmConfig = config;
  FrmMidiPlayer = midiPlayer;
  FrmUpdate = update;
  FrmTakes = takes;
  AttachThemeManagers(
      {FrmDisplay, FrmMP3info, FrmWaiting, FrmConfig, FrmMidiPlayer, FrmUpdate, FrmTakes});
  FrmMidiPlayer->OnDeviceReady = [this] { RunGuarded([this] { MidiDeviceReady(); }); };
  connect(FrmWaiting->Timer1, &QTimer::timeout, this,
          [this] { RunGuarded([this] { WaitingTimerTick(); }); });
  // Closing waits for the conversion; this ends it now and keeps the take for the next start.
  connect(FrmWaiting->BtnStop, &QPushButton::clicked, this, [this] {
    EndSession();
    close();
  });
  FrmTakes->OnSave = [this](std::unique_ptr<TTakeFile> take) {
    return SaveLeftTake(std::move(take));
  };
}

QAction* TFrmMain::Item(const QString& name) const {
  return findChild<QAction*>(name);
}

void TFrmMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("suiMainMenu1"));
  // Ten menus share a 508-pixel bar: a compact font and padding keep them all in view.
  bar->setStyleSheet(
      QStringLiteral("QMenuBar { font-size: 8pt; spacing: 0px; }"
                     "QMenuBar::item { padding: 2px 4px; }"));
  for (const MenuDef& def : MenuBarDef()) {
    QMenu* menu = bar->addMenu(QString::fromUtf8(def.caption));
    menu->setObjectName(QString::fromLatin1(def.name));
    menu->menuAction()->setObjectName(QString::fromLatin1(def.name));
    for (const MenuEntry& entry : def.items) {
      // A "-" caption is a separator and nothing else: a separator with text would show it.
      QAction* action = QLatin1String(entry.caption) == QLatin1String("-")
                            ? menu->addSeparator()
                            : menu->addAction(QString::fromUtf8(entry.caption));
      action->setObjectName(QString::fromLatin1(entry.name));
      if (entry.key != 0) action->setShortcut(QKeySequence(entry.key));
    }
  }
  Item(QStringLiteral("MenuVCD"))->setVisible(false);

  // The caption of Help already names its key, so F1 is bound beside the menu.
  auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(helpKey, &QShortcut::activated, this, [this] {
    if (Item(QStringLiteral("N81"))->isEnabled()) Item(QStringLiteral("N81"))->trigger();
  });

  suiPopupMenu1 = new QMenu(this);
  suiPopupMenu1->setObjectName(QStringLiteral("suiPopupMenu1"));
  suiPopupMenu1->addAction(QStringLiteral("Full Screen"))
      ->setObjectName(QStringLiteral("MenuScreen"));
  suiPopupMenu1->addAction(QStringLiteral("Normal"))->setObjectName(QStringLiteral("MenuWindows"));

  auto command = [this](const char* name, void (TFrmMain::*handler)()) {
    connect(Item(QString::fromLatin1(name)), &QAction::triggered, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
  };
  command("N11", &TFrmMain::N11Click);
  command("N12", &TFrmMain::N12Click);
  command("N14", &TFrmMain::N14Click);
  command("N15", &TFrmMain::N15Click);
  command("N17", &TFrmMain::N17Click);
  command("N21", &TFrmMain::N21Click);
  command("N22", &TFrmMain::N22Click);
  command("N23", &TFrmMain::N23Click);
  command("N31", &TFrmMain::N31Click);
  command("N32", &TFrmMain::N32Click);
  command("N41", &TFrmMain::N41Click);
  command("N42", &TFrmMain::N42Click);
  command("N43", &TFrmMain::N43Click);
  command("N51", &TFrmMain::N51Click);
  command("MenuScreen", &TFrmMain::N51Click);
  command("N52", &TFrmMain::N52Click);
  command("MenuWindows", &TFrmMain::N52Click);
  command("N61", &TFrmMain::N61Click);
  command("N62", &TFrmMain::N62Click);
  command("N63", &TFrmMain::N63Click);
  command("N64", &TFrmMain::N64Click);
  command("N81", &TFrmMain::N81Click);
  command("N82", &TFrmMain::N82Click);
  command("N83", &TFrmMain::N83Click);
  command("N101", &TFrmMain::N101Click);

  // The screen modes start disabled in the main menu; the pop-up's Full Screen is only
  // reachable once a video shows, so it starts enabled.
  Enable("N51", false);
}

QToolButton* TFrmMain::AddButton(QWidget* parent, const char* name, const char* hint,
                                 const QIcon& icon, QAction* command) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(QString::fromLatin1(hint));
  button->setIcon(icon);
  button->setIconSize(QSize(24, 24));
  button->setAutoRaise(true);
  button->setEnabled(command->isEnabled());
  // A button runs exactly its menu command and is enabled exactly when the command is.
  connect(button, &QToolButton::clicked, command, &QAction::trigger);
  connect(command, &QAction::changed, button,
          [button, command] { button->setEnabled(command->isEnabled()); });
  return button;
}

void TFrmMain::BuildControls() {
  auto* frame = new QWidget(this);
  frame->setObjectName(QStringLiteral("suiForm1"));
  setCentralWidget(frame);

  menuHeight_ = menuBar()->sizeHint().height();
  const int frameHeight = kClientHeight - menuHeight_;

  auto* timeGroup = new QGroupBox(frame);
  timeGroup->setObjectName(QStringLiteral("suiGroupBox1"));
  timeGroup->setGeometry(8, 2, 420, 80);

  suiTrackBar1 = new QSlider(Qt::Horizontal, timeGroup);
  suiTrackBar1->setObjectName(QStringLiteral("suiTrackBar1"));
  suiTrackBar1->setRange(0, 100);
  suiTrackBar1->setGeometry(8, 10, 404, 22);

  MMLEDLABEL1 = new TMMLEDLABEL(timeGroup);
  MMLEDLABEL1->setObjectName(QStringLiteral("MMLEDLABEL1"));
  MMLEDLABEL1->BeginLoading();
  MMLEDLABEL1->SetAutoSize(false);
  MMLEDLABEL1->SetNumChars(19);
  MMLEDLABEL1->SetBounds(8, 42, 310, 26);
  MMLEDLABEL1->Loaded();

  MMOscope1 = new TMMOscope(timeGroup);
  MMOscope1->setObjectName(QStringLiteral("MMOscope1"));
  MMOscope1->SetBounds(326, 42, 89, 25);
  MMOscope1->SetKind(TMMOscopeKind::okMirLines);
  MMOscope1->SetForegroundColor(clLime);
  MMOscope1->SetBitLength(TMMBits::b16Bit);
  MMOscope1->SetSampleRate(44100);
  MMOscope1->SetMode(TMMMode::mStereo);
  MMOscope1->SetShowInfo(false);

  auto* buttonGroup = new QGroupBox(frame);
  buttonGroup->setObjectName(QStringLiteral("suiGroupBox2"));
  buttonGroup->setGeometry(8, 84, 420, 52);
  const int y = 12;
  BtnPlay = AddButton(buttonGroup, "BtnPlay", "play", DrawIcon(Glyph::Play), Item("N21"));
  BtnPlay->setGeometry(10, y, 34, 34);
  BtnPause = AddButton(buttonGroup, "BtnPause", "pause", DrawIcon(Glyph::Pause), Item("N22"));
  BtnPause->setGeometry(48, y, 34, 34);
  BtnStop = AddButton(buttonGroup, "BtnStop", "stop", DrawIcon(Glyph::Stop), Item("N23"));
  BtnStop->setGeometry(86, y, 34, 34);
  BtnRecord = AddButton(buttonGroup, "BtnRecord", "record", DrawIcon(Glyph::Record), Item("N31"));
  BtnRecord->setGeometry(158, y, 34, 34);
  BtnStopRecord =
      AddButton(buttonGroup, "BtnStopRecord", "stop", DrawIcon(Glyph::StopRecord), Item("N32"));
  BtnStopRecord->setGeometry(196, y, 34, 34);

  auto* volumeGroup = new QGroupBox(frame);
  volumeGroup->setObjectName(QStringLiteral("suiGroupBox3"));
  volumeGroup->setGeometry(434, 2, 66, 134);
  suiTrackBar2 = new QSlider(Qt::Vertical, volumeGroup);
  suiTrackBar2->setObjectName(QStringLiteral("suiTrackBar2"));
  suiTrackBar2->setRange(0, 65535);
  suiTrackBar2->setInvertedAppearance(true);  // position 0, the loudest, at the top
  suiTrackBar2->setValue(5);
  suiTrackBar2->setGeometry(27, 12, 19, 89);
  Label1 = new QLabel(QStringLiteral("volume"), volumeGroup);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setGeometry(2, 106, 62, 20);

  suiPanel1 = new TCollapsiblePanel(frame);
  suiPanel1->setObjectName(QStringLiteral("suiPanel1"));
  suiPanel1->SetCaption(QStringLiteral("Recording Source"));
  suiPanel1->setGeometry(0, frameHeight - 136, kClientWidth, 136);
  suiPanel1->OnPush = [this](QObject*) { suiPanel1Push(); };
  suiPanel1->OnPop = [this](QObject*) { suiPanel1Pop(); };
  suiGroupBox4 = new QGroupBox(suiPanel1->Body());
  suiGroupBox4->setObjectName(QStringLiteral("suiGroupBox4"));
  suiGroupBox4->setGeometry(8, 0, 489, 114);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer1Timer(); }); });

  setFixedSize(kClientWidth, kClientHeight);
}

void TFrmMain::CreateOpenDialog() {
  if (OpenDialog1 != nullptr) return;
  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
  OpenDialog1->setNameFilters(NameFiltersFromPairs(QString::fromLatin1(kOpenFilter)));
  OpenDialog1->setSizeGripEnabled(true);
}

void TFrmMain::Enable(const char* name, bool enabled) {
  Item(QString::fromLatin1(name))->setEnabled(enabled);
}

void TFrmMain::FormCreate() {
  FLanguageFile = ProgramFolder() + QStringLiteral("language/en.ini");
  suiPanel1->Push();
  ReadMasterVolume();
  BuildSourcePanel();
  for (const char* name : {"N21", "N22", "N23", "N32", "N52", "MenuWindows"}) Enable(name, false);
  suiTrackBar1->setValue(0);
  suiTrackBar1->setEnabled(false);
  MMLEDLABEL1->SetCaption(QStringLiteral("00:00:00   00:00:00"));
  FConfigFile = ConfigFilePath();
  LyricLines = std::make_unique<QStringList>();
  LyricLine = -2;
  LyricChars = 0;
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (MediaPlayer1->Opening()) {
    // The open gives up at once, and the window closes after it.
    FCloseAfterOpen = true;
    MediaPlayer1->Close();
    event->ignore();
    return;
  }
  if (!FClosing) {
    FClosing = true;
    RunGuarded([this] { FormClose(); });
  }
  // The conversions started now or before finish first, so no take is cut short; the
  // message loop goes on meanwhile, and the last one to end closes the window again.
  if (!FConversions.empty() && !FSessionEnding) {
    event->ignore();
    WaitForConversionsToClose();
    return;
  }
  event->accept();
  // Closing the main window ends the program, whatever other windows still show.
  QCoreApplication::exit(0);
}

void TFrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
  // Showing only asks the window system to map the window; it is on screen at its expose.
  if (windowHandle() != nullptr) windowHandle()->installEventFilter(this);
  QTimer::singleShot(0, this, [this] { RunGuarded([this] { OfferLeftTakes(); }); });
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (!onScreen_ && watched == windowHandle() && event->type() == QEvent::Expose &&
      windowHandle()->isExposed()) {
    onScreen_ = true;
    windowHandle()->removeEventFilter(this);
    // The expose is painted once it is handled; the moment comes after.
    QTimer::singleShot(0, this, [this] { WindowOnScreen(); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TFrmMain::WindowOnScreen() {
  // The painted picture reaches the window system before anything else is done.
  QGuiApplication::sync();
  if (OnScreen) OnScreen();
  QTimer::singleShot(0, this, [this] {
    CreateOpenDialog();
    CreateSaveDialog();
    if (FrmMidiPlayer != nullptr) FrmMidiPlayer->OpenDevices();
  });
}

void TFrmMain::FormClose() {
  // The song stops; its lines stay until the window goes, for nothing may reach them freed.
  if (FMediaKind == TMediaKind::mkKaraoke) StopKaraoke();
  FSourceRadios.clear();
  FSourceBars.clear();
  qDeleteAll(FDiscItems);
  FDiscItems.clear();
  if (FRecording) N32Click();
}

void TFrmMain::N17Click() {
  // Ends at once: FormClose does not run, so a take being recorded is not offered for saving.
  QCoreApplication::exit(0);
}

void TFrmMain::N81Click() {
  const QString chm = ProgramFolder() + QStringLiteral("karaoke.chm");
  if (QFile::exists(chm) && Shell::HasDefaultApplication(chm) && Shell::Open(chm)) return;
  const QString html = ProgramFolder() + QStringLiteral("help/karaoke.html");
  if (!Shell::Open(html)) ShowMessage(FTexts(kNoHelpFile).arg(html));
}

void TFrmMain::N82Click() {
  Shell::Open(QString::fromLatin1(kHomePage));
}

void TFrmMain::N83Click() {
  Shell::Open(QString::fromLatin1(kSupportMail));
}

void TFrmMain::suiPanel1Push() {
  const int height = this->height() - suiPanel1->FullHeight() + TCollapsiblePanel::kCaptionHeight;
  setFixedSize(width(), height);
  suiPanel1->move(suiPanel1->x(), height - menuHeight_ - TCollapsiblePanel::kCaptionHeight);
}

void TFrmMain::suiPanel1Pop() {
  const int height = this->height() + suiPanel1->FullHeight() - TCollapsiblePanel::kCaptionHeight;
  setFixedSize(width(), height);
  suiPanel1->move(suiPanel1->x(), height - menuHeight_ - suiPanel1->FullHeight());
}

}  // namespace sonarelle
