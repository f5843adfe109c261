// The main window's recording commands: a take into a temporary WAV file, then saved as
// WAV or converted to a tagged MP3 file while the waiting window shows the progress.
// Whatever fails, the take stays on disk until the singer saves or discards it.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTimer>

#include "app/FileDialogFilter.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "audio/chain/DiskSpace.h"
#include "audio/pump/MMTrigger.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "audio/wavefile/MMWaveFile.h"
#include "displays/MMConnector.h"
#include "displays/MMOscope.h"
#include "encode/ConversionFailure.h"
#include "encode/MMMP3Encoder.h"
#include "encode/MP3Info.h"
#include "encode/WavToMp3.h"
#include "platform/Exception.h"
#include "platform/FileReplace.h"
#include "platform/MessageBoxes.h"
#include "platform/TakeFolder.h"
#include "platform/TakeMixChoice.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace Keys = ConfigKeys;

const char* const TFrmMain::kSaveFilter = "wav|*.wav|MP3|*.mp3";

namespace {

// The recording commands' texts: their keys in the language file's [FrmMain] section and
// the built-in English.
constexpr TText kWavOrMp3{
    "MsgWavOrMp3",
    "A take is saved as a WAV file (.wav) or as an MP3 file (.mp3). Please give the name one "
    "of these endings."};
constexpr TText kNotOntoTheTake{
    "MsgNotOntoTheTake",
    "This is the take's own temporary file. Please choose another name for the take."};
constexpr TText kDiscardQuestion{"MsgDiscardTake", "Discard this take?"};
constexpr TText kDiscard{"BtnDiscardTake", "&Discard"};
constexpr TText kKeep{"BtnKeepTake", "&Keep"};
constexpr TText kWavSaveFailed{
    "MsgWavSaveFailed",
    "Unable to save the take as %1: %2.\nIt is kept in %3, in the Takes not saved window; Record "
    "starts a new take."};
constexpr TText kDiskFull{
    "MsgDiskFull",
    "The take cannot be written any more: the disk holding %1 is full. Recording has stopped.\n"
    "What was recorded until then (%2) is kept in %3. Choose where to save it."};
constexpr TText kLowSpace{
    "MsgLowSpace",
    "The disk holding the take (%1) has room for less than a minute more of recording. Stop "
    "soon, or free some space."};
constexpr TText kInputLost{
    "MsgInputLost",
    "The recording input \"%1\" went away %2 into the take. The take goes on, recorded from "
    "\"%3\" from then on."};
constexpr TText kTagFailed{
    "MsgTagFailed",
    "The take was saved as %1, but its MP3 tag could not be written: %2.\nThe recording is also "
    "kept in %3, in the Takes not saved window."};
constexpr TText kRecordingFrom{"HintRecordingFrom", "Recording from %1"};
constexpr TText kUnableToWrite{"MsgUnableToWrite", "Unable to write to %1"};
constexpr TText kConversionUnfinished{"MsgConversionUnfinished",
                                      "The conversion could not be finished"};
constexpr TText kSaveFailed{"MsgSaveFailed",
                            "The take could not be saved as %1: %2.\nIt is kept in %3."};
// A minute of recording at the take's rate: less room than that is worth a warning.
constexpr int kLowSpaceSeconds = 60;

// "m:ss.t" for a moment of a take.
QString TakeMoment(std::int64_t frame, int rate) {
  const std::int64_t tenths = rate > 0 ? frame * 10 / rate : 0;
  return QStringLiteral("%1:%2.%3")
      .arg(tenths / 600)
      .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
      .arg(tenths % 10);
}

// A new file beside `target` for the MP3 being made, named so that nobody takes it for the
// finished one; empty when none can be made.
QString PartialFileBeside(const QString& target) {
  const QFileInfo info(target);
  QTemporaryFile partial(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                         QStringLiteral(".XXXXXX.part"));
  partial.setAutoRemove(false);
  if (!partial.open()) return {};
  return partial.fileName();
}

bool SameFile(const QString& a, const QString& b) {
  const QString canonical = QFileInfo(a).canonicalFilePath();
  return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// Copies `source` to `target` through a new file beside the target that is renamed over it
// at the end, so the target is at every moment either its old self or the whole copy. The
// empty text on success, else why it failed.
QString CopyFile(const QString& source, const QString& target) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return in.errorString();
  QSaveFile out(target);
  // Unbuffered: a buffered write that a full disk refuses is not reported, and the commit
  // then puts a cut copy under the target's name.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return out.errorString();
  constexpr qint64 kChunk = 1 << 20;
  while (!in.atEnd()) {
    const QByteArray bytes = in.read(kChunk);
    if (bytes.isEmpty() && in.error() != QFileDevice::NoError) {
      out.cancelWriting();
      return in.errorString();
    }
    if (out.write(bytes) != bytes.size()) {
      QString error = out.errorString();
      out.cancelWriting();
      return error;
    }
  }
  if (!out.commit()) return out.errorString();
  return {};
}

}  // namespace

