#pragma once

#include <QDateTime>
#include <QString>

namespace sonarelle {

enum class TLastURLRoot { lurLOCALUSER, lurLOCALMACHINE };

// Where the engine remembers the control file's URL and the date of the last update.
struct TLastURLEntry {
  bool Save = false;
  QString Key;
  QString Section;
  TLastURLRoot RegRoot = TLastURLRoot::lurLOCALUSER;
};

// The registry memory of updates: an INI file in the user's configuration folder, or the
// system's for the local-machine root.
namespace update_registry {

// The remembered control file URL; empty when none is kept or the entry is incomplete.
QString ReadLastURL(const TLastURLEntry& entry);
// Remembers `url` when the entry asks to save and names its place.
void WriteLastURL(const TLastURLEntry& entry, const QString& url);
// Whether the entry keeps a last-update date at all (it names its place).
bool KeepsLastDate(const TLastURLEntry& entry);
// The stored last-update moment, or an invalid one when none can be read.
QDateTime ReadLastDate(const TLastURLEntry& entry);
// Stores `moment` as the last update, in the user's locale formats, when the entry saves.
void WriteLastDate(const TLastURLEntry& entry, const QDateTime& moment);

}  // namespace update_registry
}  // namespace sonarelle
