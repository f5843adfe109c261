// Recording a take through the main window's real commands against the test rig's sound
// server (the default source is "mic", a 440 Hz tone), then saving it as WAV or MP3.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <functional>
#include <utility>

#include "EventWait.h"
#include "RigAudio.h"
#include "app/CollapsiblePanel.h"
#include "app/FrmConfig.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "app/ProgramWindows.h"
#include "audio/chain/DiskSpace.h"
#include "audio/pump/MMTrigger.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "displays/MMOscope.h"
#include "encode/MP3Info.h"
#include "platform/Mp3EncoderLibrary.h"
#include "platform/ProgramFolder.h"
#include "settings/SettingsStore.h"
#include "support/ModalBoxWatcher.h"
#include "support/SmallDisk.h"
#include "support/Tone.h"

#include "RecordingFixture.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

// Rows of the oscilloscope's image holding lime trace pixels.
int LitRows(const QImage& image) {
  int rows = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (qGreen(c) > 200 && qRed(c) < 80 && qBlue(c) < 80) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

TEST_F(RecordingTest, ATakeSavedAsWavHoldsTheRecordedSamples) {
  const QImage silent = main_->MMOscope1->grab().toImage();
  main_->Item("N31")->trigger();
  ASSERT_TRUE(main_->FRecording);
  // The voice shows on the oscilloscope: the trace spreads beyond the silent middle rows
  // and moves on.
  ASSERT_TRUE(WaitUntil([&] { return LitRows(main_->MMOscope1->grab().toImage()) > 4; }, 3000));
  const QImage first = main_->MMOscope1->grab().toImage();
  ASSERT_TRUE(WaitUntil([&] { return main_->MMOscope1->grab().toImage() != first; }, 3000));
  EXPECT_LE(LitRows(silent), 2);
  EXPECT_EQ(main_->MMOscope1->toolTip(), "Recording from Sine source at 440 Hz")
      << "the device in use is named for the singer";
  event_wait::Pump(1000);
  // With no config.ini: 44100 Hz, 16-bit stereo, 20 buffers of 4096 bytes.
  EXPECT_EQ(main_->MMWaveRecorder1->SampleRate(), 44100);
  EXPECT_EQ(main_->MMWaveRecorder1->BitLength(), b16Bit);
  EXPECT_EQ(main_->MMWaveRecorder1->Mode(), mStereo);
  EXPECT_EQ(main_->MMWaveRecorder1->NumBuffers(), 20);
  EXPECT_FALSE(main_->Item("N31")->isEnabled());
  EXPECT_TRUE(main_->Item("N32")->isEnabled());
  const QString temp = main_->FTempWave;
  EXPECT_TRUE(QFileInfo(temp).fileName().startsWith("SWtemp"));

  // The temporary file as the recorder finished it, for comparison.
  StopAndSaveAs(Out("take.wav"), [&] {
    QFile::copy(temp, Out("recorded.wav"));
    EXPECT_FALSE(main_->Item("N32")->isEnabled()) << "a second press would stop inside the first";
  });
  EXPECT_TRUE(main_->Item("N31")->isEnabled());
  EXPECT_FALSE(main_->Item("N32")->isEnabled());
  EXPECT_FALSE(QFile::exists(temp)) << "the temporary take goes once it is saved";

  int channels = 0;
  int rate = 0;
  const std::vector<double> take = WavSamples(Out("take.wav"), &channels, &rate);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(rate, 44100);
  EXPECT_GT(take.size(), 44100u);  // more than half a second of stereo
  EXPECT_EQ(take, WavSamples(Out("recorded.wav")));
  EXPECT_TRUE(HasTone(LeftChannel(take), 44100, 440));
}

TEST_F(RecordingTest, TheSetupDialogsChoiceIsTheFormatOfTheNextTake) {
  TFrmConfig& config = *windows_->FrmConfig;
  main_->Item("N61")->trigger();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &config; }, 3000));
  EXPECT_EQ(config.Label3->text(), "Product Name   " + main_->MMWaveRecorder1->ProductName());
  config.suiComboBox1->setEditText("22050");
  QTest::mouseClick(config.suiRadioButton1, Qt::LeftButton);
  QTest::mouseClick(config.suiRadioButton3, Qt::LeftButton);
  EXPECT_EQ(config.suiEdit1->text(), "1.26M/min");
  config.suiButton1->click();
  ASSERT_FALSE(config.isVisible());

  RecordFor(1000);
  StopAndSaveAs(Out("take.wav"));
  QFile file(Out("take.wav"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  // The header of the one fmt chunk the recorder writes first, and the data after it.
  ASSERT_GE(bytes.size(), 44);
  ASSERT_EQ(bytes.mid(12, 4), "fmt ");
  const char* fmt = bytes.constData() + 20;
  EXPECT_EQ(qFromLittleEndian<quint16>(fmt + 2), 1) << "channels";
  EXPECT_EQ(qFromLittleEndian<quint32>(fmt + 4), 22050u) << "rate";
  EXPECT_EQ(qFromLittleEndian<quint32>(fmt + 8), 22050u) << "bytes a second";
  EXPECT_EQ(qFromLittleEndian<quint16>(fmt + 14), 8) << "bits";
  const qsizetype data = bytes.indexOf("data", 36);
  ASSERT_GT(data, 0);
  // The rig's tone in unsigned 8-bit samples, over more than half a second.
  std::vector<double> samples;
  const qsizetype end = std::min<qsizetype>(
      bytes.size(), data + 8 + qFromLittleEndian<quint32>(bytes.constData() + data + 4));
  for (qsizetype i = data + 8; i < end; ++i) {
    samples.push_back((static_cast<quint8>(bytes[i]) - 128) / 128.0);
  }
  EXPECT_GT(samples.size(), 11025u);
  EXPECT_TRUE(HasTone(samples, 22050, 440));
}

TEST_F(RecordingTest, ATakeSavedAsMp3IsConvertedAndTaggedAtTheEnd) {
  const QString config = main_->FConfigFile;
  SettingsStore::WriteText(config, "mp3_info", "title", "at record time");
  RecordFor(2000);
  // The tag carries the values of config.ini when the conversion ends.
  SettingsStore::WriteText(config, "mp3_info", "title", "A title longer than thirty characters");
  SettingsStore::WriteText(config, "mp3_info", "artist", "The Singer");
  SettingsStore::WriteText(config, "mp3_info", "year", "2026");
  const QString temp = main_->FTempWave;
  StopAndSaveAs(Out("take.MP3"));
  ASSERT_TRUE(Converted());
  EXPECT_FALSE(windows_->FrmWaiting->isVisible());
  EXPECT_FALSE(QFile::exists(temp));
  ASSERT_TRUE(QFile::exists(Out("take.MP3")));

  TMP3Info tag;
  tag.SetFilename(Out("take.MP3"));
  ASSERT_TRUE(tag.Valid());
  EXPECT_EQ(tag.Title(), "A title longer than thirty cha");
  EXPECT_EQ(tag.Artist(), "The Singer");
  EXPECT_EQ(tag.Year(), "2026");
  EXPECT_EQ(tag.GenreID(), 12);

  QProcess decode;
  decode.start("gst-launch-1.0", {"-q", "filesrc", "location=" + Out("take.MP3"), "!", "decodebin",
                                  "!", "audioconvert", "!", "audio/x-raw,format=S16LE", "!",
                                  "wavenc", "!", "filesink", "location=" + Out("decoded.wav")});
  ASSERT_TRUE(decode.waitForFinished(30000));
  int rate = 0;
  const std::vector<double> decoded = WavSamples(Out("decoded.wav"), nullptr, &rate);
  EXPECT_EQ(rate, 44100);
  // The rig's source hands out a second at once when a take starts; nothing of it is lost.
  EXPECT_GT(decoded.size() / 2.0 / 44100.0, 1.8);
  EXPECT_TRUE(HasTone(LeftChannel(decoded), 44100, 440));
}

TEST_F(RecordingTest, CancelAsksBeforeTheTakeGoesAndAWrongNameIsAskedAgain) {
  ModalBoxWatcher boxes(false);
  // Escape in the save dialog, then Keep (the answer Escape gives again): the take waits
  // in the takes window.
  RecordFor(300);
  QString temp = main_->FTempWave;
  StopAndSaveAs(QString());
  ASSERT_EQ(boxes.Texts(), QStringList{"Discard this take?"});
  EXPECT_TRUE(QFile::exists(temp));
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), temp);
  EXPECT_TRUE(main_->Item("N31")->isEnabled());
  // Discard removes it.
  windows_->FrmTakes->BtnDiscard->click();
  RecordFor(300);
  temp = main_->FTempWave;
  boxes.AnswerYes(true);
  StopAndSaveAs(QString());
  boxes.AnswerYes(false);
  EXPECT_FALSE(QFile::exists(temp));
  EXPECT_TRUE(windows_->FrmTakes->Takes().empty());

  // A name that is neither .wav nor .mp3, then the take's own file: each is refused with a
  // word and the dialog comes back; a ".part" file of that name is not the program's.
  RecordFor(300);
  temp = main_->FTempWave;
  QFile part(Out("take.wav.part"));
  ASSERT_TRUE(part.open(QIODevice::WriteOnly));
  part.write("the singer's own file");
  part.close();
  StopAndSaveAs({Out("take.wave"), temp, Out("take.wav")});
  ASSERT_EQ(boxes.Boxes().size(), 4);
  EXPECT_TRUE(boxes.Boxes().at(2).text.contains(".mp3"));
  EXPECT_TRUE(boxes.Boxes().at(3).text.contains("own temporary file"));
  EXPECT_FALSE(QFile::exists(Out("take.wave")));
  EXPECT_FALSE(WavSamples(Out("take.wav")).empty());
  EXPECT_FALSE(QFile::exists(temp));
  ASSERT_TRUE(part.open(QIODevice::ReadOnly));
  EXPECT_EQ(part.readAll(), "the singer's own file");
}