void TFrmMain::CreateRecordingComponents() {
  MMWaveRecorder1 = std::make_unique<TMMWaveRecorder>();
  MMWaveRecorder1->Wave().SetTimeFormat(tfByte);
  MMWaveRecorder1->SetBufferSize(2048);
  MMWaveRecorder1->SetNumBuffers(200);
  // The server's default source: the device the desktop's sound settings chose for input.
  MMWaveRecorder1->SetDeviceID(-1);
  MMWaveRecorder1->SetTimeFormat(tfByte);
  MMWaveRecorder1->SetCallBackMode(TMMCBMode::cmWindow);
  MMWaveRecorder1->SetMaxRecordTime(-1);
  MMWaveRecorder1->SetMode(mStereo);
  MMWaveRecorder1->SetBitLength(b16Bit);
  MMWaveRecorder1->SetSampleRate(44100);
  MMWaveRecorder1->SetOverwriteExisting(true);
  // The take also goes to the oscilloscope, paced by the connector.
  MMConnector1 = std::make_unique<TMMConnector>();
  MMConnector1->SetInput(MMWaveRecorder1.get());
  MMConnector1->SetOscope1(MMOscope1);
  // The recorder stops by itself when the disk is full or the input is gone; an input that
  // gives way to another is told.
  MMWaveRecorder1->OnStop = [this](TMMComponent*) { RecorderStopped(); };
  MMWaveRecorder1->OnInputChange = [this](TMMComponent*, const WaveInInputChange& change) {
    RecorderInputChange(change);
  };
  FSpaceTimer = new QTimer(this);
  FSpaceTimer->setInterval(1000);
  connect(FSpaceTimer, &QTimer::timeout, this,
          [this] { RunGuarded([this] { CheckTakeSpace(); }); });

  MMWaveFile1 = std::make_unique<TMMWaveFile>();
  MMTrigger1 = std::make_unique<TMMTrigger>();
  MMMP3Encoder1 = std::make_unique<TMMMP3Encoder>();
  MMWaveFile1->SetOutput(MMTrigger1.get());
  MMTrigger1->SetOutput(MMMP3Encoder1.get());
  MMMP3Encoder1->SetBitrate(br160);
  MMMP3Encoder1->SetCRC(true);
  MMTrigger1->OnStart = [this](TMMComponent*) { MMTrigger1Start(); };
  MMTrigger1->OnStop = [this](TMMComponent*) { RunGuarded([this] { MMTrigger1Stop(); }); };
  MMTrigger1->OnClose = [this](TMMComponent*) { MMTrigger1Close(); };

  MP3Info1 = std::make_unique<TMP3Info>();
  MP3Info1->SetGenreID(12);
}

void TFrmMain::CreateSaveDialog() {
  if (SaveDialog1 != nullptr) return;
  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setNameFilters(NameFiltersFromPairs(QString::fromLatin1(kSaveFilter)));
  SaveDialog1->setDefaultSuffix(QStringLiteral("mp3"));
  SaveDialog1->setSizeGripEnabled(true);
}

