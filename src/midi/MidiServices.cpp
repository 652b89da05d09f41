#include "midi/MidiServices.h"

std::string MidiServices::ErrorText(MidiResult result) { return StandardMidiErrorText(result); }

namespace {

std::vector<std::string> OutDeviceTexts(MidiServices& services, bool labels) {
  std::vector<std::string> texts;
  const unsigned count = services.OutDeviceCount();
  for (unsigned device = 0; device < count; ++device) {
    std::string text;
    if (!(labels ? services.OutDeviceLabel(device, text) : services.OutDeviceName(device, text))) break;
    texts.push_back(std::move(text));
  }
  return texts;
}

}  // namespace

std::vector<std::string> OutDeviceNames(MidiServices& services) { return OutDeviceTexts(services, false); }

std::vector<std::string> OutDeviceLabels(MidiServices& services) { return OutDeviceTexts(services, true); }

std::string StandardMidiErrorText(MidiResult result) {
  switch (result) {
    case QM_MMSYSERR_NOERROR: return "The specified command was carried out.";
    case QM_MMSYSERR_ERROR: return "Undefined external error.";
    case QM_MMSYSERR_BADDEVICEID: return "The specified device identifier is out of range.";
    case QM_MMSYSERR_NOTENABLED: return "The driver failed to enable.";
    case QM_MMSYSERR_ALLOCATED: return "The specified resource is already allocated.";
    case QM_MMSYSERR_INVALHANDLE: return "The specified device handle is invalid.";
    case QM_MMSYSERR_NODRIVER: return "There is no driver installed on your system.";
    case QM_MMSYSERR_NOMEM: return "The system is unable to allocate or lock memory.";
    case QM_MMSYSERR_NOTSUPPORTED: return "The function requested is not supported.";
    case QM_MMSYSERR_BADERRNUM: return "An error number was specified that is not defined in the system.";
    case QM_MMSYSERR_INVALFLAG: return "An invalid flag was passed to a system function.";
    case QM_MMSYSERR_INVALPARAM: return "An invalid parameter was passed to a system function.";
    case QM_MIDIERR_UNPREPARED: return "The header was not prepared. Prepare the header, and then try again.";
    case QM_MIDIERR_STILLPLAYING:
      return "Cannot perform this operation while media data is still playing. "
             "Reset the device, or wait until the data is finished playing.";
    case QM_MIDIERR_NOMAP: return "A MIDI map was not found.";
    case QM_MIDIERR_NOTREADY:
      return "The port is transmitting data to the device. "
             "Wait until the data has been transmitted, and then try again.";
    case QM_MIDIERR_NODEVICE: return "The MIDI device named in the setup is not installed on the system.";
    case QM_MIDIERR_INVALIDSETUP: return "The MIDI setup is invalid.";
    case QM_MIDIERR_BADOPENMODE: return "The operation is unsupported in this open mode.";
    case QM_MIDIERR_DONT_CONTINUE: return "The operation was not continued.";
    case kMidiOutputGone: return "The MIDI output is no longer connected.";
    default: return "An error number was specified that is not defined in the system.";
  }
}