TEST_F(RecordingTest, AFailedConversionKeepsTheTakeForASecondTry) {
  ModalBoxWatcher boxes(false);
  SetMp3EncoderLibraryName("libdoes-not-exist.so.0");
  RecordFor(300);
  const QString temp = main_->FTempWave;
  StopAndSaveAs(Out("lost.mp3"));
  ASSERT_FALSE(boxes.Boxes().isEmpty());
  EXPECT_TRUE(boxes.Boxes().last().critical);
  EXPECT_TRUE(QFile::exists(temp));
  EXPECT_FALSE(main_->FConverting);
  EXPECT_TRUE(main_->Item("N32")->isEnabled()) << "Stop recording stays for a second try";
  EXPECT_FALSE(main_->Item("N31")->isEnabled());

  StopAndSaveAs(Out("kept.wav"));
  EXPECT_FALSE(WavSamples(Out("kept.wav")).empty());
  EXPECT_FALSE(QFile::exists(temp));
  EXPECT_TRUE(main_->Item("N31")->isEnabled());

  // A disk that fills up during the conversion: the singer is told, the take stays.
  SetMp3EncoderLibraryName(QString());
  RecordFor(300);
  const QString full = main_->FTempWave;
  const int shown = boxes.Boxes().size();
  FreeSpaceQuery normal = nullptr;
  StopAndSaveAs(Out("full.mp3"), [&] {
    normal = SetFreeSpaceQuery([](const QString&) -> std::uint64_t { return 0; });
  });
  // Once told, the take is offered to be saved elsewhere.
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmTakes->isVisible(); }, 5000));
  SetFreeSpaceQuery(normal);
  EXPECT_GT(boxes.Boxes().size(), shown);
  EXPECT_TRUE(boxes.Texts().join('\n').contains(QDir::toNativeSeparators(full)));
  EXPECT_TRUE(QFile::exists(full));
  EXPECT_FALSE(QFile::exists(Out("full.mp3"))) << "a partial MP3 file is not the take";
  EXPECT_FALSE(windows_->FrmWaiting->isVisible());
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), full);
  windows_->FrmTakes->BtnDiscard->click();
  EXPECT_FALSE(QFile::exists(full));
  EXPECT_FALSE(windows_->FrmTakes->isVisible());

  // A 22050 Hz take is refused by the encoder and no target file is made.
  SettingsStore::WriteInteger(main_->FConfigFile, "recorder_setting", "samplerate", 22050);
  RecordFor(300);
  const QString temp22 = main_->FTempWave;
  const int before = boxes.Boxes().size();
  StopAndSaveAs(Out("low.mp3"));
  WaitUntil([&] { return !main_->FConverting; }, 5000);
  ASSERT_GT(boxes.Boxes().size(), before);
  EXPECT_TRUE(boxes.Texts().join('\n').contains("Unsupported Input Format"));
  EXPECT_FALSE(QFile::exists(Out("low.mp3")));
  EXPECT_TRUE(QFile::exists(temp22));
  QFile::remove(temp22);
}

