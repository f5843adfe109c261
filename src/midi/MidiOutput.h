#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include <QString>

#include "platform/Exception.h"
#include "platform/MidiOutDriver.h"

namespace sonarelle {

class MessageWindow;
struct TMidiCtlInfo;
struct TMyMidiHdr;

// Every error of a MIDI output device.
class EmidioutputError : public Exception {
 public:
  using Exception::Exception;
};

// One message for SendEvent: a short message, or system-exclusive bytes when SysexData is set.
struct TMyMidiEvent {
  std::uint8_t StatusByte = 0, DataByte1 = 0, DataByte2 = 0;
  std::uint32_t Timestamp = 0;  // not used for sending
  std::uint16_t SysexSize = 0;
  std::unique_ptr<std::uint8_t[]> SysexData;  // owned; null for short messages
};

// A MIDI output device of the system, chosen by id or name while closed. All operations,
// and Onmidioutput, belong to the thread that created it.
class TMidiOutput {
 public:
  // `driver` is the MIDI output service in use; it must outlive the device.
  explicit TMidiOutput(MidiOutDriver& driver = SystemMidiOutDriver());
  virtual ~TMidiOutput();
  TMidiOutput(const TMidiOutput&) = delete;
  TMidiOutput& operator=(const TMidiOutput&) = delete;

  QString ProductName() const { return productName_; }
  // Selects the device of that exact name, trying the mapper first.
  void SetProductName(const QString& name);
  int DeviceID() const { return deviceId_; }
  // Selects a device (-1 the mapper) and reads its capabilities.
  void SetDeviceID(int id);
  // Devices counted at construction.
  int NumDevs() const { return numDevs_; }
  bool IsOpen() const { return open_; }
  // Open and sounding what it is sent at once: the synthesizer is not until its SoundFont is
  // read, and plays what it was sent before only then.
  bool Ready() const { return open_ && ready_; }
  // The driver's result of the last open, close or send.
  MMRESULT LastResult() const { return lastResult_; }

  // Capabilities of the selected device, as read when DeviceID was last set.
  std::uint32_t DriverVersion() const { return caps_.driverVersion; }
  std::uint16_t Technology() const { return caps_.technology; }
  std::uint16_t Voices() const { return caps_.voices; }
  std::uint16_t Notes() const { return caps_.notes; }
  std::uint16_t ChannelMask() const { return caps_.channelMask; }
  std::uint32_t Support() const { return caps_.support; }

  // Called when the device is done with a long message, on the owner's thread.
  std::function<void(TMidiOutput* Sender)> Onmidioutput;
  // Called once the open device has become Ready, on the owner's thread.
  std::function<void(TMidiOutput* Sender)> OnReady;

  // Never raises: false when the device cannot be opened (missing, in use, no server).
  virtual bool OpenDevice();
  // True when it was open.
  virtual bool CloseDevice();
  virtual void SendEvent(const TMyMidiEvent& e);
  virtual void SendShort(std::uint8_t s, std::uint8_t d1, std::uint8_t d2);
  // Sends system-exclusive bytes (F0 .. F7); Onmidioutput follows once the device is done.
  virtual void SendLong(const std::uint8_t* data, int length);

 private:
  [[noreturn]] void Raise(MMRESULT code);
  void WindowMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

  MidiOutDriver& driver_;
  std::unique_ptr<MessageWindow> window_;
  std::unique_ptr<TMidiCtlInfo> ctl_;
  // Long messages the device has not reported done yet, by their header.
  std::map<const MidiOutHeader*, std::unique_ptr<TMyMidiHdr>> pending_;
  QString productName_;
  int deviceId_ = 0;
  int numDevs_ = 0;
  MidiOutCaps caps_;
  MidiOutHandle handle_ = 0;
  bool open_ = false;
  bool ready_ = false;
  MMRESULT lastResult_ = MMSYSERR_NOERROR;
};

}  // namespace sonarelle
