#pragma once

#include <QList>
#include <QString>

namespace sonarelle {

// An optical drive: its device file and where its disc is mounted (empty without a disc).
struct OpticalDrive {
  QString device;
  QString mountPoint;
};

// The machine's optical drives in device order (sr0, sr1, ...), with their mount points.
QList<OpticalDrive> OpticalDrives();

// The path below `root` whose components match `relative` ("vcd/info.vcd") without regard
// to case, as discs mounted without long names show them in either case; empty if none.
QString FindPathIgnoringCase(const QString& root, const QString& relative);

}  // namespace sonarelle