void TFrmMain::N31Click() {
  const int rate = SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection,
                                              Keys::kSampleRate, Keys::kSampleRateDefault);
  const int bits = SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection, Keys::kSampleBit,
                                              Keys::kSampleBitDefault);
  const int channels = SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection,
                                                  Keys::kChannels, Keys::kChannelsDefault);
  const int numBuffers = SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection,
                                                    Keys::kNumBuffers, Keys::kNumBuffersDefault);
  const int bufferSize = SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection,
                                                    Keys::kBufferSize, Keys::kBufferSizeDefault);
  take_mix::SetAccompanimentLevel(SettingsStore::ReadInteger(
      FConfigFile, Keys::kRecorderSection, Keys::kMixLevel, Keys::kMixLevelDefault));
  take_mix::SetOffsetMs(SettingsStore::ReadInteger(FConfigFile, Keys::kRecorderSection,
                                                   Keys::kMixOffset, Keys::kMixOffsetDefault));
  MMWaveRecorder1->SetSampleRate(rate);
  MMWaveRecorder1->SetBitLength(bits > 8 ? b16Bit : b8Bit);
  MMWaveRecorder1->SetMode(channels == 1 ? mMono : mStereo);
  MMWaveRecorder1->SetBufferSize(bufferSize);
  MMWaveRecorder1->SetNumBuffers(numBuffers);

  // A name of its own, made exclusively: another instance's take or one left behind is
  // never recorded over. A take not yet saved from before stays on disk.
  FTake = TTakeFile::Create(TakeFolder(), MMWaveRecorder1->GetFormat());
  FTempWave = FTake->Path();

  MMWaveRecorder1->SetFileName(FTempWave);
  try {
    MMWaveRecorder1->Open();
    MMWaveRecorder1->StartRecording();
  } catch (...) {
    MMWaveRecorder1->Close();
    // Nothing was recorded: an empty take is nothing to offer later.
    FTake->Remove();
    FTake.reset();
    throw;
  }
  Enable("N31", false);
  Enable("N32", true);
  FRecording = true;
  FSpaceWarned = false;
  FSpaceTimer->start();
  QTimer::singleShot(0, this, [this] { RunGuarded([this] { CheckTakeSpace(); }); });
  // Which device the take comes from, for the singer to check.
  MMOscope1->setToolTip(FTexts(kRecordingFrom).arg(MMWaveRecorder1->ProductName()));
}

void TFrmMain::N32Click() {
  // Stopping waits for the device while other events run: a second press must not stop
  // and ask again inside the first. A failure below leaves the command for a second try.
  Enable("N32", false);
  try {
    FRecording = false;
    FSpaceTimer->stop();
    MMWaveRecorder1->StopRecording();
    MMWaveRecorder1->Close();
    if (FTake && !SaveStoppedTake()) return;
  } catch (...) {
    Enable("N32", true);
    throw;
  }
  Enable("N31", true);
}

bool TFrmMain::SaveStoppedTake() {
  QString target;
  const bool chosen = AskSaveName(FTake->Path(), target);
  // The program is ending: the take stays, offered again at the next start.
  if (FSessionEnding) return false;
  if (!chosen) {
    DiscardOrKeep(std::move(FTake));
    return true;
  }
  if (target.right(3).toLower() == QLatin1String("mp3")) {
    SaveTakeAs(FTake, target);
    return true;
  }
  try {
    SaveTakeAs(FTake, target);
  } catch (const std::exception& error) {
    // The take waits in the takes window, and Record is free for the next one.
    ShowErrorBox(QString::fromUtf8(error.what()));
    OfferTake(std::move(FTake));
  }
  return true;
}

void TFrmMain::DiscardOrKeep(std::unique_ptr<TTakeFile> take) {
  if (AskYesNo(FTexts(kDiscardQuestion), FTexts(kDiscard), FTexts(kKeep))) {
    take->Remove();
    return;
  }
  OfferTake(std::move(take));
}

void TFrmMain::OfferTake(std::unique_ptr<TTakeFile> take) {
  // Without the window the file stays on disk, offered at the next start.
  if (FrmTakes == nullptr || FSessionEnding) return;
  TTakeFiles takes;
  takes.push_back(std::move(take));
  FrmTakes->Offer(std::move(takes));
}

void TFrmMain::RecorderStopped() {
  // Inside the device's own handling: the rest comes from the message loop.
  if (FRecording) {
    QTimer::singleShot(0, this, [this] { RunGuarded([this] { TakeStoppedByItself(); }); });
  }
}

void TFrmMain::TakeStoppedByItself() {
  if (!FRecording) return;
  const bool diskFull = MMWaveRecorder1->WaveFile().WriteFailed();
  // A device that failed shows its own error box first; the save dialog comes after it.
  if (!diskFull && qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr) {
    QTimer::singleShot(100, this, [this] { RunGuarded([this] { TakeStoppedByItself(); }); });
    return;
  }
  FRecording = false;
  FSpaceTimer->stop();
  Enable("N32", false);
  MMWaveRecorder1->Close();
  if (FTake && diskFull) {
    ShowErrorBox(FTexts(kDiskFull).arg(
        QDir::toNativeSeparators(QFileInfo(FTake->Path()).absolutePath()),
        TakeLengthText(FTake->LengthMs()), QDir::toNativeSeparators(FTake->Path())));
  }
  try {
    if (FTake && !SaveStoppedTake()) return;
  } catch (...) {
    Enable("N32", true);
    throw;
  }
  Enable("N31", true);
}

