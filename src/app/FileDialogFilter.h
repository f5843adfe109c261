#pragma once

#include <QString>
#include <QStringList>

namespace sonarelle {

// Turns a filter of "description|patterns|description|patterns..." pairs (patterns joined
// by ";") into file-dialog name filters "description (pattern pattern ...)", in order.
QStringList NameFiltersFromPairs(const QString& pairs);

}  // namespace sonarelle
