#include "midi/MidiOutput.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/MessageWindow.h"

namespace sonarelle {

// Given to the driver with each open: where its completions go.
struct TMidiCtlInfo {
  MessageWindow* window = nullptr;
};

// One long message on its way: the driver's header and the bytes it points to.
struct TMyMidiHdr {
  MidiOutHeader header;
  std::unique_ptr<std::uint8_t[]> data;
};

namespace {

const char* const kUnknownError = "Specified error number is out of range";

}  // namespace

TMidiOutput::TMidiOutput(MidiOutDriver& driver) : driver_(driver) {
  numDevs_ = std::max(driver_.GetNumDevs(), 0);
  window_ = std::make_unique<MessageWindow>(
      [this](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        WindowMessage(msg, wParam, lParam);
      });
}

TMidiOutput::~TMidiOutput() {
  if (open_) {
    try {
      CloseDevice();
    } catch (const EmidioutputError&) {
      // Nobody is left to tell; the handle is forgotten either way.
    }
  }
  // Completions still posted die with the window; their buffers with pending_.
  window_.reset();
  ctl_.reset();
}

void TMidiOutput::Raise(MMRESULT code) {
  lastResult_ = code;
  const QString text = driver_.GetErrorText(code);
  throw EmidioutputError(text.isEmpty() ? QString::fromUtf8(kUnknownError) : text);
}

void TMidiOutput::SetDeviceID(int id) {
  if (open_) {
    throw EmidioutputError(QStringLiteral("Change to DeviceID while device was open"));
  }
  if (id >= driver_.GetNumDevs()) {
    throw EmidioutputError(QStringLiteral("Invalid device ID"));
  }
  deviceId_ = id;
  MidiOutCaps caps;
  const MMRESULT result = driver_.GetDevCaps(id, caps);
  if (result != MMSYSERR_NOERROR) {
    Raise(result);
  }
  caps_ = caps;
  productName_ = caps.productName;
}

void TMidiOutput::SetProductName(const QString& name) {
  if (open_) {
    throw EmidioutputError(QStringLiteral("Change to ProductName while device was open"));
  }
  const int count = driver_.GetNumDevs();
  for (int id = kMidiMapper; id < count; ++id) {
    MidiOutCaps caps;
    const MMRESULT result = driver_.GetDevCaps(id, caps);
    if (result != MMSYSERR_NOERROR) {
      Raise(result);
    }
    if (caps.productName == name) {
      SetDeviceID(id);
      return;
    }
  }
  throw EmidioutputError(QStringLiteral("MIDI output Device ") + name +
                         QStringLiteral(" not installed"));
}

bool TMidiOutput::OpenDevice() {
  if (open_) {
    return true;  // a second open would lose the first handle
  }
  try {
    if (ctl_ == nullptr) {
      ctl_ = std::make_unique<TMidiCtlInfo>();
      ctl_->window = window_.get();
    }
    TMidiCtlInfo* ctl = ctl_.get();
    // Runs on a driver thread: only hands the notification to the window.
    const MidiOutNotify notify = [ctl](unsigned msg, MidiOutHandle handle, MidiOutHeader* header) {
      if (msg == MM_MOM_OPEN || msg == MM_MOM_DONE) {
        ctl->window->PostMessage(msg, handle, reinterpret_cast<std::intptr_t>(header));
      }
    };
    MidiOutHandle handle = 0;
    lastResult_ = driver_.Open(&handle, deviceId_, notify);
    if (lastResult_ != MMSYSERR_NOERROR) {
      ctl_.reset();
      return false;
    }
    handle_ = handle;
    open_ = true;
    ready_ = false;
    return true;
  } catch (const std::exception&) {
    ctl_.reset();
    return false;
  }
}

bool TMidiOutput::CloseDevice() {
  const bool wasOpen = open_;
  const MidiOutHandle handle = handle_;
  handle_ = 0;
  open_ = false;
  ready_ = false;
  if (!wasOpen) {
    return false;
  }
  lastResult_ = driver_.Close(handle);
  if (lastResult_ != MMSYSERR_NOERROR) {
    Raise(lastResult_);
  }
  return true;
}

void TMidiOutput::SendEvent(const TMyMidiEvent& e) {
  if (!open_) {
    throw EmidioutputError(QStringLiteral("MIDI Output device not open"));
  }
  if (e.SysexData != nullptr) {
    SendLong(e.SysexData.get(), e.SysexSize);
  } else {
    SendShort(e.StatusByte, e.DataByte1, e.DataByte2);
  }
}

void TMidiOutput::SendShort(std::uint8_t s, std::uint8_t d1, std::uint8_t d2) {
  const std::uint32_t message = s | (std::uint32_t{d1} << 8) | (std::uint32_t{d2} << 16);
  lastResult_ = driver_.ShortMsg(handle_, message);
  if (lastResult_ != MMSYSERR_NOERROR) {
    Raise(lastResult_);
  }
}

void TMidiOutput::SendLong(const std::uint8_t* data, int length) {
  const auto size = static_cast<std::uint32_t>(data != nullptr ? std::max(length, 0) : 0);
  auto hdr = std::make_unique<TMyMidiHdr>();
  hdr->data = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) {
    std::memcpy(hdr->data.get(), data, size);
  }
  hdr->header.data = hdr->data.get();
  hdr->header.bufferLength = size;
  hdr->header.user = hdr.get();
  MidiOutHeader* header = &hdr->header;
  lastResult_ = driver_.PrepareHeader(handle_, header);
  if (lastResult_ != MMSYSERR_NOERROR) {
    Raise(lastResult_);
  }
  pending_[header] = std::move(hdr);
  lastResult_ = driver_.LongMsg(handle_, header);
  if (lastResult_ != MMSYSERR_NOERROR) {
    const MMRESULT failed = lastResult_;
    (void)driver_.UnprepareHeader(handle_, header);
    pending_.erase(header);
    Raise(failed);
  }
}

void TMidiOutput::WindowMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (msg == MM_MOM_OPEN) {
    // One of a device closed since is stale: handles are never reused.
    if (!open_ || ready_ || static_cast<MidiOutHandle>(wParam) != handle_) {
      return;
    }
    ready_ = true;
    if (OnReady) {
      OnReady(this);
    }
    return;
  }
  if (msg != MM_MOM_DONE) {
    return;
  }
  // The message carries back one of our own headers; anything else is dropped.
  const auto* key =
      reinterpret_cast<const MidiOutHeader*>(lParam);  // NOLINT(performance-no-int-to-ptr)
  auto found = pending_.find(key);
  if (found == pending_.end()) {
    return;
  }
  std::unique_ptr<TMyMidiHdr> done = std::move(found->second);
  pending_.erase(found);
  // After a close the driver no longer knows the handle; the buffer is freed all the same.
  (void)driver_.UnprepareHeader(static_cast<MidiOutHandle>(wParam), &done->header);
  done.reset();
  if (Onmidioutput) {
    Onmidioutput(this);
  }
}

}  // namespace sonarelle
