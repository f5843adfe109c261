#include <gtest/gtest.h>

#include <climits>

#include <QFile>
#include <QTemporaryDir>

#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"
#include "support/Unprivileged.h"

using namespace sonarelle;
namespace Keys = sonarelle::ConfigKeys;

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_.filePath("config.ini"); }

  int SampleRateFrom(const QByteArray& value) {
    QFile f(path_);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[recorder_setting]\nsamplerate=" + value + "\n");
    f.close();
    return SettingsStore::ReadInteger(path_, Keys::kRecorderSection, Keys::kSampleRate,
                                      Keys::kSampleRateDefault);
  }

  QTemporaryDir dir_;
  QString path_;
};

TEST_F(SettingsStoreTest, IntegersReadAsDecimalOrHexadecimalElseTheDefault) {
  EXPECT_EQ(SampleRateFrom("0x5622"), 22050);
  EXPECT_EQ(SampleRateFrom("0X5622"), 22050);
  EXPECT_EQ(SampleRateFrom("$5622"), 22050);
  EXPECT_EQ(SampleRateFrom("$ff"), 255);
  EXPECT_EQ(SampleRateFrom("-$10"), -16);
  EXPECT_EQ(SampleRateFrom("11025"), 11025);
  EXPECT_EQ(SampleRateFrom("+8000"), 8000);
  EXPECT_EQ(SampleRateFrom("-2147483648"), INT_MIN);
  EXPECT_EQ(SampleRateFrom("2147483647"), INT_MAX);
  EXPECT_EQ(SampleRateFrom("$FFFFFFFF"), -1);

  for (const char* bad : {"abc", "", "0x", "$", "-", "12abc", "1 2", "2147483648", "-2147483649",
                          "$100000000", "99999999999999999999", "$1G", "0x5622h", "5622h"}) {
    EXPECT_EQ(SampleRateFrom(bad), 44100) << "value \"" << bad << "\"";
  }
}

TEST_F(SettingsStoreTest, MissingFileAndKeysGiveEveryDefault) {
  auto readInt = [&](const char* key, int def) {
    return SettingsStore::ReadInteger(path_, Keys::kRecorderSection, key, def);
  };
  EXPECT_EQ(readInt(Keys::kSampleRate, Keys::kSampleRateDefault), 44100);
  EXPECT_EQ(readInt(Keys::kSampleBit, Keys::kSampleBitDefault), 16);
  EXPECT_EQ(readInt(Keys::kChannels, Keys::kChannelsDefault), 2);
  EXPECT_EQ(readInt(Keys::kNumBuffers, Keys::kNumBuffersDefault), 20);
  EXPECT_EQ(readInt(Keys::kBufferSize, Keys::kBufferSizeDefault), 4096);
  EXPECT_EQ(SettingsStore::ReadInteger(path_, Keys::kSkinSection, Keys::kSkin, Keys::kSkinDefault),
            1);
  EXPECT_EQ(SettingsStore::ReadText(path_, Keys::kMp3InfoSection, Keys::kTitle), QString());
  EXPECT_FALSE(QFile::exists(path_)) << "reading must never create the file";
}

TEST_F(SettingsStoreTest, WritesAreSeenByTheNextReadAtOnce) {
  const QString longTitle(300, QLatin1Char('t'));
  SettingsStore::WriteText(path_, Keys::kMp3InfoSection, Keys::kTitle, longTitle);
  SettingsStore::WriteInteger(path_, Keys::kRecorderSection, Keys::kChannels, 5);
  SettingsStore::WriteInteger(path_, Keys::kRecorderSection, Keys::kSampleBit, -12);
  EXPECT_EQ(SettingsStore::ReadText(path_, Keys::kMp3InfoSection, Keys::kTitle), longTitle);
  EXPECT_EQ(SettingsStore::ReadInteger(path_, Keys::kRecorderSection, Keys::kChannels, 2), 5);
  EXPECT_EQ(SettingsStore::ReadInteger(path_, Keys::kRecorderSection, Keys::kSampleBit, 16), -12);
  SettingsStore::WriteInteger(path_, Keys::kRecorderSection, Keys::kChannels, 1);
  EXPECT_EQ(SettingsStore::ReadInteger(path_, Keys::kRecorderSection, Keys::kChannels, 2), 1);
}

TEST_F(SettingsStoreTest, ARefusedWriteRaisesUnableToWriteAndKeepsWhatWasStored) {
  SettingsStore::WriteInteger(path_, Keys::kSkinSection, Keys::kSkin, 3);
  QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadOther | QFileDevice::ExeOther);
  QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::ReadOther);
  const QString expected = QStringLiteral("Unable to write to ") + path_;
  int result = RunUnprivileged([&] {
    try {
      SettingsStore::WriteInteger(path_, Keys::kSkinSection, Keys::kSkin, 6);
    } catch (const ESettingsWriteError& error) {
      return error.Message() == expected ? 0 : 2;
    }
    return 1;
  });
  QFile::setPermissions(dir_.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(result, 0) << "1: no error raised, 2: wrong message";
  EXPECT_EQ(SettingsStore::ReadInteger(path_, Keys::kSkinSection, Keys::kSkin, 1), 3);
}

}  // namespace
