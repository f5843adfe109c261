// The karaoke video CD: a folder laid out like a mounted disc stands in for the drive.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "displays/MMLEDLabel.h"
#include "media/MediaPlayer.h"
#include "platform/ProgramFolder.h"
#include "support/ModalBoxWatcher.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

class DiscTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<QTemporaryDir>();
    QDir root(dir_->path());
    ASSERT_TRUE(root.mkpath("disc/VCD") && root.mkpath("disc/MPEGAV"));
    QFile marker(root.filePath("disc/VCD/INFO.VCD"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.write("VIDEO_CD");
    const QString first = root.filePath("disc/MPEGAV/AVSEQ01.DAT");
    ASSERT_EQ(media_fixtures::WriteMpegVideo(first, 352, 288, "red", 1.0, true), "");
    ASSERT_TRUE(QFile::copy(first, root.filePath("disc/MPEGAV/avseq02.dat")));
    ASSERT_TRUE(QFile::copy(first, root.filePath("disc/MPEGAV/AVSEQ03.DAT")));
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    SetProgramFolder(dir_->path());
    windows_ = std::make_unique<TProgramWindows>();
    main_ = windows_->FrmMain.get();
    main_->show();
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder(QString());
  }

  void InsertDisc(const QList<OpticalDrive>& drives) {
    main_->OpticalDriveProvider = [drives] { return drives; };
  }
  QString Disc() const { return dir_->filePath("disc"); }
  QStringList TrackCaptions() const {
    QStringList captions;
    for (QAction* item : main_->FDiscItems) captions << item->text();
    return captions;
  }

  static std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TProgramWindows> windows_;
  TFrmMain* main_ = nullptr;
};

std::unique_ptr<QTemporaryDir> DiscTest::dir_;

TEST_F(DiscTest, PlaysEveryTrackInOrderThenEndsLikeAFile) {
  InsertDisc({{"/dev/sr0", Disc()}});
  main_->Item("N12")->trigger();
  EXPECT_TRUE(main_->FDiscMode);
  EXPECT_EQ(TrackCaptions(), (QStringList{"song0(&0)", "song1(&1)", "song2(&2)"}));
  EXPECT_TRUE(main_->Item("MenuVCD")->isVisible());
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkVideo);
  EXPECT_TRUE(windows_->FrmDisplay->isVisible());

  ASSERT_TRUE(WaitUntil([&] { return main_->FDiscTrack == 1; }, 4000));
  EXPECT_TRUE(main_->Timer1->isActive());
  ASSERT_TRUE(WaitUntil([&] { return main_->FDiscTrack == 2; }, 4000));
  ASSERT_TRUE(WaitUntil([&] { return main_->FPlayState == TPlayState::psEnded; }, 4000));
  EXPECT_EQ(main_->MMLEDLABEL1->Caption(), "00:00:00  00:00:00");
  EXPECT_FALSE(windows_->FrmDisplay->isVisible());
  EXPECT_TRUE(main_->Item("MenuVCD")->isVisible()) << "the track menu stays until Open";
}

TEST_F(DiscTest, APickedTrackPlaysAndAnOpenedFileHidesTheTrackMenu) {
  InsertDisc({{"/dev/sr0", Disc()}});
  main_->Item("N12")->trigger();
  main_->FDiscItems.at(2)->trigger();
  EXPECT_TRUE(main_->MediaPlayer1->FileName().endsWith("AVSEQ03.DAT"));
  EXPECT_EQ(main_->FDiscTrack, 0);

  QTimer::singleShot(50, main_, [this] { main_->OpenDialog1->reject(); });
  main_->Item("N11")->trigger();
  EXPECT_FALSE(main_->FDiscMode);
  EXPECT_FALSE(main_->Item("MenuVCD")->isVisible());
}

TEST_F(DiscTest, NoDriveAnEmptyFirstDriveAndUnplayableTracks) {
  ModalBoxWatcher boxes;
  InsertDisc({});
  main_->Item("N12")->trigger();
  EXPECT_EQ(boxes.Texts(), QStringList{"Do not find VCD disk"});

  // Only the first drive is looked at: the disc in the second is not found.
  InsertDisc({{"/dev/sr0", QString()}, {"/dev/sr1", Disc()}});
  main_->Item("N12")->trigger();
  EXPECT_EQ(boxes.Texts().size(), 1);
  EXPECT_FALSE(main_->Timer1->isActive());
  EXPECT_TRUE(main_->FDiscItems.isEmpty());

  // Eleven tracks that cannot be played: the message, and still the whole menu.
  QDir root(dir_->path());
  ASSERT_TRUE(root.mkpath("bad/vcd") && root.mkpath("bad/mpegav"));
  QFile(root.filePath("bad/vcd/info.vcd")).open(QIODevice::WriteOnly);
  for (int i = 1; i <= 11; ++i) {
    QFile track(root.filePath(QStringLiteral("bad/mpegav/avseq%1.dat").arg(i, 2, 10, QChar('0'))));
    ASSERT_TRUE(track.open(QIODevice::WriteOnly));
    track.write(QByteArray(2048, 'v'));
  }
  InsertDisc({{"/dev/sr0", root.filePath("bad")}});
  main_->Item("N12")->trigger();
  EXPECT_EQ(boxes.Texts().last(), "Do not support the audio format");
  ASSERT_EQ(main_->FDiscItems.size(), 11);
  EXPECT_EQ(main_->FDiscItems.last()->text(), "song10(&10)");
  EXPECT_FALSE(main_->Timer1->isActive());
}

}  // namespace
}  // namespace sonarelle
