#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/IniProfile.h"
#include "support/Unprivileged.h"

using sonarelle::IniProfile::ReadString;
using sonarelle::IniProfile::WriteString;

namespace {

class IniProfileTest : public ::testing::Test {
 protected:
  // Open to all, so that a test dropped to another user reaches the files.
  void SetUp() override {
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
  }

  QString Path(const char* name = "config.ini") const {
    return dir_.filePath(QString::fromLatin1(name));
  }

  void Put(const QByteArray& bytes, const char* name = "config.ini") const {
    QFile f(Path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  QByteArray Get(const char* name = "config.ini") const {
    QFile f(Path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  QString Read(const char* section, const char* key, const char* def = "<default>") const {
    return ReadString(Path(), QString::fromUtf8(section), QString::fromUtf8(key),
                      QString::fromUtf8(def));
  }

  QTemporaryDir dir_;
};

TEST_F(IniProfileTest, ReadsWithoutRegardToCaseTrimmedAndUnquoted) {
  Put("; settings\n"
      "[Recorder_Setting]\n"
      "  SampleRate =  22050  \n"
      "title=\"  quoted  \"\n"
      "single='x'\n"
      "half=\"open\n"
      "empty=\n"
      "[other]\n"
      "samplerate=8000\n");
  EXPECT_EQ(Read("recorder_setting", "samplerate"), "22050");
  EXPECT_EQ(Read("RECORDER_SETTING", "SAMPLERATE"), "22050");
  EXPECT_EQ(Read("recorder_setting", "title"), "  quoted  ");
  EXPECT_EQ(Read("recorder_setting", "single"), "x");
  EXPECT_EQ(Read("recorder_setting", "half"), "\"open");
  EXPECT_EQ(Read("recorder_setting", "empty"), "");  // present but empty is not the default
  EXPECT_EQ(Read("other", "samplerate"), "8000");
  EXPECT_EQ(Read("recorder_setting", "missing"), "<default>");
  EXPECT_EQ(Read("missing", "samplerate"), "<default>");
}

TEST_F(IniProfileTest, MissingUnreadableAndGarbageFilesGiveDefaults) {
  EXPECT_EQ(Read("skin", "skin"), "<default>");  // no file at all

  QByteArray garbage("\x00\x01\xff\xfe[[[\n=\n==x\n[skin\nskin\n\x7f]]]=[\n;skin=3\n", 38);
  Put(garbage);
  EXPECT_EQ(Read("skin", "skin"), "<default>");
  EXPECT_EQ(Read("skin", ";skin"), "<default>");  // comment lines are not keys

  // A section header without its bracket still opens the section.
  Put("\xEF\xBB\xBF[skin\r\nskin=4\r\n");
  EXPECT_EQ(Read("skin", "skin"), "4");

  Put("[skin]\nskin=2\n");
  QFile::setPermissions(Path(), QFileDevice::Permissions());
  int result = RunUnprivileged([&] { return Read("skin", "skin") == "<default>" ? 0 : 1; });
  QFile::setPermissions(Path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  EXPECT_EQ(result, 0) << "an unreadable file must read as missing";
}

TEST_F(IniProfileTest, ValuesAreCutAt2047CharactersAndTheFirstSectionWins) {
  QByteArray huge(100000, 'a');
  Put("[mp3_info]\ntitle=" + huge + "\n[mp3_info]\nartist=second\n");
  QString title = Read("mp3_info", "title");
  EXPECT_EQ(title.size(), 2047);
  EXPECT_EQ(title, QString(2047, QLatin1Char('a')));
  EXPECT_EQ(Read("mp3_info", "artist"), "<default>");
  EXPECT_EQ(ReadString(Path(), "x", "y", QString(3000, QLatin1Char('d'))).size(), 2047);
}

TEST_F(IniProfileTest, WriteCreatesFileAndSectionThenReplacesInPlace) {
  ASSERT_TRUE(WriteString(Path(), "skin", "skin", "5"));
  EXPECT_EQ(Get(), "[skin]\nskin=5\n");
  ASSERT_TRUE(WriteString(Path(), "SKIN", "Skin", "7"));
  EXPECT_EQ(Get(), "[skin]\nSkin=7\n");
  ASSERT_TRUE(WriteString(Path(), "mp3_info", "title", "Song"));
  EXPECT_EQ(Get(), "[skin]\nSkin=7\n[mp3_info]\ntitle=Song\n");
}

TEST_F(IniProfileTest, WriteKeepsEveryOtherLineByteForByte) {
  QByteArray before =
      "; keep me\r\n"
      "[recorder_setting]\r\n"
      "  samplerate = 44100   ; odd spacing\r\n"
      "junk line without equals\r\n"
      "channels=2\r\n"
      "\r\n"
      "[mp3_info]\r\n"
      "title=x\r\n"
      "[proxy]\r\n"
      "isProxy=0";  // no line end at the very end
  Put(before);
  ASSERT_TRUE(WriteString(Path(), "recorder_setting", "channels", "1"));
  ASSERT_TRUE(WriteString(Path(), "recorder_setting", "samplebit", "8"));
  ASSERT_TRUE(WriteString(Path(), "proxy", "proxy", "host:3128"));
  EXPECT_EQ(Get(),
            "; keep me\r\n"
            "[recorder_setting]\r\n"
            "  samplerate = 44100   ; odd spacing\r\n"
            "junk line without equals\r\n"
            "channels=1\r\n"
            "samplebit=8\r\n"
            "\r\n"
            "[mp3_info]\r\n"
            "title=x\r\n"
            "[proxy]\r\n"
            "isProxy=0\r\n"
            "proxy=host:3128\r\n");
}

TEST_F(IniProfileTest, LineBreaksInAValueCannotForgeOtherKeys) {
  ASSERT_TRUE(WriteString(Path(), "mp3_info", "title", "a\n[skin]\nskin=9\r\n"));
  EXPECT_EQ(Read("skin", "skin"), "<default>");
  EXPECT_EQ(Read("mp3_info", "title"), "a [skin] skin=9");
}

TEST_F(IniProfileTest, RefusedWriteReportsFailureAndKeepsTheOldFile) {
  Put("[skin]\nskin=3\n");
  QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadOther | QFileDevice::ExeOther);
  QFile::setPermissions(Path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadOther | QFileDevice::WriteOther);
  int result = RunUnprivileged([&] { return WriteString(Path(), "skin", "skin", "6") ? 1 : 0; });
  QFile::setPermissions(dir_.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(result, 0) << "a write into a read-only folder must fail";
  EXPECT_EQ(Get(), "[skin]\nskin=3\n");
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
      << "no temporary file may be left behind";
}

}  // namespace
