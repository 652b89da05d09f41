#include "midi/backends/winmm/WinMmMidiServices.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "desktop/WideText_win.h"
#include "midi/backends/winmm/WinMmApi.h"

namespace {

// One long message with the system: a copy of the caller's bytes and the system's header,
// prepared for exactly those bytes. The system never sees the caller's memory, so a
// buffer it keeps past a close reads only ours; a prepared header is never rewritten.
struct Transfer {
  MIDIHDR system{};
  std::vector<BYTE> bytes;
  MidiHeader* header = nullptr;  // the caller's; null once handed back without the system
  bool back = false;             // the system has handed it back (MOM_DONE)
};

// An open device. The system's callback reaches it through the instance word, and its
// transfers through their headers' dwUser, so it must outlive every callback: Close
// deletes it only once the system has handed every transfer back and the device is closed.
struct WinMmDevice final : MidiOutDevice {
  HMIDIOUT handle = nullptr;
  MidiOutCallback callback = nullptr;
  std::uintptr_t instance = 0;

  // The caller's headers that are prepared; only the caller's thread touches it.
  std::set<MidiHeader*> prepared;

  // Guards the transfers' header and back, delivering and ended against the system's
  // callback thread. The lock is never held while the caller's callback runs: the engine
  // calls LongMsg under its own lock, which that callback takes too.
  std::mutex mutex;
  std::condition_variable returned;
  std::list<std::unique_ptr<Transfer>> transfers;  // prepared with the system
  unsigned delivering = 0;  // callbacks into the caller under way
  bool ended = false;       // Close is done with the device: callbacks go nowhere
};

WinMmDevice* Device(HMidiOut device) { return static_cast<WinMmDevice*>(device); }

// Under the device's lock: the caller's headers are all back and no delivery runs.
bool AllReturned(const WinMmDevice& device) {
  if (device.delivering != 0) return false;
  return std::none_of(device.transfers.begin(), device.transfers.end(),
                      [](const auto& transfer) { return transfer->header && !transfer->back; });
}

// The system's callback, on a thread of the system's or inside midiOutLongMsg, midiOutReset
// or midiOutClose. It may call no multimedia function; it marks the transfer back and
// passes the caller's header on.
void CALLBACK OutputCallback(HMIDIOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR) {
  auto* device = reinterpret_cast<WinMmDevice*>(instance);
  if (message == MOM_DONE) {
    auto* transfer = reinterpret_cast<Transfer*>(reinterpret_cast<MIDIHDR*>(param1)->dwUser);
    MidiHeader* header = nullptr;
    {
      std::lock_guard<std::mutex> lock(device->mutex);
      transfer->back = true;
      if (!device->ended) header = std::exchange(transfer->header, nullptr);
      if (header) ++device->delivering;
      device->returned.notify_all();
    }
    if (!header) return;
    header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
    device->callback(device, QM_MOM_DONE, device->instance, reinterpret_cast<std::uintptr_t>(header), 0);
    std::lock_guard<std::mutex> lock(device->mutex);
    --device->delivering;
    device->returned.notify_all();
  } else if (message == MOM_CLOSE) {
    {
      std::lock_guard<std::mutex> lock(device->mutex);
      if (device->ended) return;
      ++device->delivering;
    }
    device->callback(device, QM_MOM_CLOSE, device->instance, 0, 0);
    std::lock_guard<std::mutex> lock(device->mutex);
    --device->delivering;
    device->returned.notify_all();
  }
  // MOM_OPEN arrives while midiOutOpen runs, before the caller has a device.
}

// Unprepares and frees the transfers the system has handed back; caller's thread.
void Reap(const WinMmApi& api, WinMmDevice& device) {
  std::vector<std::unique_ptr<Transfer>> done;
  {
    std::lock_guard<std::mutex> lock(device.mutex);
    for (auto it = device.transfers.begin(); it != device.transfers.end();) {
      if ((*it)->back) {
        done.push_back(std::move(*it));
        it = device.transfers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& transfer : done) api.outUnprepareHeader(device.handle, &transfer->system, sizeof(MIDIHDR));
}

// After midiOutReset: waits (at most the bound) for every caller's header to come back.
// Those the system keeps past it are handed back here with QM_MIDIERR_STILLPLAYING and their
// transfers stay the system's; false then.
bool ReturnEverything(WinMmDevice& device, std::chrono::milliseconds bound) {
  std::vector<MidiHeader*> kept;
  {
    std::unique_lock<std::mutex> lock(device.mutex);
    if (device.returned.wait_for(lock, bound, [&device] { return AllReturned(device); })) return true;
    for (const auto& transfer : device.transfers) {
      if (transfer->header && !transfer->back) kept.push_back(std::exchange(transfer->header, nullptr));
    }
  }
  for (MidiHeader* header : kept) {
    header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
    device.callback(&device, QM_MOM_DONE, device.instance, reinterpret_cast<std::uintptr_t>(header),
                    QM_MIDIERR_STILLPLAYING);
  }
  // A delivery the system had begun before the bound ran out finishes first.
  std::unique_lock<std::mutex> lock(device.mutex);
  device.returned.wait_for(lock, bound, [&device] { return device.delivering == 0; });
  return false;
}

// A device's name from its capabilities, in UTF-8.
template <typename Caps, typename GetCaps>
bool DeviceName(GetCaps getCaps, unsigned device, std::string& name) {
  Caps caps{};
  if (getCaps(device, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
  name = WideToUtf8(std::wstring_view(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN)));
  return true;
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
  Device(device)->prepared.insert(header);
  header->dwFlags |= QM_MHDR_PREPARED;
  return QM_MMSYSERR_NOERROR;
}

MidiResult WinMmMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  WinMmDevice& record = *Device(device);
  {
    std::lock_guard<std::mutex> lock(record.mutex);
    for (const auto& transfer : record.transfers) {
      if (transfer->header == header) return QM_MIDIERR_STILLPLAYING;
    }
  }
  record.prepared.erase(header);
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
  if (record.prepared.count(header) == 0) return QM_MIDIERR_UNPREPARED;
  if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
  Reap(m_api, record);
  auto transfer = std::make_unique<Transfer>();
  transfer->bytes.assign(header->lpData, header->lpData + header->dwBufferLength);
  transfer->system.lpData = reinterpret_cast<LPSTR>(transfer->bytes.data());
  transfer->system.dwBufferLength = static_cast<DWORD>(transfer->bytes.size());
  transfer->system.dwUser = reinterpret_cast<DWORD_PTR>(transfer.get());
  const MMRESULT prepared = m_api.outPrepareHeader(record.handle, &transfer->system, sizeof(MIDIHDR));
  if (prepared != MMSYSERR_NOERROR) return prepared;
  Transfer* sending = transfer.get();
  {
    // Listed first: the system may hand it back before midiOutLongMsg returns.
    std::lock_guard<std::mutex> lock(record.mutex);
    sending->header = header;
    header->dwFlags = (header->dwFlags & ~QM_MHDR_DONE) | QM_MHDR_INQUEUE;
    record.transfers.push_back(std::move(transfer));
  }
  const MMRESULT result = m_api.outLongMsg(record.handle, &sending->system, sizeof(MIDIHDR));
  if (result != MMSYSERR_NOERROR) {
    {
      std::lock_guard<std::mutex> lock(record.mutex);
      sending->header = nullptr;
      sending->back = true;  // never the system's: reaped with the others
      header->dwFlags &= ~QM_MHDR_INQUEUE;
      record.returned.notify_all();
    }
    Reap(m_api, record);
  }
  return result;
}

MidiResult WinMmMidiServices::Reset(HMidiOut device) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  WinMmDevice& record = *Device(device);
  const MMRESULT result = m_api.outReset(record.handle);
  const bool allBack = ReturnEverything(record, m_returnBound);
  Reap(m_api, record);
  return allBack ? result : QM_MIDIERR_STILLPLAYING;
}

MidiResult WinMmMidiServices::Close(HMidiOut device) {
  if (device == nullptr) return QM_MMSYSERR_INVALHANDLE;
  std::unique_ptr<WinMmDevice> record(Device(device));
  m_api.outReset(record->handle);
  const bool allBack = ReturnEverything(*record, m_returnBound);
  // Transfers the system has handed back are unprepared; one it still holds is neither
  // unprepared nor freed.
  Reap(m_api, *record);
  for (MidiHeader* header : record->prepared) header->dwFlags &= ~QM_MHDR_PREPARED;
  record->prepared.clear();
  const MMRESULT result = m_api.outClose(record->handle);
  bool quiet = false;
  bool systemHolds = false;
  {
    std::unique_lock<std::mutex> lock(record->mutex);
    record->ended = true;
    quiet = record->returned.wait_for(lock, m_returnBound, [&record] { return record->delivering == 0; });
    systemHolds = !record->transfers.empty();
  }
  if (systemHolds || !quiet || result != MMSYSERR_NOERROR) {
    // The system may still call back with this record or read its transfers.
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
