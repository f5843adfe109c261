#pragma once

#include <functional>

#include <QString>

namespace sonarelle {

class TMP3Info;

// Writes the ID3v1 tag of the "mp3_info" section of `configFile` into `mp3File` with `info`
// (whose genre stays as set), then clears its file name. The empty text on success, else
// why the tag could not be written.
QString SaveTagFromSettings(TMP3Info& info, const QString& mp3File, const QString& configFile);

// Converts a WAVE file into a tagged MP3 file the way the main window saves a take: the
// chain reader -> pump -> encoder at 160 kbit/s with CRC, then an ID3v1 tag (genre 12)
// filled from the "mp3_info" section of a config.ini. Runs the event loop of the calling
// (main) thread until the conversion ends.
class WavToMp3 {
 public:
  // Percent of the input read so far, from the main thread, at most every 250 ms and once
  // with 100 at the end.
  std::function<void(int percent)> OnProgress;

  // The empty text on success, else the message of what failed.
  QString Run(const QString& wavFile, const QString& mp3File, const QString& configFile);
};

}  // namespace sonarelle
