#pragma once

#include <QString>

namespace sonarelle {

// Where config.ini is kept: beside the program when its folder is writable (a build tree, a
// folder of the user's own), else in the user's configuration folder (an installed program).
QString ConfigFilePath();

}  // namespace sonarelle
