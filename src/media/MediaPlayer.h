#pragma once

#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QWidget;

namespace sonarelle {

class MediaDevice;

// Time formats of the media player; lengths and positions are in milliseconds.
enum TMPTimeFormats { tfMilliseconds };

// What the media player's device is doing.
enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpPaused };

// The media player component (the main window's invisible MediaPlayer1): plays a video or
// audio accompaniment through the media service, its picture in the Display panel. Errors
// are EMCIDeviceError (platform/MediaDevice.h) with the service's text; every operation but
// Open and Close raises "No MCI device open" while nothing is open. GUI thread only.
class TMediaPlayer {
 public:
  TMediaPlayer();
  ~TMediaPlayer();

  TMediaPlayer(const TMediaPlayer&) = delete;
  TMediaPlayer& operator=(const TMediaPlayer&) = delete;

  // The file Open opens.
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& fileName) { fileName_ = fileName; }

  TMPTimeFormats TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TMPTimeFormats format) { timeFormat_ = format; }

  // The panel the video is drawn into (not owned); kept across Close and Open.
  QWidget* Display() const;
  void SetDisplay(QWidget* panel);

  // Where in Display the video is drawn, scaled to fill it; right after Open the video's
  // natural size at (0, 0). Empty, and not settable, while nothing is open.
  QRect DisplayRect() const;
  void SetDisplayRect(const QRect& rect);

  // Closes what was open and opens FileName, stopped at the start. The event loop runs
  // while the service reads the file, user input excepted; a file not read within the time
  // limit is given up with an error saying so.
  void Open();
  // Whether Open is waiting for the service.
  bool Opening() const;
  void SetOpenTimeLimit(std::chrono::milliseconds limit);
  // Plays from the current position; at the end, or after playback failed, it starts from
  // the beginning. Raises the service's error when the media fails again before it plays.
  void Play();
  // Pauses while playing; resumes while paused.
  void Pause();
  // Halts where it is; Rewind then goes back to the start (and raises as Play does).
  void Stop();
  void Rewind();
  // Releases the device; harmless when nothing is open.
  void Close();

  // Length and position in TimeFormat; after the natural end the position is the length,
  // after a playback failure both keep where it failed.
  int Length() const;
  int Position() const;

  TMPModes Mode() const;

  // The text of the service's error that stopped playback, empty if none.
  QString Error() const;

  // Called when the media has played to its end or playback failed (Error then tells why,
  // and the device is stopped where it failed). An error it raises goes to the error box.
  std::function<void(TMediaPlayer* Sender)> OnNotify;

 private:
  std::unique_ptr<MediaDevice> device_;
  QString fileName_;
  TMPTimeFormats timeFormat_ = tfMilliseconds;
};

}  // namespace sonarelle
