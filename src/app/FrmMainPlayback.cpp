// The main window's accompaniment commands: opening and playing files, the one-second tick,
// the video display window's sizing and screen modes, and the karaoke video CD.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QTimer>

#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/TimeDisplay.h"
#include "displays/MMLEDLabel.h"
#include "media/MediaPlayer.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiFile.h"
#include "platform/Exception.h"
#include "platform/MciCommand.h"
#include "platform/MediaDevice.h"
#include "platform/MessageBoxes.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace {

constexpr TText kUnsupportedFile{"MsgUnsupportedFile", "Do not support this file format!"};
constexpr TText kNoVcd{"MsgNoVcd", "Do not find VCD disk"};
constexpr TText kUnsupportedAudio{"MsgUnsupportedAudio", "Do not support the audio format"};

// Whether the program's own reader reads the file. The reader's error is raised for a
// Standard MIDI File it refuses; a file of another kind is left to the media service.
bool ReadsAsMidi(const QString& fileName) {
  TMidiFile reader;
  reader.SetFilename(fileName);
  try {
    reader.LoadFile();
    return true;
  } catch (const EInOutError&) {
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly) && file.read(4) == "MThd") throw;
    return false;
  }
}

}  // namespace

const char* const TFrmMain::kOpenFilter =
    "All Support File|*.mpg;*.dat;*.avi;*.mp3;*.wav;*.mid;*.kar|MP3(*.mp3)|*.mp3|"
    "Wav(*.wav)|*.wav|MIDI(*.mid)|*.mid|Karaoke(*.kar)|*.kar|"
    "mov(*.mpg;*.dat;*.avi)|*.mpg;*.dat;*.avi|All File(*.*)|*.*";

void TFrmMain::SetTransport(bool play, bool pause, bool stop) {
  Enable("N21", play);
  Enable("N22", pause);
  Enable("N23", stop);
}

void TFrmMain::SetScreenModes(bool fullScreen, bool normal) {
  Enable("N51", fullScreen);
  Enable("MenuScreen", fullScreen);
  Enable("N52", normal);
  Enable("MenuWindows", normal);
}

bool TFrmMain::LaterDiscTrack() const {
  return FDiscMode && FDiscTrack > 0;
}

QString TFrmMain::DiscTrackPath(int index) const {
  return QDir(FDiscFolder).filePath(FileListBox1.at(index));
}

// Nothing is loaded any more: no tick and no transport command may reach a closed device.
void TFrmMain::Unload() {
  if (FMediaKind == TMediaKind::mkKaraoke) StopKaraoke();
  Timer1->stop();
  MediaPlayer1->Close();
  SetTransport(false, false, false);
  suiTrackBar1->setValue(0);
  suiTrackBar1->setEnabled(false);
  FPlayState = TPlayState::psIdle;
}

