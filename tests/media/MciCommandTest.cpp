// The media-control command strings and the media service's extension table.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "platform/CdDoor.h"
#include "platform/MciCommand.h"
#include "platform/MediaDevice.h"

namespace sonarelle {
namespace {

using K = MciCommandKind;

class MciCommandTest : public ::testing::Test {
 protected:
  void TearDown() override { MciSendString(QStringLiteral("set all audio all on")); }
};

TEST_F(MciCommandTest, TheMainWindowsStringsReadAsTheyStand) {
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio all on")), K::kAudioAllOn);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all  audio all off")), K::kAudioAllOff);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio left on")), K::kAudioLeftOn);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all  audio right on")), K::kAudioRightOn);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set cdaudio door open")), K::kDoorOpen);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set cdaudio door closed")), K::kDoorClosed);
}

// Blanks only separate words: the single-blank spelling of a double-blank string is the
// same command, and so is any other spacing or letter case.
TEST_F(MciCommandTest, BlanksAndCaseDoNotChangeTheCommand) {
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio right on")), K::kAudioRightOn);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio all off")), K::kAudioAllOff);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("  set   all audio  left   on ")), K::kAudioLeftOn);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("SET CDAudio Door Open")), K::kDoorOpen);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio left off")), K::kAudioLeftOff);
  EXPECT_EQ(ParseMciCommand(QStringLiteral("set all audio right off")), K::kAudioRightOff);
}

TEST_F(MciCommandTest, OtherStringsAreIgnoredAndChangeNothing) {
  MciSendString(QStringLiteral("set all audio all on"));
  for (const char* text :
       {"", " ", "set all audio", "set all audio left", "set all audio centre on",
        "set all audio left on now", "setall audio left on", "set all\taudio left on",
        "set mpegvideo audio left on", "set cdaudio door ajar", "set cdaudio door", "play cdaudio",
        "set all audio all offf"}) {
    EXPECT_EQ(ParseMciCommand(QString::fromLatin1(text)), K::kUnknown) << '"' << text << '"';
    EXPECT_FALSE(MciSendString(QString::fromLatin1(text))) << '"' << text << '"';
    EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, true})) << '"' << text << '"';
  }
}

// The main window's channel commands, each a short sequence of strings, and what they
// leave in force for every device.
TEST_F(MciCommandTest, ChannelCommandsComposeIntoTheChannelChoice) {
  EXPECT_TRUE(MciSendString(QStringLiteral("set all  audio all off")));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{false, false}));
  EXPECT_TRUE(MciSendString(QStringLiteral("set all audio left on")));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, false}));

  MciSendString(QStringLiteral("set all  audio all off"));
  MciSendString(QStringLiteral("set all  audio right on"));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{false, true}));

  // Turning one more channel on adds it; "all on" is stereo again.
  MciSendString(QStringLiteral("set all audio left on"));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, true}));
  MciSendString(QStringLiteral("set all audio right off"));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, false}));
  EXPECT_TRUE(MciSendString(QStringLiteral("set all audio all on")));
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, true}));
}

TEST(CdDoorTest, ADeviceThatIsNoDriveRefuses) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_FALSE(SetCdDoor(dir.filePath(QStringLiteral("sr9")), true));
  const QString plain = dir.filePath(QStringLiteral("plain"));
  QFile file(plain);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_FALSE(SetCdDoor(plain, true));
  EXPECT_FALSE(SetCdDoor(plain, false));
}

TEST(CdDoorTest, DoorStringsAreUnderstoodWithoutADrive) {
  const QString drive = FirstOpticalDrive();
  if (!drive.isEmpty())
    GTEST_SKIP() << "this machine has a drive (" << drive.toStdString()
                 << "); its tray is left alone";
  EXPECT_TRUE(MciSendString(QStringLiteral("set cdaudio door open")));
  EXPECT_TRUE(MciSendString(QStringLiteral("set cdaudio door closed")));
}

TEST(MediaDeviceTypeTest, TheExtensionPicksTheDevice) {
  for (const char* name : {"song.mpg", "AVSEQ01.DAT", "clip.mpv", "x/y.z/film.MPEG", "a.cjt"}) {
    EXPECT_EQ(MciDeviceTypeForFile(QString::fromLatin1(name)), QStringLiteral("MPEGVideo")) << name;
  }
  EXPECT_EQ(MciDeviceTypeForFile(QStringLiteral("clip.Avi")), QStringLiteral("AVIVideo"));
  EXPECT_EQ(MciDeviceTypeForFile(QStringLiteral("take.wav")), QStringLiteral("WaveAudio"));
  EXPECT_EQ(MciDeviceTypeForFile(QStringLiteral("SONG.MP3")), QStringLiteral("MPEGAudio"));
  EXPECT_EQ(MciDeviceTypeForFile(QStringLiteral("tune.mid")), QStringLiteral("Sequencer"));
  // Anything else is judged by its content.
  for (const char* name : {"song.ogg", "song.kar", "song", "mpg", "song.mpg.txt", "dir.mpg/x"}) {
    EXPECT_EQ(MciDeviceTypeForFile(QString::fromLatin1(name)), QString()) << name;
  }
}

}  // namespace
}  // namespace sonarelle
