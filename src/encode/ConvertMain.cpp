// sonarelle-convert IN.wav OUT.mp3 [--config FILE]: converts a WAVE file into a tagged MP3
// file the way the program saves a take.
#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "encode/WavToMp3.h"
#include "settings/ConfigFile.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: sonarelle-convert IN.wav OUT.mp3 [--config FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments().mid(1);
  QString config = sonarelle::ConfigFilePath();
  const qsizetype option = args.indexOf("--config");
  if (option >= 0) {
    if (option + 1 >= args.size()) return Usage();
    config = args.at(option + 1);
    args.remove(option, 2);
  }
  if (args.size() != 2) return Usage();

  sonarelle::WavToMp3 conversion;
  conversion.OnProgress = [](int percent) {
    std::fprintf(stdout, "\rConverting: %3d%%", percent);
    std::fflush(stdout);
  };
  const QString error = conversion.Run(args.at(0), args.at(1), config);
  std::fprintf(stdout, "\n");
  if (!error.isEmpty()) {
    std::fprintf(stderr, "sonarelle-convert: %s\n", error.toLocal8Bit().constData());
    return 1;
  }
  return 0;
}
