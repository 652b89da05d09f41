// The MIDI device services the output engine runs on: device lists, open with a
// completion callback, prepared long-message headers, short and long messages, reset,
// close and error texts. One implementation per MIDI API lives under backends/; the
// tests use a scriptable fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using MidiResult = std::uint32_t;

// Result codes. 0 to 11 and 64 to 71 keep the numbers users may know from other MIDI
// software; a backend may add codes of its own from kBackendErrorBase on and give them
// texts through ErrorText.
inline constexpr MidiResult QM_MMSYSERR_NOERROR = 0;
inline constexpr MidiResult QM_MMSYSERR_ERROR = 1;
inline constexpr MidiResult QM_MMSYSERR_BADDEVICEID = 2;
inline constexpr MidiResult QM_MMSYSERR_NOTENABLED = 3;
inline constexpr MidiResult QM_MMSYSERR_ALLOCATED = 4;
inline constexpr MidiResult QM_MMSYSERR_INVALHANDLE = 5;
inline constexpr MidiResult QM_MMSYSERR_NODRIVER = 6;
inline constexpr MidiResult QM_MMSYSERR_NOMEM = 7;
inline constexpr MidiResult QM_MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MidiResult QM_MMSYSERR_BADERRNUM = 9;
inline constexpr MidiResult QM_MMSYSERR_INVALFLAG = 10;
inline constexpr MidiResult QM_MMSYSERR_INVALPARAM = 11;
inline constexpr MidiResult QM_MIDIERR_UNPREPARED = 64;
inline constexpr MidiResult QM_MIDIERR_STILLPLAYING = 65;
inline constexpr MidiResult QM_MIDIERR_NOMAP = 66;
inline constexpr MidiResult QM_MIDIERR_NOTREADY = 67;
inline constexpr MidiResult QM_MIDIERR_NODEVICE = 68;
inline constexpr MidiResult QM_MIDIERR_INVALIDSETUP = 69;
inline constexpr MidiResult QM_MIDIERR_BADOPENMODE = 70;
inline constexpr MidiResult QM_MIDIERR_DONT_CONTINUE = 71;
inline constexpr MidiResult kBackendErrorBase = 0x1000;
// The destination of an open output went away: its program ended, or the interface was
// unplugged. Every transport reports this one code, so the user reads one text for it.
inline constexpr MidiResult kMidiOutputGone = 0x0F00;

// Device number of the virtual output port ("MIDI mapper" in the original design).
inline constexpr std::uint32_t QM_MIDI_MAPPER = 0xFFFFFFFFu;

// Completion messages delivered to the open callback.
inline constexpr unsigned QM_MOM_OPEN = 967;
inline constexpr unsigned QM_MOM_CLOSE = 968;
inline constexpr unsigned QM_MOM_DONE = 969;
// Ours: the device can deliver nothing more (param1 = the MidiResult saying why).
inline constexpr unsigned QM_MOM_ERROR = 970;

// Header flags.
inline constexpr std::uint32_t QM_MHDR_DONE = 0x1;
inline constexpr std::uint32_t QM_MHDR_PREPARED = 0x2;
inline constexpr std::uint32_t QM_MHDR_INQUEUE = 0x4;

// One long-message buffer. lpData and dwBufferLength describe the bytes to send; the
// device hands the header back through QM_MOM_DONE once it no longer touches them.
struct MidiHeader {
  std::uint8_t* lpData = nullptr;
  std::uint32_t dwBufferLength = 0;
  std::uint32_t dwBytesRecorded = 0;
  std::uintptr_t dwUser = 0;
  std::uint32_t dwFlags = 0;
  MidiHeader* lpNext = nullptr;   // free for the backend while the device holds the header
  std::uintptr_t reserved = 0;    // free for the backend while the device holds the header
};
inline constexpr unsigned kMidiHeaderSize = sizeof(MidiHeader);

// An open output device. Backends derive their own device records from it.
struct MidiOutDevice {
  MidiOutDevice() = default;
  MidiOutDevice(const MidiOutDevice&) = delete;
  MidiOutDevice& operator=(const MidiOutDevice&) = delete;
  virtual ~MidiOutDevice() = default;
};
using HMidiOut = MidiOutDevice*;

