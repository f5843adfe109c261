// The ID3v1 tag: written into real MP3 files and read back by GStreamer, the record's bytes,
// removal, and the failures that only set Error.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "EncodeFixtures.h"
#include "encode/MMMP3Encoder.h"
#include "encode/MP3Info.h"
#include "support/Unprivileged.h"

using namespace sonarelle;

namespace {

class MP3InfoTest : public testing::Test {
 protected:
  // A real MP3 of half a second, made by the conversion chain.
  QString MakeMp3(const QString& name) {
    const QString wav = dir_.filePath(name + ".wav");
    QString mp3 = dir_.filePath(name);
    EXPECT_TRUE(WriteFile(wav, MakeToneWav(44100, 2, 0.5, 440)));
    TMMMP3Encoder encoder;
    encoder.SetBitrate(br160);
    encoder.SetCRC(true);
    encoder.SetFileName(mp3);
    EXPECT_TRUE(RunConversion(wav, encoder).stopped);
    return mp3;
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  // A file of `body` followed by a 128-byte record whose bytes `fill` sets.
  QString MakeTagged(const QString& name, const std::function<void(QByteArray&)>& fill) {
    QByteArray record(128, ' ');
    record.replace(0, 3, "TAG");
    fill(record);
    EXPECT_TRUE(WriteFile(Path(name), QByteArray(500, '\x11') + record));
    return Path(name);
  }
  QTemporaryDir dir_;
};

TEST_F(MP3InfoTest, SavedTagIsReadBackByGStreamerAndOverwrittenInPlace) {
  const QString mp3 = MakeMp3("take.mp3");
  const qint64 untagged = QFileInfo(mp3).size();
  ASSERT_GT(untagged, 1000);

  TMP3Info info;
  EXPECT_EQ(info.GenreID(), 12);
  EXPECT_EQ(info.Genre(), "Other");
  int changes = 0;
  info.onChange = [&](TMP3Info* sender) {
    EXPECT_EQ(sender, &info);
    ++changes;
  };
  info.SetFilename(mp3);  // a fresh MP3: no tag yet
  EXPECT_FALSE(info.Valid());
  EXPECT_EQ(info.Error(), "Wrong file format or no ID3 Tag !");
  // The order the main window uses.
  info.SetAlbum("Evening Session");
  info.SetArtist("A singer whose name is much longer than thirty characters");
  info.SetComment("Recorded at home");
  info.SetTitle("Song");
  info.SetYear("20261");
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(info.Artist(), "A singer whose name is much lo");
  EXPECT_EQ(info.Year(), "2026");
  info.Save();
  EXPECT_TRUE(info.Saved());
  EXPECT_EQ(QFileInfo(mp3).size(), untagged + 128);

  const std::map<QString, QString> tags = ReadTagsWithGStreamer(mp3);
  ASSERT_FALSE(tags.empty());
  EXPECT_EQ(tags.at("title"), "Song");
  EXPECT_EQ(tags.at("artist"), "A singer whose name is much lo");
  EXPECT_EQ(tags.at("album"), "Evening Session");
  EXPECT_EQ(tags.at("comment"), "Recorded at home");
  EXPECT_EQ(tags.at("genre"), "Other");
  EXPECT_TRUE(tags.at("datetime").startsWith("2026"));

  // Read back by the component, then overwritten: the size stays.
  TMP3Info again;
  int found = 0;
  again.onChangeFile = [&](TMP3Info*) { ++found; };
  again.SetFilename(mp3);
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(again.Valid());
  EXPECT_EQ(again.Title(), "Song");
  EXPECT_EQ(again.Comment(), "Recorded at home");
  again.SetTitle("Second song");
  again.SetGenreID(114);
  again.Save();
  EXPECT_TRUE(again.Saved());
  EXPECT_EQ(QFileInfo(mp3).size(), untagged + 128);
  EXPECT_EQ(ReadTagsWithGStreamer(mp3).at("title"), "Second song");

  // Removal gives back exactly the untagged file.
  const QByteArray before = ReadFile(mp3).left(untagged);
  again.RemoveID3();
  EXPECT_FALSE(again.Valid());
  EXPECT_EQ(ReadFile(mp3), before);
  again.RemoveID3();
  EXPECT_EQ(again.Error(), "File is already untagged !");
  EXPECT_EQ(QFileInfo(mp3).size(), untagged);
}

TEST_F(MP3InfoTest, RecordBytesAndFieldParsing) {
  // All texts empty, genre 12: "TAG", 124 spaces and the byte 12.
  ASSERT_TRUE(WriteFile(Path("empty.mp3"), QByteArray(300, '\x22')));
  TMP3Info info;
  info.SetFilename(Path("empty.mp3"));
  info.Save();
  const QByteArray record = ReadFile(Path("empty.mp3")).right(128);
  EXPECT_EQ(record, QByteArray("TAG") + QByteArray(124, ' ') + QByteArray(1, '\x0c'));

  // Zero padding, space padding, inner and leading spaces; the genre byte's range.
  const QString tagged = MakeTagged("fields.mp3", [](QByteArray& r) {
    r.replace(3, 30, QByteArray("Zero") + QByteArray(26, '\0'));
    r.replace(33, 9, "  word  x");
    r.replace(63, 8, "  word  ");
    r.replace(93, 4, "99\0 ", 4);
    r.replace(97, 30, QByteArray(30, 'c'));
    r[127] = static_cast<char>(255);
  });
  info.SetFilename(tagged);
  EXPECT_TRUE(info.Valid());
  EXPECT_EQ(info.Title(), "Zero");
  EXPECT_EQ(info.Artist(), "  word  x");
  EXPECT_EQ(info.Album(), "  word");
  EXPECT_EQ(info.Year(), "99");
  EXPECT_EQ(info.Comment(), QString(30, 'c'));
  EXPECT_EQ(info.GenreID(), 12);
  for (const auto& [byte, id, name] :
       {std::tuple{114, 114, "Folklore"}, std::tuple{115, 12, "Other"}, std::tuple{83, 83, "Swing"},
        std::tuple{84, 84, "Bebob"}, std::tuple{67, 67, "Psychedelic"}}) {
    info.SetFilename(
        MakeTagged("genre.mp3", [b = byte](QByteArray& r) { r[127] = static_cast<char>(b); }));
    EXPECT_EQ(info.GenreID(), id);
    EXPECT_EQ(info.Genre(), name);
  }
  info.SetGenreID(200);
  EXPECT_EQ(info.GenreID(), 12);

  // A lower-case marker is no tag: texts cleared, genre back to 12.
  info.SetFilename(MakeTagged("lower.mp3", [](QByteArray& r) {
    r.replace(0, 3, "tag");
    r.replace(3, 5, "Title");
    r[127] = 3;
  }));
  EXPECT_FALSE(info.Valid());
  EXPECT_TRUE(info.Title().isEmpty());
  EXPECT_EQ(info.GenreID(), 12);
  EXPECT_EQ(info.Error(), "Wrong file format or no ID3 Tag !");

  // Characters beyond ASCII are one byte each, so 30 of them still fit the field.
  info.SetFilename(Path("empty.mp3"));
  info.SetTitle(QString(40, QChar(0xE9)));
  info.Save();
  info.SetFilename(Path("empty.mp3"));
  EXPECT_EQ(info.Title(), QString(30, QChar(0xE9)));
  EXPECT_EQ(ReadFile(Path("empty.mp3")).right(128).mid(33, 3), "   ");
}

TEST_F(MP3InfoTest, FailuresSetErrorAndNeverRaise) {
  TMP3Info info;
  QStringList errors;
  info.onError = [&](TMP3Info* sender) { errors << sender->Error(); };
  info.SetTitle("kept");
  info.SetFilename(Path("missing.mp3"));
  EXPECT_FALSE(info.Valid());
  EXPECT_EQ(info.Title(), "kept");
  info.Save();
  EXPECT_FALSE(info.Saved());
  info.RemoveID3();
  EXPECT_EQ(errors, (QStringList{"File doesn`t exist !", "File doesn`t exist or is not valid !",
                                 "File doesn`t exist !"}));
  EXPECT_FALSE(QFile::exists(Path("missing.mp3")));

  // Shorter than a tag: no tag, and a save appends one.
  ASSERT_TRUE(WriteFile(Path("short.mp3"), QByteArray(20, 'x')));
  EXPECT_NO_THROW(info.SetFilename(Path("short.mp3")));
  EXPECT_FALSE(info.Valid());
  EXPECT_EQ(info.Error(), "Wrong file format or no ID3 Tag !");
  ASSERT_TRUE(WriteFile(Path("empty.mp3"), QByteArray()));
  info.SetFilename(Path("empty.mp3"));
  info.Save();
  EXPECT_TRUE(info.Saved());
  EXPECT_EQ(QFileInfo(Path("empty.mp3")).size(), 128);

  // A read-only file of the own user is made writable, saved, and stays writable.
  const QString readOnly = MakeTagged("readonly.mp3", [](QByteArray&) {});
  ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup));
  info.SetFilename(readOnly);
  info.SetTitle("Saved anyway");
  info.Save();
  EXPECT_TRUE(info.Saved());
  EXPECT_TRUE(QFile::permissions(readOnly) & QFile::WriteOwner);
  info.SetFilename(readOnly);
  EXPECT_EQ(info.Title(), "Saved anyway");
}

TEST_F(MP3InfoTest, FileOfAnotherUserIsReportedNotWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a file of another user";
  const QString path = MakeTagged("theirs.mp3", [](QByteArray& r) { r.replace(3, 4, "Mine"); });
  ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ReadOther |
                                                     QFile::ExeOther));
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
  const QByteArray before = ReadFile(path);
  const int result = RunUnprivileged([&] {
    TMP3Info info;
    info.SetFilename(path);
    if (!info.Valid() || info.Title() != "Mine") return 3;
    info.SetTitle("Theirs");
    info.Save();
    if (info.Saved() ||
        info.Error() != QString::fromUtf8("Can\u00B4t write ID3 tag information !")) {
      return 1;
    }
    info.RemoveID3();
    return info.Error() == QString::fromUtf8("Can\u00B4t write ID3 tag information !") ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
