#pragma once

#include <QString>

namespace sonarelle {

// The device file of the first optical drive ("/dev/sr0" ...), or empty when there is none.
QString FirstOpticalDrive();

// Opens (`open`) or closes the tray of the optical drive at `device` through the CD-ROM
// ioctls. Returns false when the device cannot be opened or refuses; never raises.
bool SetCdDoor(const QString& device, bool open);

}  // namespace sonarelle