void TFrmMain::PlayFile(const QString& fileName) {
  Unload();

  const QString ext = fileName.right(3).toLower();
  const bool video =
      ext == QLatin1String("dat") || ext == QLatin1String("avi") || ext == QLatin1String("mpg");
  const bool audio =
      ext == QLatin1String("wav") || ext == QLatin1String("mp3") || ext == QLatin1String("mid");
  if (ext == QLatin1String("kar")) {
    PlayKaraoke(fileName);
    return;
  }
  FrmDisplay->HideKaraoke();
  if (!video && !audio) {
    SetScreenModes(false, false);
    MMLEDLABEL1->SetCaption(QString::fromLatin1(kTimeDisplayAtStart));
    FrmDisplay->hide();
    ShowMessage(FTexts(kUnsupportedFile));
    return;
  }
  if (video) {
    if (!LaterDiscTrack()) SetScreenModes(true, false);
    if (FrmDisplay->isHidden()) FrmDisplay->show();
    FMediaKind = TMediaKind::mkVideo;
  } else {
    SetScreenModes(false, false);
    FrmDisplay->hide();
    FMediaKind = TMediaKind::mkAudio;
  }

  const auto giveUp = [this] {
    MediaPlayer1->Close();
    MMLEDLABEL1->SetCaption(QString::fromLatin1(kTimeDisplayAtStart));
    FrmDisplay->hide();
  };
  bool readable = false;
  try {
    // The service's parser loops for ever on some damaged MIDI files: a song the program's
    // own reader refuses is not given to it, and one the service refuses the reader plays.
    readable = ext == QLatin1String("mid") && ReadsAsMidi(fileName);
    PlayMedia(fileName);
  } catch (const EMCIOpenCalledOff&) {
    // The window closed meanwhile, or the program is ending: nothing to tell.
    giveUp();
    if (std::exchange(FCloseAfterOpen, false)) QTimer::singleShot(0, this, [this] { close(); });
    return;
  } catch (const EMCIDeviceError&) {
    giveUp();
    if (!readable) throw;
    PlayKaraoke(fileName);
    return;
  } catch (...) {
    giveUp();
    throw;
  }

  FCurrentFile = fileName;
  Timer1->start();
  SetTransport(false, true, true);
  suiTrackBar1->setRange(0, MediaPlayer1->Length() / 1000);
  suiTrackBar1->setValue(0);
  FPlayState = TPlayState::psPlaying;
}

void TFrmMain::PlayMedia(const QString& fileName) {
  MediaPlayer1->SetFileName(fileName);
  {
    // The window answers while the service reads the file; the singer's input waits.
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    MediaPlayer1->Open();
  }
  MediaPlayer1->Play();
  MediaPlayer1->SetTimeFormat(tfMilliseconds);
  MediaPlayer1->SetDisplay(FrmDisplay->Panel1);
  if (LaterDiscTrack()) {
    SetDisplayRectToPanel();
  } else {
    SizeDisplayToVideo();
  }
}

void TFrmMain::SizeDisplayToVideo() {
  const QRect video = MediaPlayer1->DisplayRect();
  if (!video.isEmpty()) SizeDisplayTo(video.size());
  ShowTaskbar(true);
}

void TFrmMain::SizeDisplayTo(QSize panel) {
  const int title = FrmDisplay->TitleBarHeight();
  FrmDisplay->resize(panel.width(), panel.height() + title);
  FrmDisplay->Panel1->setGeometry(0, title, panel.width(), panel.height());
  // Directly above the main window, centred on it, but never above the screen's top nor
  // past its sides: a karaoke screen wider than the main window would lose its words' ends.
  const QRect main = frameGeometry();
  const QSize borders = FrmDisplay->frameGeometry().size() - FrmDisplay->size();
  const int width = panel.width() + borders.width();
  const int height = panel.height() + title + borders.height();
  const int top = std::max(0, main.top() - height);
  const QRect area = screen()->availableGeometry();
  const int left = std::clamp(main.left() + (main.width() - width) / 2, area.left(),
                              std::max(area.left(), area.right() + 1 - width));
  FrmDisplay->move(left, top);
}

void TFrmMain::SetDisplayRectToPanel() {
  // A closed device (after a natural end) ignores this.
  MediaPlayer1->SetDisplayRect(QRect(QPoint(0, 0), FrmDisplay->Panel1->size()));
}

void TFrmMain::ShowTaskbar(bool show) {
  const Qt::WindowStates state = FrmDisplay->windowState();
  FrmDisplay->setWindowState(show ? state & ~Qt::WindowFullScreen : state | Qt::WindowFullScreen);
}

