#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Exception.h"

class QWidget;

namespace sonarelle {

// An error of the media service; the text is the service's own.
class EMCIDeviceError : public Exception {
 public:
  using Exception::Exception;
};

// Open gave up before the file was read: the device was closed meanwhile, or the application
// is quitting.
class EMCIOpenCalledOff : public EMCIDeviceError {
 public:
  using EMCIDeviceError::EMCIDeviceError;
};

// The text of the error every operation but Open and Close raises on a closed device.
inline constexpr const char* kNoMciDeviceOpen = "No MCI device open";

// The device type the media service picks for a file by its extension: "MPEGVideo" (mpg,
// dat, mpv, mpeg, cjt), "AVIVideo" (avi), "WaveAudio" (wav), "MPEGAudio" (mp3),
// "Sequencer" (mid); empty for any other extension, whose file is then judged by content.
QString MciDeviceTypeForFile(const QString& fileName);

// What the media service reports on its own while a device plays.
enum class MediaNotice { kEndOfMedia, kError };

// The transport state of a media device.
enum class MediaMode { kClosed, kStopped, kPlaying, kPaused };

// One open media device of the media service: a video or audio file played to the sound
// server, its video drawn into a display panel. Every operation runs on the thread that
// created the device (the GUI thread); notices reach that thread as posted messages.
// Times are in milliseconds.
class MediaDevice {
 public:
  MediaDevice();
  ~MediaDevice();

  MediaDevice(const MediaDevice&) = delete;
  MediaDevice& operator=(const MediaDevice&) = delete;

  // How long Open waits for the service by default: a large sound font loads in seconds.
  static constexpr std::chrono::milliseconds kDefaultOpenTimeLimit{20000};

  // Closes what was open, then opens `fileName` and waits until length, position and the
  // natural video size can be read; the device is then stopped at the start. Raises
  // EMCIDeviceError with the service's text when the file is missing, unreadable or cannot
  // be decoded, and with a text of its own when the service has not read the file within
  // the open time limit or the application quits meanwhile. The event loop runs while it
  // waits, user input excepted, and the device counts as closed until it returns.
  void Open(const QString& fileName);
  // Whether Open is waiting for the service.
  bool Opening() const;
  void SetOpenTimeLimit(std::chrono::milliseconds limit);

  // Releases the device; nothing of it runs afterwards, except a pipeline that does not
  // stop within a few seconds, which stops on a thread of its own and is never heard from
  // again. Closing a closed device is harmless; while Open waits, it makes Open give up.
  void Close();

  bool IsOpen() const;
  MediaMode Mode() const;

  // Plays from the current position; at the end of the media, or after playback failed, it
  // starts from the beginning. Raises EMCIDeviceError with the service's text when the media
  // fails again before it plays.
  void Play();
  // Pauses while playing; while paused it plays on from where it paused.
  void Pause();
  // Halts at the current position.
  void Stop();
  // Goes back to the start and waits until the device is there; raises as Play does.
  void Rewind();

  // Length and position; once the media has played to its end the position is the length.
  // After playback failed both keep the values they had when it failed.
  std::int64_t Length() const;
  std::int64_t Position() const;

  // The video's size as decoded; empty for audio.
  QSize NaturalSize() const;

  // The panel the video is drawn into (not owned; may be null). The device draws into a
  // child of the panel placed at the display rectangle.
  void SetDisplay(QWidget* panel);
  QWidget* Display() const;

  // Where in the panel the video is drawn, scaled to fill it. Right after Open it is
  // (0, 0, natural width, natural height); empty while closed.
  QRect DisplayRect() const;
  void SetDisplayRect(const QRect& rect);

  // The text of the error the service reported while playing; empty if none since the
  // device was opened or last started from the beginning.
  QString LastError() const;

  // Called on the device's thread when the media has played to its end or playback failed;
  // after a failure the device is stopped where it failed. The callback may raise.
  void SetNotify(std::function<void(MediaNotice)> notify);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sonarelle
