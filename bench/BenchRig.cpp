#include "BenchRig.h"

#include <QProcess>

namespace {

bool Rig(const char* action, const QString& dir) {
  QProcess rig;
  rig.setProcessChannelMode(QProcess::ForwardedChannels);
  rig.start(QStringLiteral(SONARELLE_SOURCE_DIR "/scripts/sound-rig.sh"),
            {QString::fromUtf8(action), dir});
  return rig.waitForFinished(30000) && rig.exitCode() == 0;
}

}  // namespace

BenchRig::BenchRig() : started_(Rig("start", FilePath(QStringLiteral("rig")))) {}

BenchRig::~BenchRig() {
  if (started_) Rig("stop", FilePath(QStringLiteral("rig")));
}

QString BenchRig::Server() const {
  return QStringLiteral("unix:") + FilePath(QStringLiteral("rig")) + QStringLiteral("/native");
}