void TFrmMain::N11Click() {
  FDiscMode = false;
  Item(QStringLiteral("MenuVCD"))->setVisible(false);
  CreateOpenDialog();
  // In the last song's folder, the name field's text all selected: a name typed there is the
  // whole name, not one added to the last. Emptying the field instead leaves the dialog's
  // Open button disabled whatever is typed next, once it has opened a file.
  const QString folder =
      SettingsStore::ReadText(FConfigFile, ConfigKeys::kOpenSection, ConfigKeys::kSongFolder);
  OpenDialog1->setDirectory(!folder.isEmpty() && QFileInfo(folder).isDir() ? folder
                                                                           : QDir::homePath());
  // Queued: done once the dialog is on the screen.
  if (auto* name = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    QMetaObject::invokeMethod(name, &QLineEdit::selectAll, Qt::QueuedConnection);
  }
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  const QString file = OpenDialog1->selectedFiles().constFirst();
  SettingsStore::WriteText(FConfigFile, ConfigKeys::kOpenSection, ConfigKeys::kSongFolder,
                           QFileInfo(file).absolutePath());
  PlayFile(file);
}

void TFrmMain::N21Click() {
  // After a natural end the device is closed: Play opens the same accompaniment again.
  if (FPlayState == TPlayState::psEnded) {
    PlayFile(FCurrentFile);
    return;
  }
  if (FMediaKind == TMediaKind::mkKaraoke) {
    MidiFile1->ResumePlayback();
    HoldForDevice();
    FrmDisplay->KaraokeScreen->Run(true);
  } else {
    MediaPlayer1->Play();
  }
  SetTransport(false, true, true);
  FPlayState = TPlayState::psPlaying;
}

void TFrmMain::N22Click() {
  if (FMediaKind == TMediaKind::mkKaraoke) {
    MidiFile1->StopPlayback();
    FrmDisplay->KaraokeScreen->Run(false);
  } else {
    MediaPlayer1->Pause();
  }
  SetTransport(true, false, true);
  FPlayState = TPlayState::psPaused;
}

void TFrmMain::N23Click() {
  // A KAR song keeps its place: Play goes on from there.
  if (FMediaKind == TMediaKind::mkKaraoke) {
    StopKaraoke();
  } else {
    MediaPlayer1->Stop();
    MediaPlayer1->Rewind();
  }
  SetTransport(true, false, false);
  FPlayState = TPlayState::psStopped;
}

void TFrmMain::N41Click() {
  MciSendString(QStringLiteral("set all audio all on"));
}

void TFrmMain::N42Click() {
  MciSendString(QStringLiteral("set all  audio all off"));
  MciSendString(QStringLiteral("set all audio left on"));
}

void TFrmMain::N43Click() {
  MciSendString(QStringLiteral("set all  audio all off"));
  MciSendString(QStringLiteral("set all  audio right on"));
}

void TFrmMain::N14Click() {
  MciSendString(QStringLiteral("set cdaudio door open"));
}

void TFrmMain::N15Click() {
  MciSendString(QStringLiteral("set cdaudio door closed"));
}

void TFrmMain::Timer1Timer() {
  const bool karaoke = FMediaKind == TMediaKind::mkKaraoke;
  const int position = karaoke ? MidiFile1->PositionMs() : MediaPlayer1->Position();
  const int length = karaoke ? MidiFile1->LengthMs() : MediaPlayer1->Length();
  if (position < length) {
    suiTrackBar1->setEnabled(true);
    suiTrackBar1->setMaximum(length);
    suiTrackBar1->setValue(position);
    MMLEDLABEL1->SetCaption(TimeDisplayText(length, position));
    return;
  }
  if (karaoke) {
    // The song's clock would run on past its end.
    MidiFile1->StopPlayback();
    EndOfPlay();
    return;
  }
  MediaPlayer1->Close();
  if (FDiscMode && FDiscTrack + 1 < FileListBox1.size()) {
    ++FDiscTrack;
    PlayFile(DiscTrackPath(FDiscTrack));
    return;
  }
  EndOfPlay();
}

// The end of the media is left to the tick; a failure while playing is reported at once,
// with the service's text, through the error box. The device has stopped where it failed,
// and Play starts the accompaniment again.
void TFrmMain::MediaPlayer1Notify(TMediaPlayer* Sender) {
  const QString failure = Sender->Error();
  if (failure.isEmpty()) return;
  SetTransport(true, false, false);
  FPlayState = TPlayState::psStopped;
  throw EMCIDeviceError(failure);
}

