#pragma once

#include <QString>

namespace sonarelle {

// The folder takes are recorded into, with its trailing separator: the user's state folder
// ($XDG_STATE_HOME/sonarelle/takes), made when missing, since the system empties its
// temporary folder at boot and a take must outlive a power cut; the temporary folder only
// when the state folder cannot be made.
QString TakeFolder();

}  // namespace sonarelle
