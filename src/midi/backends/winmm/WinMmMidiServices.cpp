#include "midi/backends/winmm/WinMmMidiServices.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "desktop/WideText_win.h"
#include "midi/backends/winmm/WinMmApi.h"

namespace {

// An open device. The system's callback reaches it through the instance word, so it
// must outlive every callback: Close deletes it only once the system has handed every
// buffer back and the device is closed.
struct WinMmDevice final : MidiOutDevice {
  HMIDIOUT handle = nullptr;
  MidiOutCallback callback = nullptr;
  std::uintptr_t instance = 0;

  // The system's header for each prepared header of ours; only the caller's thread
  // touches the map.
  std::unordered_map<MidiHeader*, std::unique_ptr<MIDIHDR>> prepared;

  // Guards the counts and ended against the system's callback thread. The lock is never
  // held while the engine's callback runs: the engine calls LongMsg under its own lock,
  // which that callback takes too.
  std::mutex mutex;
  std::condition_variable returned;
  unsigned held = 0;        // buffers the system holds
  unsigned delivering = 0;  // callbacks into the engine under way
  bool ended = false;       // Close is done with the device: callbacks go nowhere
};

WinMmDevice* Device(HMidiOut device) { return static_cast<WinMmDevice*>(device); }

// A delivery to the engine starts only while the device has not ended, and Close waits
// for the deliveries under way.
bool BeginDelivery(WinMmDevice& device) {
  std::lock_guard<std::mutex> lock(device.mutex);
  if (device.ended) return false;
  ++device.delivering;
  return true;
}

void EndDelivery(WinMmDevice& device, bool bufferBack) {
  std::lock_guard<std::mutex> lock(device.mutex);
  --device.delivering;
  if (bufferBack && device.held > 0) --device.held;
  device.returned.notify_all();
}

// The system's callback, on a thread of the system's or inside midiOutLongMsg, midiOutReset
// or midiOutClose. It may call no multimedia function; it updates our header and passes
// the message on.
void CALLBACK OutputCallback(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR) {
  auto* device = reinterpret_cast<WinMmDevice*>(instance);
  if (message == MOM_DONE) {
    auto* system = reinterpret_cast<MIDIHDR*>(param1);
    auto* header = reinterpret_cast<MidiHeader*>(system->dwUser);
    if (!BeginDelivery(*device)) return;
    header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
    device->callback(device, QM_MOM_DONE, device->instance, reinterpret_cast<std::uintptr_t>(header), 0);
    EndDelivery(*device, true);
  } else if (message == MOM_CLOSE) {
    if (!BeginDelivery(*device)) return;
    device->callback(device, QM_MOM_CLOSE, device->instance, 0, 0);
    EndDelivery(*device, false);
  }
  // MOM_OPEN arrives while midiOutOpen runs, before the caller has a device.
}

// A device's name from its capabilities, in UTF-8.
template <typename Caps, typename GetCaps>
bool DeviceName(GetCaps getCaps, unsigned device, std::string& name) {
  Caps caps{};
  if (getCaps(device, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
  name = WideToUtf8(std::wstring_view(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN)));
  return true;
}

// Waits until the system has handed every buffer back; false when the bound ran out.
bool WaitForBuffers(WinMmDevice& device, std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(device.mutex);
  return device.returned.wait_for(lock, bound, [&device] { return device.held == 0; });
}

}  // namespace

const WinMmApi& SystemWinMmApi() {
  static constexpr WinMmApi kSystem = {
      midiOutGetNumDevs,  midiOutGetDevCapsW,     midiInGetNumDevs,       midiInGetDevCapsW,
      midiOutOpen,        midiOutPrepareHeader,   midiOutUnprepareHeader, midiOutShortMsg,
      midiOutLongMsg,     midiOutReset,           midiOutClose,           midiOutGetErrorTextW,
  };
  return kSystem;
}

WinMmMidiServices::WinMmMidiServices() : WinMmMidiServices(SystemWinMmApi(), kReturnBound) {}

WinMmMidiServices::WinMmMidiServices(const WinMmApi& api, std::chrono::milliseconds returnBound)
    : m_api(api), m_returnBound(returnBound) {}

unsigned WinMmMidiServices::OutDeviceCount() { return m_api.outGetNumDevs(); }

bool WinMmMidiServices::OutDeviceName(unsigned device, std::string& name) {
  return DeviceName<MIDIOUTCAPSW>(m_api.outGetDevCaps, device, name);
}

unsigned WinMmMidiServices::InDeviceCount() { return m_api.inGetNumDevs(); }

bool WinMmMidiServices::InDeviceName(unsigned device, std::string& name) {
  return DeviceName<MIDIINCAPSW>(m_api.inGetDevCaps, device, name);
}

MidiResult WinMmMidiServices::Open(HMidiOut* device, std::uint32_t deviceId,
                                   MidiOutCallback callback, std::uintptr_t instance) {
  if (device == nullptr) return QM_MMSYSERR_INVALPARAM;
  *device = nullptr;
  if (callback == nullptr) return QM_MMSYSERR_INVALPARAM;
  auto record = std::make_unique<WinMmDevice>();
  record->callback = callback;
  record->instance = instance;
  const MMRESULT result =
      m_api.outOpen(&record->handle, deviceId, reinterpret_cast<DWORD_PTR>(&OutputCallback),
                  reinterpret_cast<DWORD_PTR>(record.get()), CALLBACK_FUNCTION);
  if (result != MMSYSERR_NOERROR) return result;
  *device = record.release();
  return QM_MMSYSERR_NOERROR;
}

MidiResult WinMmMidiServices::PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < kMidiHeaderSize || header->lpData == nullptr) {
    return QM_MMSYSERR_INVALPARAM;
  }
  WinMmDevice& record = *Device(device);
  if (record.prepared.count(header) != 0) return QM_MMSYSERR_NOERROR;
  auto system = std::make_unique<MIDIHDR>();
  system->lpData = reinterpret_cast<LPSTR>(header->lpData);
  system->dwBufferLength = header->dwBufferLength;
  system->dwUser = reinterpret_cast<DWORD_PTR>(header);
  const MMRESULT result = m_api.outPrepareHeader(record.handle, system.get(), sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) return result;
  record.prepared.emplace(header, std::move(system));
  header->dwFlags |= QM_MHDR_PREPARED;
  return QM_MMSYSERR_NOERROR;
}

