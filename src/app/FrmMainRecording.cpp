// The main window's recording commands: a take into a temporary WAV file, then saved as
// WAV or converted to a tagged MP3 file while the waiting window shows the progress.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTimer>

#include "app/FileDialogFilter.h"
#include "app/FrmMain.h"
#include "app/FrmWaiting.h"
#include "audio/pump/MMTrigger.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "audio/wavefile/MMWaveFile.h"
#include "displays/MMConnector.h"
#include "displays/MMOscope.h"
#include "encode/MMMP3Encoder.h"
#include "encode/MP3Info.h"
#include "platform/Exception.h"
#include "platform/MessageBoxes.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace Keys = ConfigKeys;

const char* const TFrmMain::kSaveFilter = "wav|*.wav|MP3|*.mp3";

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
  MMWaveRecorder1->SetSampleRate(rate);
  MMWaveRecorder1->SetBitLength(bits > 8 ? b16Bit : b8Bit);
  MMWaveRecorder1->SetMode(channels == 1 ? mMono : mStereo);
  MMWaveRecorder1->SetBufferSize(bufferSize);
  MMWaveRecorder1->SetNumBuffers(numBuffers);

  FTempWave =
      QDir(QDir::tempPath())
          .filePath(QStringLiteral("SWtemp%1.wav").arg(QRandomGenerator::global()->bounded(10000)));
  if (QFile::exists(FTempWave)) QFile::remove(FTempWave);

  MMWaveRecorder1->SetFileName(FTempWave);
  try {
    MMWaveRecorder1->Open();
    MMWaveRecorder1->StartRecording();
  } catch (...) {
    MMWaveRecorder1->Close();
    throw;
  }
  Enable("N31", false);
  Enable("N32", true);
  FRecording = true;
  // Which device the take comes from, for the singer to check.
  MMOscope1->setToolTip(QStringLiteral("Recording from %1").arg(MMWaveRecorder1->ProductName()));
}

void TFrmMain::N32Click() {
  FRecording = false;
  MMWaveRecorder1->StopRecording();
  MMWaveRecorder1->Close();

  if (SaveDialog1->exec() == QDialog::Accepted && !SaveDialog1->selectedFiles().isEmpty()) {
    const QString target = SaveDialog1->selectedFiles().constFirst();
    const QString ext = target.right(3).toLower();
    if (ext == QLatin1String("mp3")) {
      StartConversion(target);
    } else if (ext == QLatin1String("wav")) {
      SaveTakeAsWav(target);
    }
  } else if (QFile::exists(FTempWave)) {
    QFile::remove(FTempWave);
  }
  Enable("N31", true);
  Enable("N32", false);
}

void TFrmMain::SaveTakeAsWav(const QString& target) {
  // Copied beside the target first, so a failed copy neither loses the take nor leaves a
  // half-written file under the chosen name.
  const QString partial = target + QStringLiteral(".part");
  QFile::remove(partial);
  if (!QFile::copy(FTempWave, partial) || (QFile::exists(target) && !QFile::remove(target)) ||
      !QFile::rename(partial, target)) {
    QFile::remove(partial);
    throw Exception(
        QStringLiteral("Unable to save the take as %1. It is kept in %2.")
            .arg(QDir::toNativeSeparators(target), QDir::toNativeSeparators(FTempWave)));
  }
  QFile::remove(FTempWave);
}

void TFrmMain::StartConversion(const QString& target) {
  MMWaveFile1->Wave().SetFileName(FTempWave);
  MMWaveFile1->Wave().SetTimeFormat(tfSample);
  MMMP3Encoder1->SetFileName(target);
  // The clean-up at the end belongs to this conversion's take, whatever is recorded next.
  FConversionWave = FTempWave;
  FConverting = true;
  try {
    MMTrigger1->StartPump();
  } catch (...) {
    FConverting = false;
    FrmWaiting->Timer1->stop();
    FrmWaiting->hide();
    throw;
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
  FrmWaiting->hide();
  FrmWaiting->Timer1->stop();
  FConverting = false;
  MMTrigger1->ClosePump();

  MP3Info1->SetFilename(MMMP3Encoder1->FileName());
  auto tag = [this](const char* key) {
    return SettingsStore::ReadText(FConfigFile, Keys::kMp3InfoSection, key);
  };
  MP3Info1->SetAlbum(tag(Keys::kAlbum));
  MP3Info1->SetArtist(tag(Keys::kArtist));
  MP3Info1->SetComment(tag(Keys::kComment));
  MP3Info1->SetTitle(tag(Keys::kTitle));
  MP3Info1->SetYear(tag(Keys::kYear));
  MP3Info1->Save();
  MP3Info1->SetFilename(QString());

  if (QFile::exists(FConversionWave)) QFile::remove(FConversionWave);
}

void TFrmMain::MMTrigger1Close() {
  if (!FConverting) return;
  // Closed without reaching the end: the error was shown; the take stays where it is.
  FConverting = false;
  FrmWaiting->Timer1->stop();
  FrmWaiting->hide();
  ShowMessage(QStringLiteral("The take was not converted. It is kept in %1.")
                  .arg(QDir::toNativeSeparators(FConversionWave)));
}

}  // namespace sonarelle
