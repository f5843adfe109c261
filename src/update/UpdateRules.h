#pragma once

#include <functional>
#include <vector>

#include <QChar>
#include <QDateTime>
#include <QString>

#include "platform/IniSnapshot.h"

// The textual conventions of the update control file and the pure rules the update engine
// decides by. None keeps state, so every function may run on the engine's worker thread.
namespace sonarelle::update_rules {

// A file version as two 32-bit numbers: the first two parts in `high`, the last two in
// `low`, each part 16 bits; -1 while not filled.
struct TVersion {
  qint32 high = -1, low = -1;
  // Both numbers were read.
  bool Full() const { return high != -1 && low != -1; }
  // The four decimal parts joined by ".", as the host sees them.
  QString Text() const;
};

// Reads "1.2.3.4" or "1,2,3,4" (a text holding a comma uses the comma as separator); parts
// that are missing or not numbers leave the numbers -1.
TVersion ParseVersion(const QString& text);

// Replaces each "{NAME}" whose upper-cased NAME `expandToken` resolves to a non-empty text,
// and goes on scanning from the start of the inserted text; unresolved tokens stay as they
// are. At most kMaxTokenReplacements are made, so a folder that itself holds a token text
// cannot loop for ever.
inline constexpr int kMaxTokenReplacements = 64;
QString ExpandTokens(const QString& text,
                     const std::function<QString(const QString&)>& expandToken);

// The folders behind the tokens APP (current folder), TMP (temporary folder), WIN (program
// folder) and PF (the program folder's parent), each through NormaliseFolder; empty for
// any other name.
QString DefaultExpandToken(const QString& upperName);

// A folder in the form tokens insert: without a final separator, so that a following
// "/name" or "\name" gives a usable path: "/tmp" -> "/tmp/.", "C:\WINDOWS\" -> "C:\WINDOWS".
QString NormaliseFolder(const QString& folder, QChar separator = QLatin1Char('/'));

// A control file's path ("\" separators) as a local path.
QString LocalPath(const QString& path);

// The local name of a file fetched from `url`: after the last "/", then after the last "\".
QString FileNameFromURL(const QString& url);

// A release moment in local time. A date that cannot be read counts as 1 January 1980
// 00:00; a time ("hh:nn", optionally ":ss") that cannot be read is ignored. `dateFormat`
// gives the order of day, month and year by its first "d", "m" and "y".
QDateTime ReadDateTime(const QString& date, const QString& time,
                       const QString& dateFormat = QStringLiteral("dd/mm/yyyy"),
                       QChar dateSep = QLatin1Char('/'), QChar timeSep = QLatin1Char(':'));

// The checksum of the file at `path`: the sum of its bytes from -1, or with `useCrc32` the
// CRC-like sum. A missing or unreadable file counts as empty.
qint32 FileChecksum(const QString& path, bool useCrc32);

enum class TWebUpdateVersionCheck { vcUpdateOnly, vcAlways };

struct TIsNewerResult {
  bool newer = false;
  // As given and empty, or both rewritten as four parts when the versions were compared;
  // the local text stays empty when the local file has no version.
  QString newVersionText, localVersionText;
};

// Whether the remote file described by `newVersion`, `newChecksum` (-1: none) and
// `newSize` (0: none) is newer than `localFile`.
TIsNewerResult IsNewer(const QString& newVersion, const QString& localFile, qint32 newChecksum,
                       qint64 newSize, TWebUpdateVersionCheck check, bool useCrc32);

// One file of the control file's file list.
struct TFileDescription {
  QString URL;
  QString LocalVersion;
  QString NewVersion;
  int NewSize = 0;
  int NewCheckSum = -1;
  QString NewCustomVer;
  QString NewDate;
  QString NewTime;
  QString Description;
  QString TargetDir;
  int Compressed = 0;
  int FileSize = 0;
  QString Sha256;  // hex SHA-256 of the file for signed updates; empty when not given
};
using TFileList = std::vector<TFileDescription>;

// Reads the sections file1 .. fileN ([files] count) in number order. `expand` is the
// engine's token expansion, applied to url, localversion and targetdir. Numbers beyond the
// last file section present are not read: they could only give empty entries.
TFileList ReadFileList(const TIniSnapshot& control,
                       const std::function<QString(const QString&)>& expand);

}  // namespace sonarelle::update_rules
