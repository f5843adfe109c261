#include "encode/WavToMp3.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "audio/pump/MMTrigger.h"
#include "audio/wavefile/MMWaveFile.h"
#include "encode/ConversionFailure.h"
#include "encode/MMMP3Encoder.h"
#include "encode/MP3Info.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

namespace {

constexpr int kProgressIntervalMs = 250;

int Percent(const TMMWave& wave) {
  const std::int64_t total = std::max<std::int64_t>(wave.DataSize(), 1);
  const std::int64_t done = std::max<std::int64_t>(wave.Position(), 0);
  return static_cast<int>(std::clamp<std::int64_t>(MulDivRound(done, 100, total), 0, 100));
}

}  // namespace

QString SaveTagFromSettings(TMP3Info& info, const QString& mp3File, const QString& configFile) {
  using namespace ConfigKeys;
  auto setting = [&](const char* key) {
    return SettingsStore::ReadText(configFile, kMp3InfoSection, key);
  };
  info.SetFilename(mp3File);
  info.SetAlbum(setting(kAlbum));
  info.SetArtist(setting(kArtist));
  info.SetComment(setting(kComment));
  info.SetTitle(setting(kTitle));
  info.SetYear(setting(kYear));
  info.Save();
  QString error;
  if (!info.Saved()) {
    error = info.Error().isEmpty() ? QStringLiteral("Can\u00B4t write ID3 tag information !")
                                   : info.Error();
  }
  info.SetFilename(QString());
  return error;
}

QString WavToMp3::Run(const QString& wavFile, const QString& mp3File, const QString& configFile) {
  TMMWaveFile reader;
  TMMMP3Encoder encoder;
  encoder.SetBitrate(br160);
  encoder.SetCRC(true);
  TMMTrigger trigger;  // destroyed first: it drives the other two
  trigger.SetInput(&reader);
  trigger.SetOutput(&encoder);

  bool stopped = false;
  QString failure;  // why the conversion did not finish, found when the pump stops
  trigger.OnStop = [&](TMMComponent*) {
    stopped = true;
    failure = ConversionFailure(reader.Wave(), trigger, encoder);
    trigger.ClosePump();
  };
  // A partial MP3 file is not the WAVE file converted: it goes.
  auto fail = [&](const QString& reason) {
    trigger.ClosePump();
    encoder.DiscardOutput(mp3File);
    return reason;
  };

  try {
    reader.Wave().SetFileName(wavFile);
    encoder.SetFileName(mp3File);
    trigger.StartPump();
  } catch (const std::exception& error) {
    return fail(QString::fromUtf8(error.what()));
  }

  // Sleeps in the event loop until the pump's stop (or its close after an error) arrives;
  // the timer reports progress and catches a close that came without a callback.
  QEventLoop loop;
  auto finished = [&] { return stopped || (trigger.State() & TMMTrigger::tsClosed) != 0; };
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (finished()) {
      loop.quit();
      return;
    }
    if (OnProgress) OnProgress(Percent(reader.Wave()));
  });
  trigger.OnClose = [&](TMMComponent*) { loop.quit(); };
  if (OnProgress) OnProgress(0);
  if (!finished()) {
    tick.start(kProgressIntervalMs);
    loop.exec();
  }
  tick.stop();
  trigger.OnClose = nullptr;
  trigger.ClosePump();
  if (!stopped) {
    const QString error = trigger.ErrorText();
    return fail(error.isEmpty() ? QStringLiteral("Unable to finish ") + mp3File : error);
  }
  if (!failure.isEmpty())
    return fail(QStringLiteral("Unable to convert to %1: %2").arg(mp3File, failure));
  if (OnProgress) OnProgress(100);
  TMP3Info tag;  // genre 12, as the main window's
  const QString tagError = SaveTagFromSettings(tag, mp3File, configFile);
  return tagError.isEmpty() ? tagError : fail(tagError);
}

}  // namespace sonarelle