void TFrmMain::EndOfPlay() {
  Timer1->stop();
  suiTrackBar1->setEnabled(false);
  suiTrackBar1->setValue(0);
  MMLEDLABEL1->SetCaption(QString::fromLatin1(kTimeDisplayAtEnd));
  SetTransport(true, false, false);  // Play opens the same accompaniment again
  FPlayState = TPlayState::psEnded;
  FrmDisplay->KaraokeScreen->Run(false);
  if (FrmDisplay->isVisible()) FrmDisplay->hide();
}

void TFrmMain::N51Click() {
  SetScreenModes(false, true);
  const QRect frame = FrmDisplay->frameGeometry();
  FNormalBounds = {frame.top(), frame.left(), FrmDisplay->width(), FrmDisplay->height()};
  // The full-screen state covers the desktop's panels; the panel fills the whole screen.
  const QRect screen = FrmDisplay->screen()->geometry();
  FrmDisplay->setGeometry(screen);
  FrmDisplay->Panel1->setGeometry(0, 0, screen.width(), screen.height());
  SetDisplayRectToPanel();
  ShowTaskbar(false);
  FrmDisplay->activateWindow();
  FrmDisplay->setFocus();
}

void TFrmMain::N52Click() {
  SetScreenModes(true, false);
  ShowTaskbar(true);
  FrmDisplay->resize(FNormalBounds.Width, FNormalBounds.Height);
  FrmDisplay->Panel1->setGeometry(0, FrmDisplay->TitleBarHeight(), FNormalBounds.Width,
                                  FNormalBounds.Height - FrmDisplay->TitleBarHeight());
  FrmDisplay->move(FNormalBounds.Left, FNormalBounds.Top);
  SetDisplayRectToPanel();
}

void TFrmMain::N12Click() {
  FDiscMode = true;
  FDiscTrack = 0;
  if (!FindCdDrive()) {
    ShowMessage(FTexts(kNoVcd));
    return;
  }
  if (!FindPathIgnoringCase(FCdDrive, QStringLiteral("vcd/info.vcd")).isEmpty()) ListDiscTracks();
}

bool TFrmMain::FindCdDrive() {
  const QList<OpticalDrive> drives = OpticalDriveProvider();
  if (drives.isEmpty()) return false;
  // Only the first drive is ever looked at; without a disc it has no mount point.
  FCdDrive = drives.constFirst().mountPoint;
  return true;
}

void TFrmMain::ListDiscTracks() {
  FileListBox1.clear();
  try {
    FDiscFolder = FindPathIgnoringCase(FCdDrive, QStringLiteral("mpegav"));
    if (!FDiscFolder.isEmpty()) {
      FileListBox1 =
          QDir(FDiscFolder)
              .entryList({QStringLiteral("*.*")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    }
    if (FileListBox1.isEmpty()) throw Exception(std::string("no disc tracks"));
    PlayFile(DiscTrackPath(FDiscTrack));
  } catch (const std::exception&) {
    ShowMessage(FTexts(kUnsupportedAudio));
  }

  QMenu* menu = findChild<QMenu*>(QStringLiteral("MenuVCD"));
  qDeleteAll(FDiscItems);
  FDiscItems.clear();
  for (int i = 0; i < FileListBox1.size(); ++i) {
    QAction* item = menu->addAction(QStringLiteral("song%1(&%1)").arg(i));
    item->setObjectName(QStringLiteral("song%1").arg(i));
    item->setData(DiscTrackPath(i));
    connect(item, &QAction::triggered, this,
            [this, item] { RunGuarded([this, item] { DiscTrackClick(item); }); });
    FDiscItems.append(item);
  }
  menu->menuAction()->setVisible(true);
}

void TFrmMain::DiscTrackClick(QAction* item) {
  if (Timer1->isActive()) {
    MediaPlayer1->Stop();
    MediaPlayer1->Close();
    Timer1->stop();
  }
  PlayFile(item->data().toString());
}

}  // namespace sonarelle