void TFrmMain::RecorderInputChange(const WaveInInputChange& change) {
  // Only a lost input is news: a change the singer made in the panel is not.
  if (!FRecording || !change.lost) return;
  const QString text =
      FTexts(kInputLost)
          .arg(change.from, TakeMoment(change.frame, MMWaveRecorder1->SampleRate()), change.to);
  QTimer::singleShot(0, this, [text] { ShowMessage(text); });
}

void TFrmMain::CheckTakeSpace() {
  if (!FRecording || FSpaceWarned || !FTake) return;
  const WAVEFORMATEX* format = MMWaveRecorder1->GetFormat();
  if (format == nullptr) return;
  const QString folder = QFileInfo(FTake->Path()).absolutePath();
  if (EnoughDiskSpace(FTake->Path(), std::int64_t{format->nAvgBytesPerSec} * kLowSpaceSeconds)) {
    return;
  }
  FSpaceWarned = true;
  ShowMessage(FTexts(kLowSpace).arg(QDir::toNativeSeparators(folder)));
}

bool TFrmMain::AskSaveName(const QString& takePath, QString& target) {
  CreateSaveDialog();
  for (;;) {
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty() ||
        FSessionEnding) {
      return false;
    }
    target = SaveDialog1->selectedFiles().constFirst();
    const QString ext = target.right(3).toLower();
    if (ext != QLatin1String("mp3") && ext != QLatin1String("wav")) {
      ShowMessage(FTexts(kWavOrMp3));
    } else if (SameFile(target, takePath)) {
      ShowMessage(FTexts(kNotOntoTheTake));
    } else {
      return true;
    }
  }
}

void TFrmMain::SaveTakeAs(std::unique_ptr<TTakeFile>& take, const QString& target) {
  if (target.right(3).toLower() == QLatin1String("mp3")) {
    QueueConversion(take, target);
    return;
  }
  if (const QString error = CopyFile(take->Path(), target); !error.isEmpty()) {
    throw Exception(
        FTexts(kWavSaveFailed)
            .arg(QDir::toNativeSeparators(target), error, QDir::toNativeSeparators(take->Path())));
  }
  take->Remove();
  take.reset();
}

std::unique_ptr<TTakeFile> TFrmMain::SaveLeftTake(std::unique_ptr<TTakeFile> take) {
  QString target;
  if (!AskSaveName(take->Path(), target) || FSessionEnding) return take;
  RunGuarded([&] { SaveTakeAs(take, target); });
  return take;
}

void TFrmMain::QueueConversion(std::unique_ptr<TTakeFile>& take, const QString& target) {
  TConversion job;
  job.take = std::move(take);
  job.target = target;
  FConversions.push_back(std::move(job));
  // One conversion at a time: the chain reads one take; the others wait their turn.
  if (FConverting || FConversions.size() > 1) return;
  try {
    StartConversion();
  } catch (...) {
    take = std::move(FConversions.front().take);
    FConversions.pop_front();
    throw;
  }
}

void TFrmMain::StartConversion() {
  TConversion& job = FConversions.front();
  job.partial = PartialFileBeside(job.target);
  if (job.partial.isEmpty()) {
    throw Exception(
        FTexts(kUnableToWrite).arg(QDir::toNativeSeparators(QFileInfo(job.target).absolutePath())));
  }
  try {
    MMWaveFile1->Wave().SetFileName(job.take->Path());
    MMWaveFile1->Wave().SetTimeFormat(tfSample);
    MMMP3Encoder1->SetFileName(job.partial);
    MMTrigger1->StartPump();
  } catch (...) {
    // Not the take: an output the encoder made for it goes.
    MMMP3Encoder1->DiscardOutput(job.partial);
    QFile::remove(job.partial);
    if (FConversions.size() == 1 && FrmWaiting != nullptr) {
      FrmWaiting->Timer1->stop();
      FrmWaiting->hide();
    }
    throw;
  }
  FConverting = true;
}

void TFrmMain::StartWaitingConversions() {
  while (!FConverting && !FConversions.empty() && !FSessionEnding) {
    try {
      StartConversion();
    } catch (const std::exception& error) {
      TConversion job = std::move(FConversions.front());
      FConversions.pop_front();
      ConversionFailed(std::move(job), QString::fromUtf8(error.what()));
    }
  }
}

void TFrmMain::MMTrigger1Start() {
  FrmWaiting->suiProgressBar1->setValue(0);
  FrmWaiting->show();
  FrmWaiting->Timer1->start();
}

void TFrmMain::WaitingTimerTick() {
  const TMMWave& wave = MMWaveFile1->Wave();
  FrmWaiting->suiProgressBar1->setValue(ProgressPercent(wave.Position(), wave.DataSize()));
}

