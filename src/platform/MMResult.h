#pragma once

namespace sonarelle {

// Result codes the driver tables share; 0 is success. Each table adds codes of its own.
using MMRESULT = unsigned;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

// The text of a shared code whose meaning does not depend on the device; null for the others.
inline const char* CommonResultText(MMRESULT code) {
  switch (code) {
    case MMSYSERR_NOERROR:
      return "The command completed successfully.";
    case MMSYSERR_ERROR:
      return "An unspecified error occurred.";
    case MMSYSERR_INVALHANDLE:
      return "The device handle is not valid.";
    case MMSYSERR_NOMEM:
      return "Not enough memory.";
    case MMSYSERR_INVALPARAM:
      return "An invalid parameter was passed.";
    default:
      return nullptr;
  }
}

}  // namespace sonarelle
