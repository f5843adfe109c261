#pragma once

#include <QStringList>

namespace sonarelle::update_windows {

// The release-notes window: 1 when the user continues, -1 when they cancel.
int ShowWhatsNew(const QString& caption, const QStringList& lines, const QString& okCaption,
                 const QString& cancelCaption);
// The licence window: whether the user chose the accepting choice before closing it.
bool ShowLicense(const QString& caption, const QStringList& lines, const QString& okCaption,
                 const QString& acceptCaption, const QString& notAcceptCaption);

}  // namespace sonarelle::update_windows
