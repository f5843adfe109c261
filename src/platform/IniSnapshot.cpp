#include "platform/IniSnapshot.h"

#include <QFile>
#include <QStringDecoder>

#include "platform/IniProfile.h"
#include "platform/IniText.h"

namespace sonarelle {

namespace {

// Windows-1252 at 0x80-0x9F; elsewhere it is Latin-1. Its five unassigned bytes keep their
// own code point, as the system's converter does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// These files are written by hand on many systems: UTF-8 when the bytes are valid UTF-8,
// otherwise the Windows-1252 the older editors saved. The parser reads UTF-8, so the text
// is handed to it as UTF-8.
QByteArray AsUtf8(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(bytes);
  if (!utf8.hasError()) return bytes;
  text.clear();
  text.reserve(bytes.size());
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    text += QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t{b});
  }
  return text.toUtf8();
}

QString Folded(const QString& name) {
  return name.toCaseFolded();
}

}  // namespace

TIniSnapshot TIniSnapshot::FromFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return FromBytes(file.readAll());
}

TIniSnapshot TIniSnapshot::FromBytes(const QByteArray& bytes) {
  TIniSnapshot snapshot;
  // The first section of a name and the first key of a name in it win; keys before the
  // first header and in later sections of a name already seen are not read.
  TKeys* current = nullptr;
  for (const IniText::TLine& line : IniText::SplitLines(AsUtf8(bytes)).lines) {
    if (auto section = IniText::SectionName(line.text)) {
      QString name = Folded(*section);
      current = snapshot.sections_.contains(name) ? nullptr : &snapshot.sections_[name];
    } else if (auto key = IniText::KeyName(line.text); key && current) {
      QString name = Folded(*key);
      if (!current->contains(name)) current->insert(name, IniText::ValueOf(line.text));
    }
  }
  return snapshot;
}

QString TIniSnapshot::ReadString(const QString& section, const QString& key,
                                 const QString& defaultValue) const {
  QString result = defaultValue;
  auto keys = sections_.constFind(Folded(section));
  if (keys != sections_.cend()) {
    auto value = keys->constFind(Folded(key));
    if (value != keys->cend()) result = *value;
  }
  return result.left(IniProfile::kMaxValueLength);
}

int TIniSnapshot::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  QString text = ReadString(section, key).trimmed();
  // Decimal only: toInt with base 10 refuses "0x10", "$10", "12abc" and values out of range.
  bool ok = false;
  int value = text.toInt(&ok, 10);
  return ok ? value : defaultValue;
}

QStringList TIniSnapshot::Sections() const {
  return sections_.keys();
}

}  // namespace sonarelle
