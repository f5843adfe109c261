// Video through the media player: the natural size, frames drawn into the display panel
// (grabbed back as pixels), scaling to the display rectangle, and a clean panel after Close.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "media/MediaPlayer.h"

namespace sonarelle {
namespace {

using event_wait::Pump;
using event_wait::WaitUntil;

constexpr int kWaitMs = 5000;

bool IsRed(QRgb c) {
  return qRed(c) > 180 && qGreen(c) < 70 && qBlue(c) < 70;
}

bool IsBlue(QRgb c) {
  return qBlue(c) > 180 && qRed(c) < 70 && qGreen(c) < 70;
}

bool IsBlack(QRgb c) {
  return qRed(c) < 30 && qGreen(c) < 30 && qBlue(c) < 30;
}

class MediaVideoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    ASSERT_EQ(media_fixtures::WriteMpegVideo(Path("red.mpg"), 352, 288, "red", 2.0, true), "");
    ASSERT_TRUE(QFile::copy(Path("red.mpg"), Path("AVSEQ01.DAT")));
    ASSERT_EQ(media_fixtures::WriteAviVideo(Path("blue.avi"), 320, 240, "blue", 1.0), "");
  }

  static void TearDownTestSuite() { dir_.reset(); }

  static QString Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }

  void SetUp() override {
    // The display window's Panel1: a plain black panel.
    panel_.resize(400, 320);
    panel_.setAutoFillBackground(true);
    QPalette palette = panel_.palette();
    palette.setColor(QPalette::Window, Qt::black);
    panel_.setPalette(palette);
    panel_.show();
  }

  // The main window's order: file name, Open, Play, time format, display panel.
  void OpenAndPlay(const char* name) {
    player_.SetFileName(Path(name));
    player_.Open();
    player_.Play();
    player_.SetTimeFormat(tfMilliseconds);
    player_.SetDisplay(&panel_);
  }

  QRgb PixelAt(int x, int y) { return panel_.grab().toImage().pixel(x, y); }

  template <class Test>
  bool PixelBecomes(int x, int y, Test test) {
    return WaitUntil([&] { return test(PixelAt(x, y)); }, kWaitMs);
  }

  static std::unique_ptr<QTemporaryDir> dir_;
  QWidget panel_;
  TMediaPlayer player_;
};

std::unique_ptr<QTemporaryDir> MediaVideoTest::dir_;

TEST_F(MediaVideoTest, MpegVideoHasItsNaturalSizeAndItsFramesReachThePanel) {
  OpenAndPlay("red.mpg");
  EXPECT_EQ(player_.DisplayRect(), QRect(0, 0, 352, 288));
  EXPECT_NEAR(player_.Length(), 2000, 100);
  EXPECT_TRUE(PixelBecomes(176, 144, IsRed)) << QColor(PixelAt(176, 144)).name().toStdString();
  EXPECT_TRUE(PixelBecomes(351, 287, IsRed));
  // Outside the display rectangle the panel stays as it is.
  EXPECT_TRUE(IsBlack(PixelAt(380, 144)));
  EXPECT_TRUE(IsBlack(PixelAt(176, 300)));
  // Clicks go to the panel, not to what the video is drawn on.
  EXPECT_EQ(panel_.childAt(176, 144), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return player_.Position() >= 200; }, kWaitMs));
}

TEST_F(MediaVideoTest, SettingTheDisplayRectangleScalesTheVideo) {
  OpenAndPlay("red.mpg");
  player_.SetDisplayRect(QRect(0, 0, 176, 144));
  EXPECT_EQ(player_.DisplayRect(), QRect(0, 0, 176, 144));
  EXPECT_TRUE(PixelBecomes(170, 140, IsRed));
  EXPECT_TRUE(IsBlack(PixelAt(200, 160)));
  EXPECT_TRUE(IsBlack(PixelAt(300, 250)));

  // Stretched over the whole panel, as for a later disc track or full screen.
  player_.SetDisplayRect(QRect(0, 0, 400, 320));
  EXPECT_TRUE(PixelBecomes(395, 315, IsRed));
  EXPECT_TRUE(IsRed(PixelAt(2, 2)));
}

// The first frame shows as soon as the file is open, before Play; a paused video keeps it.
TEST_F(MediaVideoTest, AnOpenedVideoShowsItsFirstFrameBeforePlay) {
  player_.SetFileName(Path("red.mpg"));
  player_.SetDisplay(&panel_);
  player_.Open();
  EXPECT_EQ(player_.Position(), 0);
  EXPECT_TRUE(PixelBecomes(100, 100, IsRed));
  EXPECT_EQ(player_.Position(), 0);
}

TEST_F(MediaVideoTest, DatTracksAreMpegVideoToo) {
  OpenAndPlay("AVSEQ01.DAT");
  EXPECT_EQ(player_.DisplayRect(), QRect(0, 0, 352, 288));
  EXPECT_TRUE(PixelBecomes(176, 144, IsRed));
}

TEST_F(MediaVideoTest, AviVideoHasItsSizeAndItsFramesReachThePanel) {
  OpenAndPlay("blue.avi");
  EXPECT_EQ(player_.DisplayRect(), QRect(0, 0, 320, 240));
  EXPECT_NEAR(player_.Length(), 1000, 100);
  EXPECT_TRUE(PixelBecomes(160, 120, IsBlue));
  EXPECT_TRUE(IsBlack(PixelAt(360, 120)));
  EXPECT_TRUE(WaitUntil([&] { return player_.Position() >= player_.Length(); }, kWaitMs));
}

TEST_F(MediaVideoTest, CloseLeavesThePanelAsItWas) {
  OpenAndPlay("red.mpg");
  ASSERT_TRUE(PixelBecomes(176, 144, IsRed));
  player_.Close();
  // Frames posted before Close must not reappear.
  Pump(300);
  EXPECT_TRUE(IsBlack(PixelAt(176, 144)));
  EXPECT_TRUE(player_.DisplayRect().isEmpty());
  EXPECT_EQ(player_.Display(), &panel_) << "the panel stays the player's display";

  // A new video opened afterwards draws into the same panel.
  player_.Open();
  player_.Play();
  EXPECT_TRUE(PixelBecomes(176, 144, IsRed));
}

// Opening audio after video leaves no old picture in the panel.
TEST_F(MediaVideoTest, AudioAfterVideoShowsNoPicture) {
  OpenAndPlay("red.mpg");
  ASSERT_TRUE(PixelBecomes(176, 144, IsRed));
  const QString wav = Path("tone.wav");
  media_fixtures::WriteToneWav(wav, 440, 440, 1.0);
  player_.SetFileName(wav);
  player_.Open();
  player_.Play();
  EXPECT_TRUE(player_.DisplayRect().isEmpty());
  Pump(200);
  EXPECT_TRUE(IsBlack(PixelAt(176, 144)));
}

}  // namespace
}  // namespace sonarelle
