#pragma once

#include <cstdint>
#include <functional>

#include <QString>

#include "platform/MMResult.h"

namespace sonarelle {

// Result codes of the wave-in driver operations beyond the shared ones.
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
// The device's input went away (unplugged, removed from the server) and none took its place.
inline constexpr MMRESULT WAVERR_DEVICELOST = 35;
// Codes from this value on carry a sound server error number (code - base).
inline constexpr MMRESULT kWaveInServerErrorBase = 1000;

// Notifications of an open device.
inline constexpr unsigned MM_WIM_OPEN = 0x3BE;
inline constexpr unsigned MM_WIM_CLOSE = 0x3BF;
inline constexpr unsigned MM_WIM_DATA = 0x3C0;
// The device failed while open (its source went away, the server died); the notification's
// pointer argument is null and `code` holds the reason.
inline constexpr unsigned MM_WIM_FAILED = 0x3C1;
// The device records from another input since a moment of the take (the old one went away,
// or the default input changed); TakeInputChange tells which and when.
inline constexpr unsigned MM_WIM_MOVED = 0x3C2;

// Bits of a buffer's flags word that the driver sets.
inline constexpr std::uint32_t kWaveInDone = 0x01;
inline constexpr std::uint32_t kWaveInPrepared = 0x02;
inline constexpr std::uint32_t kWaveInInQueue = 0x10;

// Supported-format bits of the capabilities: 11.025, 22.05 and 44.1 kHz groups of four
// (mono 8-bit, stereo 8-bit, mono 16-bit, stereo 16-bit).
inline constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x001;
inline constexpr std::uint32_t WAVE_FORMAT_ALL_STANDARD = 0xFFF;

// A device handle. Every open gets a new number, never reused while the process runs, so a
// notification that names a closed handle is stale and can be dropped.
using WaveInHandle = std::uintptr_t;

struct WaveInCaps {
  QString productName;
  std::uint32_t formats = 0;
};

// A change of the input a device records from.
struct WaveInInputChange {
  QString from;  // descriptions of the inputs, as the server names them
  QString to;
  bool lost = false;       // `from` no longer exists
  std::int64_t frame = 0;  // the first frame recorded from `to`, counted from the start
};

struct WaveInFormat {
  std::uint16_t formatTag = 0;  // 1: PCM
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
};

// One buffer as the driver sees it: the caller's header (`id`), the data it fills and the
// two words it writes back. The memory stays the caller's; the driver only writes it while
// the buffer is queued and hands it back through an MM_WIM_DATA notification.
struct WaveInBuffer {
  void* id = nullptr;
  char* data = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t* bytesRecorded = nullptr;
  std::uint32_t* flags = nullptr;
};

// Device notifications: MM_WIM_OPEN and MM_WIM_CLOSE come on the thread that opens or
// closes; MM_WIM_DATA (`buffer` is the id of a filled buffer), MM_WIM_MOVED and MM_WIM_FAILED come
// on the driver's own thread. The receiver must only hand them on, never call the driver.
using WaveInNotify =
    std::function<void(unsigned msg, WaveInHandle handle, void* buffer, MMRESULT code)>;

// The wave-in operations a capture device needs. All operations are called on one thread
// (the owner's) and return within a few seconds even when the service does not answer.
class WaveInDriver {
 public:
  virtual ~WaveInDriver() = default;

  virtual int GetNumDevs() = 0;
  // Device -1 is the service's default device.
  virtual MMRESULT GetDevCaps(int deviceId, WaveInCaps& caps) = 0;
  // Text for a code, or an empty text when the code is not known.
  virtual QString GetErrorText(MMRESULT code) = 0;
  // With `query` only checks that the device can record `format`; no handle is made.
  virtual MMRESULT Open(WaveInHandle* handle, int deviceId, const WaveInFormat& format,
                        const WaveInNotify& notify, bool query) = 0;
  virtual MMRESULT Close(WaveInHandle handle) = 0;
  virtual MMRESULT PrepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) = 0;
  virtual MMRESULT UnprepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) = 0;
  virtual MMRESULT AddBuffer(WaveInHandle handle, const WaveInBuffer& buffer) = 0;
  virtual MMRESULT Start(WaveInHandle handle) = 0;
  // Stops input; what was captured until then stays with the driver, and the buffer being
  // filled comes back at once if it holds data. While stopped, a buffer queued when the
  // driver still holds audio comes back at once, filled as far as that audio goes.
  virtual MMRESULT Stop(WaveInHandle handle) = 0;
  // Stops input, drops what it still holds and gives back every queued buffer before
  // returning.
  virtual MMRESULT Reset(WaveInHandle handle) = 0;
  // Bytes captured that no buffer has carried back yet: what waits for a buffer and what
  // the buffer being filled holds; 0 for an unknown handle.
  virtual std::uint32_t HeldBytes(WaveInHandle handle) = 0;
  // The oldest input change of the device not told yet (see MM_WIM_MOVED); false when there
  // is none.
  virtual bool TakeInputChange(WaveInHandle /*handle*/, WaveInInputChange& /*change*/) {
    return false;
  }
};

// The driver on the PulseAudio server named by PULSE_SERVER (or the user's default): the
// devices are the server's sources. One instance serves the whole process.
WaveInDriver& PulseWaveInDriver();

}  // namespace sonarelle