MidiResult WinMmMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  WinMmDevice& record = *Device(device);
  const auto found = record.prepared.find(header);
  if (found == record.prepared.end()) return QM_MMSYSERR_NOERROR;
  const MMRESULT result = m_api.outUnprepareHeader(record.handle, found->second.get(), sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) return result;
  record.prepared.erase(found);
  header->dwFlags &= ~QM_MHDR_PREPARED;
  return QM_MMSYSERR_NOERROR;
}

MidiResult WinMmMidiServices::ShortMsg(HMidiOut device, std::uint32_t message) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  return m_api.outShortMsg(Device(device)->handle, message);
}

MidiResult WinMmMidiServices::LongMsg(HMidiOut device, MidiHeader* header, unsigned size) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  WinMmDevice& record = *Device(device);
  const auto found = record.prepared.find(header);
  if (found == record.prepared.end()) return QM_MIDIERR_UNPREPARED;
  MIDIHDR& system = *found->second;
  // The engine may have moved the start and shortened the length since the prepare.
  system.lpData = reinterpret_cast<LPSTR>(header->lpData);
  system.dwBufferLength = header->dwBufferLength;
  system.dwBytesRecorded = 0;
  {
    // Counted first: the system may hand the buffer back before midiOutLongMsg returns.
    std::lock_guard<std::mutex> lock(record.mutex);
    ++record.held;
    header->dwFlags = (header->dwFlags & ~QM_MHDR_DONE) | QM_MHDR_INQUEUE;
  }
  const MMRESULT result = m_api.outLongMsg(record.handle, &system, sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) {
    std::lock_guard<std::mutex> lock(record.mutex);
    --record.held;
    header->dwFlags &= ~QM_MHDR_INQUEUE;
    record.returned.notify_all();
  }
  return result;
}

MidiResult WinMmMidiServices::Reset(HMidiOut device) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  WinMmDevice& record = *Device(device);
  const MMRESULT result = m_api.outReset(record.handle);
  if (!WaitForBuffers(record, m_returnBound)) return QM_MIDIERR_STILLPLAYING;
  return result;
}

MidiResult WinMmMidiServices::Close(HMidiOut device) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  std::unique_ptr<WinMmDevice> record(Device(device));
  m_api.outReset(record->handle);
  const bool allBack = WaitForBuffers(*record, m_returnBound);
  // Headers still prepared would keep the close from succeeding.
  for (auto& [header, system] : record->prepared) {
    if (allBack) m_api.outUnprepareHeader(record->handle, system.get(), sizeof(MIDIHDR));
    header->dwFlags &= ~QM_MHDR_PREPARED;
  }
  const MMRESULT result = m_api.outClose(record->handle);
  bool quiet = false;
  {
    std::unique_lock<std::mutex> lock(record->mutex);
    record->ended = true;
    quiet = record->returned.wait_for(lock, m_returnBound,
                                      [&record] { return record->delivering == 0; });
  }
  if (!allBack || !quiet || result != MMSYSERR_NOERROR) {
    // The system may still call back with this record or write into its headers.
    (void)record.release();
    return allBack ? result : QM_MIDIERR_STILLPLAYING;
  }
  return QM_MMSYSERR_NOERROR;
}

std::string WinMmMidiServices::ErrorText(MidiResult result) {
  if (result < kBackendErrorBase) {
    wchar_t text[MAXERRORLENGTH] = {};
    if (m_api.outGetErrorText(result, text, MAXERRORLENGTH) == MMSYSERR_NOERROR && text[0] != L'\0') {
      return WideToUtf8(std::wstring_view(text, wcsnlen(text, MAXERRORLENGTH)));
    }
  }
  return StandardMidiErrorText(result);
}
