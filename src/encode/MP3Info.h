#pragma once

#include <cstdint>
#include <functional>

#include <QString>
#include <QStringList>

namespace sonarelle {

class TMP3Info;

// Notification of TMP3Info; the sender is the component.
using TMP3InfoEvent = std::function<void(TMP3Info* Sender)>;

// The 128-byte ID3v1 tag at the end of an MP3 file: read when Filename is assigned, written
// by Save, cut off by RemoveID3. Texts are Latin-1, one byte a character, so the length
// limits below are also byte limits. Failures never raise: they set Error and fire onError.
class TMP3Info {
 public:
  static constexpr int kTagSize = 128;
  static constexpr int kTextLength = 30;
  static constexpr int kYearLength = 4;
  static constexpr std::uint8_t kDefaultGenre = 12;  // "Other"

  TMP3Info();

  QString Filename() const { return filename_; }
  // Stores the name and reads that file's tag.
  void SetFilename(const QString& value);
  // The text setters keep the first 30 (Year: 4) characters and fire onChange.
  QString Artist() const { return artist_; }
  void SetArtist(const QString& value);
  QString Title() const { return title_; }
  void SetTitle(const QString& value);
  QString Album() const { return album_; }
  void SetAlbum(const QString& value);
  QString Year() const { return year_; }
  void SetYear(const QString& value);
  QString Comment() const { return comment_; }
  void SetComment(const QString& value);
  // The genre list's entry at GenreID.
  QString Genre() const { return genres_.at(genreId_); }
  std::uint8_t GenreID() const { return genreId_; }
  // A number beyond the genre list becomes 12; fires onChange.
  void SetGenreID(std::uint8_t value);
  // The last read of Filename found a tag.
  bool Valid() const { return valid_; }
  // The last Save wrote the record.
  bool Saved() const { return saved_; }
  QString Error() const { return error_; }
  const QStringList& Genres() const { return genres_; }

  // Writes the tag into Filename: over the old one when the last read found one, else
  // appended.
  void Save();
  // Cuts the tag off Filename when the last read found one.
  void RemoveID3();

  TMP3InfoEvent onChangeFile;
  TMP3InfoEvent onChange;
  TMP3InfoEvent onError;

 private:
  void Read();
  void Fail(const QString& message);
  void Changed();
  // Lets the owner write a file that carries no write permission; false if it stays
  // read-only.
  bool MakeWritable() const;
  QString CutText(const QString& value, int length) const { return value.left(length); }

  QStringList genres_;
  QString filename_;
  QString artist_;
  QString title_;
  QString album_;
  QString year_;
  QString comment_;
  std::uint8_t genreId_ = kDefaultGenre;
  bool valid_ = false;
  bool saved_ = false;
  QString error_;
};

}  // namespace sonarelle