TEST_F(RecordingTest, AFullDiskDuringTheConversionKeepsTheTakeAndDropsThePartialMp3) {
  SmallDisk disk(qint64{48} * 1024);
  if (disk.RanElsewhere()) return;
  ModalBoxWatcher boxes(false);
  RecordFor(3500);
  const QString take = main_->FTempWave;
  const QString mp3 = QDir(disk.Folder()).filePath("take.mp3");
  disk.Arm();
  StopAndSaveAs(mp3);
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmTakes->isVisible(); }, 20000));
  disk.Disarm();
  EXPECT_FALSE(QFile::exists(mp3)) << "on a " << disk.Kind().toStdString();
  EXPECT_TRUE(ReadWave(take).final) << "the take is whole";
  ASSERT_FALSE(boxes.Boxes().isEmpty());
  const QString told = boxes.Boxes().last().text;
  EXPECT_TRUE(told.contains(QDir::toNativeSeparators(take))) << told.toStdString();
  EXPECT_TRUE(told.contains(QDir::toNativeSeparators(mp3))) << told.toStdString();
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), take);
  EXPECT_TRUE(main_->Item("N31")->isEnabled());
}

TEST_F(RecordingTest, ATakeStoppedWhileAnotherConvertsWaitsItsTurn) {
  // Slowed down, so the second take is stopped while the first still converts.
  main_->MMTrigger1->SetInterval(15);
  RecordFor(2500);
  const QString first = main_->FTempWave;
  StopAndSaveAs(Out("first.mp3"));
  ASSERT_TRUE(main_->FConverting);
  RecordFor(800);
  const QString second = main_->FTempWave;
  EXPECT_NE(second, first);
  StopAndSaveAs(Out("second.mp3"));
  EXPECT_TRUE(main_->FConverting) << "the first conversion goes on";
  EXPECT_TRUE(QFile::exists(first));
  ASSERT_TRUE(WaitUntil([&] { return main_->FConversions.empty(); }, 60000));
  EXPECT_FALSE(QFile::exists(first));
  EXPECT_FALSE(QFile::exists(second));
  for (const auto& [name, seconds] : {std::pair{"first.mp3", 2.5}, std::pair{"second.mp3", 0.8}}) {
    TMP3Info tag;
    tag.SetFilename(Out(name));
    EXPECT_TRUE(tag.Valid()) << name;
    // 160 kbit/s: 20000 bytes a second, whatever the take was.
    EXPECT_GT(QFileInfo(Out(name)).size(), seconds * 20000) << name;
  }
}

