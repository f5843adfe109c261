#include "encode/MP3Info.h"

#include <array>
#include <cstring>

#include <QFile>
#include <QFileInfo>

namespace sonarelle {

namespace {

const QString kMissingFile = QStringLiteral("File doesn`t exist !");
const QString kSaveMissingFile = QStringLiteral("File doesn`t exist or is not valid !");
const QString kNoTag = QStringLiteral("Wrong file format or no ID3 Tag !");
const QString kUntagged = QStringLiteral("File is already untagged !");
const QString kCannotWrite = QStringLiteral("Can\u00B4t write ID3 tag information !");
const QString kCannotOpen = QStringLiteral("Could not open file !");

// The 80 standard genres, then the later additions this program has always used.
constexpr const char* kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock",
    // 80 on
    "Folk", "Folk/Rock", "National Folk", "Swing", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore"};
static_assert(std::size(kGenres) == 115);

// Field offsets in the record.
constexpr int kTitleAt = 3;
constexpr int kArtistAt = 33;
constexpr int kAlbumAt = 63;
constexpr int kYearAt = 93;
constexpr int kCommentAt = 97;
constexpr int kGenreAt = 127;

// A field's text: up to its first zero byte, without trailing spaces.
QString FieldText(const char* field, int length) {
  int end = 0;
  while (end < length && field[end] != 0) ++end;
  while (end > 0 && field[end - 1] == ' ') --end;
  return QString::fromLatin1(field, end);
}

void PutField(char* record, int at, const QString& text, int length) {
  const QByteArray bytes = text.toLatin1().left(length);
  std::memcpy(record + at, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

TMP3Info::TMP3Info() {
  for (const char* name : kGenres) genres_.append(QString::fromLatin1(name));
}

void TMP3Info::SetFilename(const QString& value) {
  filename_ = value;
  Read();
}

void TMP3Info::SetArtist(const QString& value) {
  artist_ = CutText(value, kTextLength);
  Changed();
}

void TMP3Info::SetTitle(const QString& value) {
  title_ = CutText(value, kTextLength);
  Changed();
}

void TMP3Info::SetAlbum(const QString& value) {
  album_ = CutText(value, kTextLength);
  Changed();
}

void TMP3Info::SetYear(const QString& value) {
  year_ = CutText(value, kYearLength);
  Changed();
}

void TMP3Info::SetComment(const QString& value) {
  comment_ = CutText(value, kTextLength);
  Changed();
}

void TMP3Info::SetGenreID(std::uint8_t value) {
  genreId_ = value < genres_.size() ? value : kDefaultGenre;
  Changed();
}

void TMP3Info::Changed() {
  if (onChange) onChange(this);
}

void TMP3Info::Fail(const QString& message) {
  error_ = message;
  if (onError) onError(this);
}

void TMP3Info::Read() {
  saved_ = false;
  valid_ = true;
  if (filename_.isEmpty() || !QFileInfo(filename_).isFile()) {
    valid_ = false;
    Fail(kMissingFile);
    return;
  }
  QFile file(filename_);
  if (!file.open(QIODevice::ReadOnly)) {
    // Reported like every other failure rather than raised at the caller.
    valid_ = false;
    Fail(kCannotOpen);
    return;
  }
  std::array<char, kTagSize> record{};
  const qint64 size = file.size();
  // A file shorter than a tag cannot carry one.
  const bool read = size >= kTagSize && file.seek(size - kTagSize) &&
                    file.read(record.data(), kTagSize) == kTagSize;
  file.close();
  if (!read || std::memcmp(record.data(), "TAG", 3) != 0) {
    valid_ = false;
    title_.clear();
    artist_.clear();
    album_.clear();
    comment_.clear();
    year_.clear();
    genreId_ = kDefaultGenre;
    Fail(kNoTag);
    return;
  }
  title_ = FieldText(record.data() + kTitleAt, kTextLength);
  artist_ = FieldText(record.data() + kArtistAt, kTextLength);
  album_ = FieldText(record.data() + kAlbumAt, kTextLength);
  year_ = FieldText(record.data() + kYearAt, kYearLength);
  comment_ = FieldText(record.data() + kCommentAt, kTextLength);
  const auto genre = static_cast<std::uint8_t>(record[kGenreAt]);
  genreId_ = genre < genres_.size() ? genre : kDefaultGenre;
  if (onChangeFile) onChangeFile(this);
}

bool TMP3Info::MakeWritable() const {
  const QFileDevice::Permissions permissions = QFile::permissions(filename_);
  if ((permissions & QFileDevice::WriteOwner) == 0) {
    QFile::setPermissions(filename_, permissions | QFileDevice::WriteOwner);
  }
  return QFileInfo(filename_).isWritable();
}

void TMP3Info::Save() {
  saved_ = true;
  if (filename_.isEmpty() || !QFileInfo(filename_).isFile()) {
    valid_ = false;
    saved_ = false;
    Fail(kSaveMissingFile);
    return;
  }
  std::array<char, kTagSize> record{};
  record.fill(' ');
  std::memcpy(record.data(), "TAG", 3);
  PutField(record.data(), kTitleAt, title_, kTextLength);
  PutField(record.data(), kArtistAt, artist_, kTextLength);
  PutField(record.data(), kAlbumAt, album_, kTextLength);
  PutField(record.data(), kCommentAt, comment_, kTextLength);
  PutField(record.data(), kYearAt, year_, kYearLength);
  record[kGenreAt] = static_cast<char>(genreId_);

  if (!MakeWritable()) {
    saved_ = false;
    Fail(kCannotWrite);
    return;
  }
  QFile file(filename_);
  bool written = file.open(QIODevice::ReadWrite);
  if (written) {
    const qint64 size = file.size();
    const qint64 at = valid_ ? size - kTagSize : size;
    written =
        at >= 0 && file.seek(at) && file.write(record.data(), kTagSize) == kTagSize && file.flush();
    file.close();
    written = written && file.error() == QFileDevice::NoError;
  }
  if (!written) saved_ = false;
}

void TMP3Info::RemoveID3() {
  if (filename_.isEmpty() || !QFileInfo(filename_).isFile()) {
    Fail(kMissingFile);
    return;
  }
  if (!valid_) {
    Fail(kUntagged);
    return;
  }
  if (!MakeWritable()) {
    Fail(kCannotWrite);
    return;
  }
  QFile file(filename_);
  if (!file.open(QIODevice::ReadWrite)) {
    Fail(kCannotOpen);
    return;
  }
  const qint64 size = file.size();
  // The file may have shrunk since the read; never cut what is not a whole tag.
  if (size < kTagSize || !file.resize(size - kTagSize)) {
    file.close();
    Fail(kCannotWrite);
    return;
  }
  file.close();
  valid_ = false;
}

}  // namespace sonarelle
