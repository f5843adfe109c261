#pragma once

#include <QString>

namespace sonarelle {

// The program folder, with its trailing separator: the executable's folder unless another
// one was set (tests and portable installs point it elsewhere).
QString ProgramFolder();

// Makes `folder` the program folder; an empty text returns to the executable's folder.
void SetProgramFolder(const QString& folder);

}  // namespace sonarelle