TEST_F(RecordingTest, ALogoutDuringAConversionKeepsTheTakeAndDropsThePartialMp3) {
  main_->MMTrigger1->SetInterval(15);
  RecordFor(2000);
  const QString take = main_->FTempWave;
  StopAndSaveAs(Out("cut.mp3"));
  ASSERT_TRUE(main_->FConverting);
  event_wait::Pump(300);
  main_->EndSession();
  EXPECT_FALSE(main_->FConverting);
  EXPECT_FALSE(QFile::exists(Out("cut.mp3")));
  EXPECT_TRUE(ReadWave(take).final);
  event_wait::Pump(100);
  EXPECT_FALSE(windows_->FrmTakes->isVisible()) << "nothing is asked while the session ends";
}

// What pactl says of the rig's server.
QString Pactl(const QStringList& arguments) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), arguments);
  pactl.waitForFinished();
  return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

TEST_F(RecordingTest, ThePanelChoosesTheSourceOfTheTakeAndTheMasterSetsTheSpeakers) {
  // The rig's sources: the two sine sources, then the speakers' monitor, then the take mix.
  const QStringList names = {"radioboxtemp0", "radioboxtemp1", "radioboxtemp2"};
  auto* mic = main_->findChild<QRadioButton*>(names[0]);
  auto* line = main_->findChild<QRadioButton*>(names[1]);
  auto* monitor = main_->findChild<QRadioButton*>(names[2]);
  ASSERT_TRUE(mic && line && monitor);
  EXPECT_EQ(main_->findChild<QRadioButton*>("radioboxtemp3")->toolTip(), "Voice and accompaniment");
  EXPECT_EQ(main_->findChild<QRadioButton*>("radioboxtemp4"), nullptr);
  EXPECT_EQ(mic->toolTip(), "Sine source at 440 Hz");
  EXPECT_TRUE(monitor->toolTip().startsWith("Monitor of")) << monitor->toolTip().toStdString();
  // A long name ends before its slider.
  EXPECT_LE(mic->geometry().right(), main_->findChild<QSlider*>("trackbartemp0")->x());
  EXPECT_TRUE(mic->isChecked() && !line->isChecked());
  EXPECT_EQ(line->pos(), QPoint(242, 9));
  // The line's slider shares its row, right of its whole name.
  const QRect lineBar = main_->findChild<QSlider*>("trackbartemp1")->geometry();
  EXPECT_EQ(QRect(lineBar.x(), 9, lineBar.width(), 17), lineBar);
  EXPECT_GT(lineBar.x(), line->geometry().right());
  EXPECT_EQ(line->text(), "Sine source at 880 Hz");
  EXPECT_EQ(monitor->pos(), QPoint(29, 29));

  line->click();
  EXPECT_FALSE(mic->isChecked());
  EXPECT_EQ(Pactl({"get-default-source"}), "line");
  RecordFor(2000);
  StopAndSaveAs(Out("line.wav"));
  const std::vector<double> take = LeftChannel(WavSamples(Out("line.wav")));
  EXPECT_TRUE(HasTone(take, 44100, 880));
  EXPECT_FALSE(HasTone(take, 44100, 440));
  mic->click();
  EXPECT_EQ(Pactl({"get-default-source"}), "mic");

  // Top is loudest; moving the master unmutes the speakers.
  Pactl({"set-sink-mute", "speakers", "1"});
  main_->suiTrackBar2->setValue(65535);
  EXPECT_TRUE(Pactl({"get-sink-volume", "speakers"}).contains(" 0%"));
  EXPECT_TRUE(Pactl({"get-sink-mute", "speakers"}).endsWith("no"));
  main_->suiTrackBar2->setValue(0);
  EXPECT_TRUE(Pactl({"get-sink-volume", "speakers"}).contains("100%"));

  // Sources past the ninth are left out: the handlers know a source by one digit.
  QStringList modules;
  for (int i = 0; i < 10; ++i) {
    modules << Pactl({"load-module", "module-sine-source", QString("source_name=extra%1").arg(i)});
  }
  {
    TFrmMain crowded;
    EXPECT_EQ(crowded.findChildren<QRadioButton*>().size(), 9);
    EXPECT_EQ(crowded.findChild<QRadioButton*>("radioboxtemp8")->pos(), QPoint(29, 89));
    EXPECT_EQ(crowded.findChild<QRadioButton*>("radioboxtemp8")->toolTip(),
              "Voice and accompaniment");
  }
  for (const QString& module : modules) Pactl({"unload-module", module});

  // Collapsing and expanding gives the window its height back.
  const int height = main_->height();
  main_->suiPanel1->Pop();
  EXPECT_EQ(main_->height(), height + 116);
  main_->suiPanel1->Push();
  EXPECT_EQ(main_->height(), height);
}

}  // namespace
}  // namespace sonarelle