// Called with QM_MOM_OPEN, QM_MOM_DONE (param1 = the header, param2 = 0 when its bytes left,
// else the MidiResult that kept them from leaving), QM_MOM_ERROR (param1 = a MidiResult) and
// QM_MOM_CLOSE. It may run on a thread of the backend's or inside LongMsg, Reset or Close on
// the calling thread.
using MidiOutCallback = void (*)(HMidiOut device, unsigned message, std::uintptr_t instance,
                                 std::uintptr_t param1, std::uintptr_t param2);

// Contract every backend keeps:
// - Open either succeeds and stores a device, or fails, stores null and never calls back.
// - LongMsg never blocks; a header it accepted comes back through QM_MOM_DONE exactly once,
//   after the bytes have left for the transport, or when Reset or Close return it. A header
//   whose bytes can no longer leave (the destination or the server went away) comes back as
//   soon as the backend knows, with the failure in param2: nobody waits for it in vain.
// - When the backend learns that the device can deliver nothing more while it holds no
//   header (a destination that went away between two keys), it says so at once with
//   QM_MOM_ERROR, kMidiOutputGone for a destination that is gone, so the next message fails
//   instead of vanishing.
// - Reset returns every header the device holds (each with QM_MOM_DONE) before it returns.
// - Close always ends the device, whatever its result: every held header has come back
//   before it returns, and after it returns no callback runs and no header is touched.
// - Reset and Close are never called while the caller holds a lock that the callback takes
//   on another thread; LongMsg and ShortMsg may be.
class MidiServices {
 public:
  MidiServices() = default;
  MidiServices(const MidiServices&) = delete;
  MidiServices& operator=(const MidiServices&) = delete;
  virtual ~MidiServices() = default;

  virtual unsigned OutDeviceCount() = 0;
  // False when there is no device with that number.
  virtual bool OutDeviceName(unsigned device, std::string& name) = 0;
  // The device as the user sees it in a list and as a chosen output is stored: where
  // several transports may serve the same port, the name followed by its transport, for
  // example "midi-monitor:input (JACK)"; otherwise the name. Numbers as for OutDeviceName.
  virtual bool OutDeviceLabel(unsigned device, std::string& label) { return OutDeviceName(device, label); }
  // Device -1 as a list shows it: a virtual output port of ours where the transports make
  // one; empty where -1 is the system's own default output (the Windows MIDI mapper).
  virtual std::string VirtualOutputLabel() { return "Quillmark virtual port"; }
  // Whether device -1 can be opened right now: a transport that makes the virtual port
  // is there (a sequencer, a running JACK server). Where -1 is the system's own default
  // output, whenever there is a label.
  virtual bool VirtualOutputAvailable() { return !VirtualOutputLabel().empty(); }
  // The device-error text for a key pressed while there is no output at all; empty where
  // the system's own error for the stored number already says so.
  virtual std::string NoOutputsText() {
    return "No MIDI output was found. Start JACK or PipeWire, or connect a MIDI interface, then "
           "choose it in File, Preferences.";
  }
  virtual unsigned InDeviceCount() = 0;
  virtual bool InDeviceName(unsigned device, std::string& name) = 0;

  virtual MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                        std::uintptr_t instance) = 0;
  virtual MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) = 0;
  virtual MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) = 0;
  virtual MidiResult ShortMsg(HMidiOut device, std::uint32_t message) = 0;
  virtual MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) = 0;
  virtual MidiResult Reset(HMidiOut device) = 0;
  virtual MidiResult Close(HMidiOut device) = 0;

  // The user-facing text for a result code; the standard table unless overridden for a
  // backend's own codes.
  virtual std::string ErrorText(MidiResult result);
};

// The output devices' names in device order (the list position is the device number),
// up to the first number without a name.
std::vector<std::string> OutDeviceNames(MidiServices& services);
// The same list with each device's label: what the user chooses from and what is stored.
std::vector<std::string> OutDeviceLabels(MidiServices& services);

// The standard texts for codes 0 to 11 and 64 to 71; an unknown code gets a text that
// says so.
std::string StandardMidiErrorText(MidiResult result);
