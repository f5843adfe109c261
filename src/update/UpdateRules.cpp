#include "update/UpdateRules.h"

#include <algorithm>
#include <array>
#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/FileVersion.h"
#include "platform/ProgramFolder.h"

namespace sonarelle::update_rules {

namespace {

// A version part: a decimal number of which only the low 16 bits count.
std::optional<qint32> VersionPart(const QString& text) {
  bool ok = false;
  qint64 value = text.trimmed().toLongLong(&ok, 10);
  if (!ok) return std::nullopt;
  return static_cast<qint32>(value & 0xFFFF);
}

qint32 Combine(qint32 upper, qint32 lower) {
  return static_cast<qint32>((static_cast<quint32>(upper) << 16) | static_cast<quint32>(lower));
}

std::optional<int> Number(const QString& text) {
  bool ok = false;
  int value = text.trimmed().toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return value;
}

std::array<quint32, 256> MakeCrcTable() {
  std::array<quint32, 256> table{};
  for (quint32 n = 0; n < 256; ++n) {
    quint32 c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

// The year a year written with one or two digits stands for: within the 50 years either
// side of now. Longer texts are the year itself.
int FullYear(int year, const QString& text) {
  if (text.trimmed().size() > 2) return year;
  int now = QDate::currentDate().year();
  int candidate = now - now % 100 + year;
  if (candidate > now + 50) candidate -= 100;
  if (candidate < now - 50) candidate += 100;
  return candidate;
}

std::optional<QDate> ReadDate(const QString& text, const QString& format, QChar separator) {
  QStringList parts = text.split(separator);
  if (parts.size() != 3) return std::nullopt;
  // Day, month and year stand in the order their letters first appear in the format.
  QString lower = format.toLower();
  std::array<std::pair<qsizetype, char>, 3> order{{{lower.indexOf(QLatin1Char('d')), 'd'},
                                                   {lower.indexOf(QLatin1Char('m')), 'm'},
                                                   {lower.indexOf(QLatin1Char('y')), 'y'}}};
  if (order[0].first < 0 || order[1].first < 0 || order[2].first < 0) {
    order = {{{0, 'd'}, {1, 'm'}, {2, 'y'}}};
  }
  std::sort(order.begin(), order.end());
  int day = 0, month = 0, year = 0;
  QString yearText;
  for (size_t i = 0; i < order.size(); ++i) {
    const QString& part = parts[static_cast<qsizetype>(i)];
    auto value = Number(part);
    if (!value || *value < 0) return std::nullopt;
    (order[i].second == 'd' ? day : order[i].second == 'm' ? month : year) = *value;
    if (order[i].second == 'y') yearText = part;
  }
  QDate date(FullYear(year, yearText), month, day);
  if (!date.isValid()) return std::nullopt;
  return date;
}

std::optional<QTime> ReadTime(const QString& text, QChar separator) {
  QStringList parts = text.split(separator);
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  std::array<int, 3> hms{0, 0, 0};
  for (qsizetype i = 0; i < parts.size(); ++i) {
    auto value = Number(parts[i]);
    if (!value) return std::nullopt;
    hms[static_cast<size_t>(i)] = *value;
  }
  QTime time(hms[0], hms[1], hms[2]);
  if (!time.isValid()) return std::nullopt;
  return time;
}

}  // namespace

QString TVersion::Text() const {
  auto h = static_cast<quint32>(high);
  auto l = static_cast<quint32>(low);
  return QStringLiteral("%1.%2.%3.%4").arg(h >> 16).arg(h & 0xFFFF).arg(l >> 16).arg(l & 0xFFFF);
}

TVersion ParseVersion(const QString& text) {
  TVersion version;
  QChar separator = text.contains(QLatin1Char(',')) ? QLatin1Char(',') : QLatin1Char('.');
  QStringList parts = text.split(separator);
  if (parts.size() < 2) return version;
  auto a = VersionPart(parts[0]);
  auto b = VersionPart(parts[1]);
  if (!a || !b) return version;
  version.high = Combine(*a, *b);
  if (parts.size() < 4) return version;
  // The fourth part is the whole rest: "1.2.3.4.5" has no full low number.
  auto c = VersionPart(parts[2]);
  auto d = VersionPart(QStringList(parts.begin() + 3, parts.end()).join(separator));
  if (c && d) version.low = Combine(*c, *d);
  return version;
}

QString ExpandTokens(const QString& text,
                     const std::function<QString(const QString&)>& expandToken) {
  QString result = text;
  int replacements = 0;
  qsizetype pos = 0;
  while (replacements < kMaxTokenReplacements) {
    qsizetype open = result.indexOf(QLatin1Char('{'), pos);
    if (open < 0) break;
    qsizetype close = result.indexOf(QLatin1Char('}'), open + 1);
    if (close < 0) break;
    QString value = expandToken(result.mid(open + 1, close - open - 1).toUpper());
    if (value.isEmpty()) {
      pos = close + 1;
    } else {
      result.replace(open, close - open + 1, value);
      pos = open;
      ++replacements;
    }
  }
  return result;
}

QString NormaliseFolder(const QString& folder, QChar separator) {
  QString path = folder;
  if (!path.endsWith(separator)) path += separator;
  if (path.size() > 3 && path[1] == QLatin1Char(':')) {
    path.chop(1);
  } else {
    path += QLatin1Char('.');
  }
  return path;
}

QString DefaultExpandToken(const QString& upperName) {
  QString folder;
  if (upperName == QLatin1String("APP")) {
    folder = QDir::currentPath();
  } else if (upperName == QLatin1String("TMP")) {
    folder = QDir::tempPath();
  } else if (upperName == QLatin1String("WIN")) {
    // Old programs kept their configuration in the Windows folder; ours is beside the program.
    folder = ProgramFolder();
  } else if (upperName == QLatin1String("PF")) {
    // Where programs are installed: the folder that holds the program's own.
    folder = QFileInfo(QDir::cleanPath(ProgramFolder())).path();
  } else {
    return {};
  }
  return NormaliseFolder(folder);
}

QString LocalPath(const QString& path) {
  QString local = path;
  return local.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString FileNameFromURL(const QString& url) {
  QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
  return name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
}

QDateTime ReadDateTime(const QString& date, const QString& time, const QString& dateFormat,
                       QChar dateSep, QChar timeSep) {
  QDate day = ReadDate(date, dateFormat, dateSep).value_or(QDate(1980, 1, 1));
  QTime clock = ReadTime(time, timeSep).value_or(QTime(0, 0));
  return QDateTime(day, clock);
}

qint32 FileChecksum(const QString& path, bool useCrc32) {
  static const std::array<quint32, 256> kCrcTable = MakeCrcTable();
  quint32 c = 0xFFFFFFFFU;
  QFile file(path);
  if (file.open(QIODevice::ReadOnly)) {
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = file.read(block.data(), block.size())) > 0) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(block.constData());
      if (useCrc32) {
        // Adds each step to c, unlike the standard CRC-32, which replaces c with it.
        for (qint64 i = 0; i < got; ++i) c += kCrcTable[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
      } else {
        for (qint64 i = 0; i < got; ++i) c += bytes[i];
      }
    }
  }
  return static_cast<qint32>(useCrc32 ? ~c : c);
}

TIsNewerResult IsNewer(const QString& newVersion, const QString& localFile, qint32 newChecksum,
                       qint64 newSize, TWebUpdateVersionCheck check, bool useCrc32) {
  TIsNewerResult result{false, newVersion, {}};
  bool updateOnly = check == TWebUpdateVersionCheck::vcUpdateOnly;
  // Nothing to compare, or no local file to compare with: always newer.
  bool nothingGiven = newVersion.isEmpty() && newSize == 0 && newChecksum == -1;
  if (nothingGiven || (localFile.isEmpty() && updateOnly)) {
    result.newer = true;
  } else if (newChecksum != -1) {
    result.newer = FileChecksum(localFile, useCrc32) != newChecksum;
  } else if (newSize > 0) {
    QFileInfo info(localFile);
    qint64 localSize = info.isFile() ? info.size() : 0;
    result.newer = localSize > 0 ? localSize != newSize : !updateOnly;
  } else {
    TVersion remote = ParseVersion(newVersion);
    if (!remote.Full()) return result;
    TVersion local;
    bool hasVersion = ReadFileVersion(localFile, &local.high, &local.low);
    if (!hasVersion && updateOnly) return result;
    result.newVersionText = remote.Text();
    // A file without a version record shows no version rather than 65535.65535.65535.65535.
    result.localVersionText = hasVersion ? local.Text() : QString();
    result.newer =
        remote.high > local.high || (remote.high == local.high && remote.low > local.low);
  }
  return result;
}

TFileList ReadFileList(const TIniSnapshot& control,
                       const std::function<QString(const QString&)>& expand) {
  // Only numbers up to the last file section present: a count far beyond the file's own
  // sections would otherwise fill memory with empty entries that can only fail to download.
  int last = 0;
  for (const QString& name : control.Sections()) {
    if (!name.startsWith(QLatin1String("file"))) continue;
    bool ok = false;
    int number = name.mid(4).toInt(&ok, 10);
    if (ok && number > last && name == QLatin1String("file") + QString::number(number)) {
      last = number;
    }
  }
  // And never more than a real update could list: one section numbered in the millions
  // would otherwise still ask for millions of entries.
  constexpr int kMostFiles = 10000;
  const int count = std::min(
      {control.ReadInteger(QStringLiteral("files"), QStringLiteral("count"), 0), last, kMostFiles});

  TFileList files;
  files.reserve(static_cast<size_t>(std::max(count, 0)));
  for (int i = 1; i <= count; ++i) {
    QString section = QLatin1String("file") + QString::number(i);
    auto text = [&](const char* key) {
      return control.ReadString(section, QString::fromLatin1(key));
    };
    auto number = [&](const char* key, int defaultValue) {
      return control.ReadInteger(section, QString::fromLatin1(key), defaultValue);
    };
    TFileDescription file;
    file.URL = expand(text("url"));
    file.LocalVersion = LocalPath(expand(text("localversion")));
    file.NewVersion = text("newversion");
    file.NewSize = number("newsize", 0);
    file.NewCheckSum = number("newchecksum", -1);
    file.NewCustomVer = text("customversion");
    file.NewDate = text("date");
    file.NewTime = text("time");
    file.Description = text("descr");
    file.TargetDir = LocalPath(expand(text("targetdir")));
    if (!file.TargetDir.isEmpty() && !file.TargetDir.endsWith(QLatin1Char('/'))) {
      file.TargetDir += QLatin1Char('/');
    }
    file.Compressed = number("compressed", 0);
    file.FileSize = number("filesize", 0);
    file.Sha256 = text("sha256");
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace sonarelle::update_rules