void TFrmMain::MMTrigger1Stop() {
  if (!FConverting || FConversions.empty()) return;
  // Asked before the close, while the reader still knows how far it got.
  const QString failure = ConversionFailure(MMWaveFile1->Wave(), *MMTrigger1, *MMMP3Encoder1);
  FConverting = false;
  if (FrmWaiting != nullptr) FrmWaiting->Timer1->stop();
  MMTrigger1->ClosePump();
  if (!failure.isEmpty()) {
    EndConversion(failure);
    return;
  }
  TConversion& job = FConversions.front();
  // The MP3 file is whole without its tag: it is kept either way.
  job.tagFailure = SaveTagFromSettings(*MP3Info1, job.partial, FConfigFile);
  EndConversion(RenameOver(job.partial, job.target));
}

void TFrmMain::MMTrigger1Close() {
  if (!FConverting || FConversions.empty()) return;
  // Closed without its stop: an error in the chain's last steps, already shown.
  FConverting = false;
  EndConversion(FTexts(kConversionUnfinished));
}

void TFrmMain::EndConversion(const QString& failure) {
  TConversion job = std::move(FConversions.front());
  FConversions.pop_front();
  if (!failure.isEmpty()) {
    ConversionFailed(std::move(job), failure);
  } else if (!job.tagFailure.isEmpty()) {
    // The take stays too, so that nothing of what the singer wanted is lost.
    if (!FSessionEnding) FFailedConversions.push_back(std::move(job));
  } else {
    job.take->Remove();
  }
  ConversionsMoveOn();
}

void TFrmMain::ConversionsMoveOn() {
  if (FConversions.empty() || FSessionEnding) {
    if (FrmWaiting != nullptr) {
      FrmWaiting->Timer1->stop();
      FrmWaiting->hide();
    }
    // The close waited for this.
    if (FClosing) {
      QTimer::singleShot(0, this, [this] { close(); });
      return;
    }
  }
  // Later, from the message loop: the pump is still closing.
  QTimer::singleShot(0, this, [this] {
    RunGuarded([this] {
      StartWaitingConversions();
      ShowConversionFailures();
    });
  });
}

void TFrmMain::ConversionFailed(TConversion job, const QString& reason) {
  // A partial MP3 file is not the take: only the WAV file is.
  MMMP3Encoder1->DiscardOutput(job.partial);
  if (!job.partial.isEmpty()) QFile::remove(job.partial);
  if (FSessionEnding) return;  // the take stays on disk for the next start
  job.failure = reason;
  FFailedConversions.push_back(std::move(job));
}

void TFrmMain::ShowConversionFailures() {
  while (!FFailedConversions.empty()) {
    TConversion job = std::move(FFailedConversions.front());
    FFailedConversions.pop_front();
    const QString target = QDir::toNativeSeparators(job.target);
    const QString take = QDir::toNativeSeparators(job.take->Path());
    ShowMessage(job.failure.isEmpty() ? FTexts(kTagFailed).arg(target, job.tagFailure, take)
                                      : FTexts(kSaveFailed).arg(target, job.failure, take));
    OfferTake(std::move(job.take));
  }
}

void TFrmMain::OfferLeftTakes() {
  if (FrmTakes == nullptr) return;
  QStringList folders{TakeFolder()};
  // Takes of earlier versions went to the temporary folder whatever it was.
  folders << QDir::tempPath() + QLatin1Char('/');
  TTakeFiles takes = TTakeFile::FindLeft(folders);
  if (!takes.empty()) FrmTakes->Offer(std::move(takes));
}

void TFrmMain::WaitForConversionsToClose() {
  // Nothing more may start: every command of the window is off, and the waiting window,
  // over all the others, takes the input.
  for (QAction* action : findChildren<QAction*>()) action->setEnabled(false);
  FrmWaiting->ShowClosing();
}

void TFrmMain::EndSession() {
  if (FSessionEnding) return;
  FSessionEnding = true;
  FSpaceTimer->stop();
  if (FRecording) {
    FRecording = false;
    // Finished like Stop recording: the file is complete, and kept for the next start.
    RunGuarded([this] {
      MMWaveRecorder1->StopRecording();
      MMWaveRecorder1->Close();
    });
  }
  // A conversion cut short keeps its take and loses only its partial MP3 file; the ones
  // waiting keep theirs too.
  if (FConverting) MMTrigger1->ClosePump();
  while (FConversions.size() > (FConverting ? 1U : 0U)) FConversions.pop_back();
}

}  // namespace sonarelle
