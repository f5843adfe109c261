#pragma once

#include <QString>

namespace sonarelle {

// Puts the regular file `from` in place of `to` with one rename, so that `to` holds either its
// old or its new contents at every moment, also across a kill or a power cut: `from` and its
// folder reach the disk before the rename, the folder of `to` after it. `from` takes the
// mode of the file it replaces (an executable stays executable). Empty text on success, else
// why not; on failure `to` is as it was.
QString RenameOver(const QString& from, const QString& to);

}  // namespace sonarelle
