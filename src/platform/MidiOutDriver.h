#pragma once

#include <cstdint>
#include <functional>

#include <QString>

#include "platform/MMResult.h"

namespace sonarelle {

// Result codes of the MIDI output driver operations beyond the shared ones.
inline constexpr MMRESULT MIDIERR_UNPREPARED = 64;
inline constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
inline constexpr MMRESULT MIDIERR_NODEVICE = 68;
// No General MIDI SoundFont was found for the built-in synthesizer.
inline constexpr MMRESULT MIDIERR_NOSOUNDFONT = 80;
// The SoundFont was found but could not be loaded.
inline constexpr MMRESULT MIDIERR_BADSOUNDFONT = 81;
// The synthesizer's library cannot be loaded.
inline constexpr MMRESULT MIDIERR_NOSYNTHESIZER = 82;
// Codes from these values on carry a sound server error number, or an ALSA sequencer errno,
// as (code - base).
inline constexpr MMRESULT kMidiOutServerErrorBase = 1000;
inline constexpr MMRESULT kMidiOutSequencerErrorBase = 2000;

// The notifications of an open device: it has become ready to sound (once after each open),
// and a long message is done with its header.
inline constexpr unsigned MM_MOM_OPEN = 0x3C7;
inline constexpr unsigned MM_MOM_DONE = 0x3C9;

// Device -1: the mapper, which plays on the default device (device 0).
inline constexpr int kMidiMapper = -1;

// Technology of a device.
inline constexpr std::uint16_t MOD_MIDIPORT = 1;
inline constexpr std::uint16_t MOD_MAPPER = 5;
inline constexpr std::uint16_t MOD_SWSYNTH = 7;

// Bits of a header's flags word that the driver sets.
inline constexpr std::uint32_t kMidiHdrDone = 0x01;
inline constexpr std::uint32_t kMidiHdrPrepared = 0x02;
inline constexpr std::uint32_t kMidiHdrInQueue = 0x04;

// A device handle. Every open gets a new number, never reused while the process runs.
using MidiOutHandle = std::uintptr_t;

struct MidiOutCaps {
  QString productName;
  std::uint32_t driverVersion = 0;  // major in the high byte of the low word, minor below
  std::uint16_t technology = 0;     // MOD_*
  std::uint16_t voices = 0;         // 0 for a port
  std::uint16_t notes = 0;          // 0 for a port
  std::uint16_t channelMask = 0;    // channels the device plays
  std::uint32_t support = 0;        // optional functions; none are offered
};

// One long message. The memory stays the caller's; the driver reads `data` during the send
// and writes `flags`, always on the caller's thread.
struct MidiOutHeader {
  const std::uint8_t* data = nullptr;
  std::uint32_t bufferLength = 0;
  std::uint32_t flags = 0;  // kMidiHdr* bits
  void* user = nullptr;     // the caller's
};

// Device notifications, on a thread of the driver, never inside a call of the owner's; the
// receiver must only hand them on, never call the driver. None comes after Close has
// returned. MM_MOM_OPEN (no header) comes once after each open, when the device sounds what
// it is sent: at once for a port, after its SoundFont is read for the synthesizer; what was
// sent before it is played, in order, just before it. MM_MOM_DONE comes with the header of a
// long message the device is done with.
using MidiOutNotify =
    std::function<void(unsigned msg, MidiOutHandle handle, MidiOutHeader* header)>;

// The MIDI output operations a device needs. All operations are called on one thread (the
// owner's) and return within a few seconds even when the service does not answer.
class MidiOutDriver {
 public:
  virtual ~MidiOutDriver() = default;

  virtual int GetNumDevs() = 0;
  // Devices 0 .. GetNumDevs()-1, and kMidiMapper.
  virtual MMRESULT GetDevCaps(int deviceId, MidiOutCaps& caps) = 0;
  // Text for a code, or an empty text when the code is not known.
  virtual QString GetErrorText(MMRESULT code) = 0;
  virtual MMRESULT Open(MidiOutHandle* handle, int deviceId, const MidiOutNotify& notify) = 0;
  // Completions still on their way are delivered before Close returns.
  virtual MMRESULT Close(MidiOutHandle handle) = 0;
  // A channel or system message: the status in the low byte, then the two data bytes.
  virtual MMRESULT ShortMsg(MidiOutHandle handle, std::uint32_t message) = 0;
  virtual MMRESULT PrepareHeader(MidiOutHandle handle, MidiOutHeader* header) = 0;
  virtual MMRESULT UnprepareHeader(MidiOutHandle handle, MidiOutHeader* header) = 0;
  // Sends the prepared buffer: one or more complete system-exclusive messages (F0 .. F7).
  virtual MMRESULT LongMsg(MidiOutHandle handle, MidiOutHeader* header) = 0;
};

// The process-wide MIDI output of the system: device 0 is the built-in General MIDI
// synthesizer playing on the sound server named by PULSE_SERVER (or the user's default),
// the further devices are the ALSA sequencer's writable ports.
MidiOutDriver& SystemMidiOutDriver();

}  // namespace sonarelle
