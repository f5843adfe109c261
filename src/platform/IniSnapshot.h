#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace sonarelle {

// An INI file read once (the update control file, the language file): its sections and keys
// with the profile semantics. Reads touch no file and no shared state, so any thread may use
// its own copy.
class TIniSnapshot {
 public:
  // An unreadable file gives an empty snapshot.
  static TIniSnapshot FromFile(const QString& path);
  static TIniSnapshot FromBytes(const QByteArray& bytes);

  // A value with the profile semantics of IniProfile::ReadString (names without case,
  // trimmed, one pair of quotes removed, cut at kMaxValueLength); missing gives
  // `defaultValue`.
  QString ReadString(const QString& section, const QString& key,
                     const QString& defaultValue = {}) const;
  // A decimal integer; missing or unreadable gives `defaultValue`.
  int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
  // The names of the file's sections, case-folded, in no particular order.
  QStringList Sections() const;

 private:
  using TKeys = QHash<QString, QString>;  // case-folded key -> value
  QHash<QString, TKeys> sections_;        // case-folded section -> its keys
};

}  // namespace sonarelle
