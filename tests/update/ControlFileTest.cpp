#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/IniSnapshot.h"
#include "update/UpdateRules.h"

using sonarelle::TIniSnapshot;
using namespace sonarelle::update_rules;

namespace {

QString Corpus(const char* name) {
  return qEnvironmentVariable("SONARELLE_SOURCE_DIR") + "/tests/update/fuzz/control-file/corpus/" +
         QLatin1String(name);
}

// Marks expanded values, so the test sees which keys went through the expansion.
QString Expand(const QString& text) {
  return text.isEmpty() ? text : "<" + text + ">";
}

TEST(ControlFileTest, ReadsWithTheProfileSemantics) {
  TIniSnapshot control = TIniSnapshot::FromBytes(
      "stray=before any section\n"
      "[Update]\r\n"
      "  NewVersion =  1.2.3.4  \r\n"
      "descr=\"  quoted  \"\n"
      "descr=second\n"
      "empty=\n"
      "long=" +
      QByteArray(3000, 'a') +
      "\n"
      "[update]\n"
      "signature=from the second section\n");
  EXPECT_EQ(control.ReadString("update", "newversion"), "1.2.3.4");
  EXPECT_EQ(control.ReadString("UPDATE", "DESCR"), "  quoted  ");
  EXPECT_EQ(control.ReadString("update", "empty", "x"), "");
  EXPECT_EQ(control.ReadString("update", "long").size(), 2047);
  EXPECT_EQ(control.ReadString("update", "signature", "none"), "none");
  EXPECT_EQ(control.ReadString("", "stray", "none"), "none");
  EXPECT_EQ(control.ReadString("missing", "descr"), "");
}

TEST(ControlFileTest, IntegersAreDecimalOrTheDefault) {
  TIniSnapshot control = TIniSnapshot::FromBytes(
      "[files]\ncount= 12 \nneg=-1\nhex=0x10\ndollar=$10\ntail=12abc\nbig=99999999999\n"
      "empty=\n");
  EXPECT_EQ(control.ReadInteger("files", "count", 0), 12);
  EXPECT_EQ(control.ReadInteger("files", "neg", 0), -1);
  for (const char* key : {"hex", "dollar", "tail", "big", "empty", "missing"}) {
    EXPECT_EQ(control.ReadInteger("files", key, 77), 77) << key;
  }
}

TEST(ControlFileTest, TextIsUtf8OrElseWindows1252) {
  EXPECT_EQ(TIniSnapshot::FromBytes("[u]\nd=Caf\xC3\xA9 \xE2\x82\xAC\n").ReadString("u", "d"),
            QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_EQ(TIniSnapshot::FromFile(Corpus("windows-1252.ini")).ReadString("update", "descr"),
            QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC sp\xC3\xA9"
                              "cial"));
  EXPECT_EQ(TIniSnapshot::FromFile(Corpus("missing.ini")).ReadString("update", "descr", "d"), "d");
}

TEST(ControlFileTest, FileListOfARealControlFile) {
  TIniSnapshot control = TIniSnapshot::FromFile(Corpus("version-update.ini"));
  TFileList files = ReadFileList(control, Expand);
  ASSERT_EQ(files.size(), 2U);
  const TFileDescription& program = files[0];
  EXPECT_EQ(program.URL, "<http://127.0.0.1/sonarelle/sonarelle>");
  EXPECT_EQ(program.LocalVersion, "<{APP}/sonarelle>");
  EXPECT_EQ(program.NewVersion, "1.1.0.0");
  EXPECT_EQ(program.NewSize, 0);
  EXPECT_EQ(program.NewCheckSum, -1);
  EXPECT_EQ(program.TargetDir, "<{APP}>/");
  EXPECT_EQ(program.Sha256.size(), 64);
  EXPECT_EQ(program.Description, "The program");

  // Upper-case section and key names; the url keeps its "\" (it is no local path).
  const TFileDescription& language = files[1];
  EXPECT_EQ(language.URL, "<http://127.0.0.1/sonarelle/language\\english.ini>");
  EXPECT_EQ(language.LocalVersion, "<{APP}/language/english.ini>");
  EXPECT_EQ(language.NewSize, 18422);
  EXPECT_EQ(language.NewCheckSum, 1736712);
  EXPECT_EQ(language.NewDate, "14/03/2004");
  EXPECT_EQ(language.NewTime, "18:30");
  EXPECT_EQ(language.NewCustomVer, "lang-7");
  EXPECT_EQ(language.TargetDir, "<{app}/language>/");
  EXPECT_EQ(language.FileSize, 18422);
  EXPECT_EQ(language.Compressed, 0);
  EXPECT_EQ(language.Sha256, "");

  // A folder that already ends in a separator gets none added.
  TFileList cab = ReadFileList(TIniSnapshot::FromFile(Corpus("date-update.ini")), Expand);
  ASSERT_EQ(cab.size(), 1U);
  EXPECT_EQ(cab[0].TargetDir, "<{TMP}/unpack/>/");
  cab = ReadFileList(TIniSnapshot::FromFile(Corpus("date-update.ini")),
                     [](const QString& t) { return ExpandTokens(t, DefaultExpandToken); });
  EXPECT_EQ(cab[0].TargetDir, QDir::tempPath() + "/./unpack/");
  EXPECT_EQ(cab[0].Compressed, 1);
}

TEST(ControlFileTest, FileCountsBeyondTheFileSectionsPresent) {
  // A gap inside the count stays an (empty) entry, in its place.
  TFileList gap = ReadFileList(TIniSnapshot::FromFile(Corpus("windows-1252.ini")), Expand);
  ASSERT_EQ(gap.size(), 3U);
  EXPECT_EQ(gap[0].NewVersion, "2,0,0,0");
  EXPECT_EQ(gap[1].URL, "");
  EXPECT_EQ(gap[2].URL, "<\\\\share\\data\\readme.txt>");

  // A huge count reads no more than the sections there are.
  TFileList huge = ReadFileList(
      TIniSnapshot::FromBytes("[files]\ncount=2000000000\n[file1]\nurl=a\n[file02]\n[file2x]\n"),
      Expand);
  ASSERT_EQ(huge.size(), 1U);
  EXPECT_EQ(huge[0].URL, "<a>");
  // Nor more than ten thousand, however far the last section is numbered.
  EXPECT_EQ(
      ReadFileList(TIniSnapshot::FromBytes("[files]\ncount=2000000000\n[file20000000]\n"), Expand)
          .size(),
      10000U);
  EXPECT_TRUE(
      ReadFileList(TIniSnapshot::FromBytes("[files]\ncount=-5\n[file1]\n"), Expand).empty());
}

}  // namespace
