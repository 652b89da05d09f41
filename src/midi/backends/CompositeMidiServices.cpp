#include "midi/backends/CompositeMidiServices.h"

#include <algorithm>

namespace {

// The handle the engine holds: which backend serves the device, and the engine's
// callback, which the backend's callbacks are passed on to under this handle.
struct CompositeDevice final : MidiOutDevice {
  MidiServices* backend = nullptr;
  HMidiOut inner = nullptr;
  MidiOutCallback callback = nullptr;
  std::uintptr_t instance = 0;
};

void PassOn(HMidiOut, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
            std::uintptr_t param2) {
  auto* device = reinterpret_cast<CompositeDevice*>(instance);
  device->callback(device, message, device->instance, param1, param2);
}

CompositeDevice* AsComposite(HMidiOut device) { return static_cast<CompositeDevice*>(device); }

}  // namespace

void CompositeMidiServices::Add(std::unique_ptr<MidiServices> backend,
                                std::function<bool()> virtualPortAvailable, std::string transport) {
  m_backends.push_back({std::move(backend), std::move(virtualPortAvailable), std::move(transport), 0, 0, 0});
  m_countedOut = m_countedIn = false;
}

unsigned CompositeMidiServices::OutDeviceCount() {
  unsigned total = 0;
  for (Backend& backend : m_backends) {
    total += backend.outCount = backend.services->OutDeviceCount();
    backend.mostOut = std::max(backend.mostOut, backend.outCount);
  }
  m_countedOut = true;
  return total;
}

unsigned CompositeMidiServices::InDeviceCount() {
  unsigned total = 0;
  for (Backend& backend : m_backends) total += backend.inCount = backend.services->InDeviceCount();
  m_countedIn = true;
  return total;
}

CompositeMidiServices::Backend* CompositeMidiServices::Locate(unsigned device, bool output,
                                                              unsigned& local) {
  if (output ? !m_countedOut : !m_countedIn) {
    if (output) {
      OutDeviceCount();
    } else {
      InDeviceCount();
    }
  }
  for (Backend& backend : m_backends) {
    const unsigned count = output ? backend.outCount : backend.inCount;
    if (device < count) {
      local = device;
      return &backend;
    }
    device -= count;
  }
  return nullptr;
}

bool CompositeMidiServices::OutDeviceName(unsigned device, std::string& name) {
  unsigned local = 0;
  Backend* backend = Locate(device, true, local);
  return backend && backend->services->OutDeviceName(local, name);
}

bool CompositeMidiServices::OutDeviceLabel(unsigned device, std::string& label) {
  unsigned local = 0;
  Backend* backend = Locate(device, true, local);
  if (!backend || !backend->services->OutDeviceLabel(local, label)) return false;
  if (!backend->transport.empty()) label += " (" + backend->transport + ")";
  return true;
}

bool CompositeMidiServices::InDeviceName(unsigned device, std::string& name) {
  unsigned local = 0;
  Backend* backend = Locate(device, false, local);
  return backend && backend->services->InDeviceName(local, name);
}

MidiResult CompositeMidiServices::Open(HMidiOut* device, std::uint32_t deviceId,
                                     MidiOutCallback callback, std::uintptr_t instance) {
  if (!device) return QM_MMSYSERR_INVALPARAM;
  *device = nullptr;
  if (!callback) return QM_MMSYSERR_INVALPARAM;
  Backend* backend = nullptr;
  unsigned local = QM_MIDI_MAPPER;
  if (deviceId == QM_MIDI_MAPPER) {
    for (Backend& candidate : m_backends) {
      if (!candidate.virtualPortAvailable || candidate.virtualPortAvailable()) {
        backend = &candidate;
        break;
      }
    }
    if (!backend) return QM_MIDIERR_NODEVICE;
  } else {
    // The number means a place in the list as it is now, not as it was at the last look.
    OutDeviceCount();
    backend = Locate(deviceId, true, local);
    if (!backend) return QM_MMSYSERR_BADDEVICEID;
  }
  auto opened = std::make_unique<CompositeDevice>();
  opened->backend = backend->services.get();
  opened->callback = callback;
  opened->instance = instance;
  const MidiResult result = backend->services->Open(&opened->inner, local, &PassOn,
                                                  reinterpret_cast<std::uintptr_t>(opened.get()));
  if (result != 0) return result;
  *device = opened.release();
  return 0;
}

MidiResult CompositeMidiServices::PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsComposite(device)->backend->PrepareHeader(AsComposite(device)->inner, header, size);
}

MidiResult CompositeMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header,
                                                unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsComposite(device)->backend->UnprepareHeader(AsComposite(device)->inner, header, size);
}

MidiResult CompositeMidiServices::ShortMsg(HMidiOut device, std::uint32_t message) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsComposite(device)->backend->ShortMsg(AsComposite(device)->inner, message);
}

MidiResult CompositeMidiServices::LongMsg(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsComposite(device)->backend->LongMsg(AsComposite(device)->inner, header, size);
}

MidiResult CompositeMidiServices::Reset(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsComposite(device)->backend->Reset(AsComposite(device)->inner);
}

MidiResult CompositeMidiServices::Close(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  std::unique_ptr<CompositeDevice> closing(AsComposite(device));
  return closing->backend->Close(closing->inner);
}

bool CompositeMidiServices::VirtualOutputAvailable() {
  for (Backend& backend : m_backends) {
    if ((!backend.virtualPortAvailable || backend.virtualPortAvailable()) &&
        backend.services->VirtualOutputAvailable()) {
      return true;
    }
  }
  return false;
}

std::string CompositeMidiServices::NoOutputsText() {
  const std::string general = MidiServices::NoOutputsText();
  for (Backend& backend : m_backends) {
    std::string text = backend.services->NoOutputsText();
    if (!text.empty() && text != general) return text;
  }
  return general;
}

std::string CompositeMidiServices::ErrorText(MidiResult result) {
  const std::string standard = StandardMidiErrorText(result);
  // A number past the end of the list may have a better explanation than a bad number:
  // a transport that is down lists nothing, and a port that went away shortens the list.
  if (result < kBackendErrorBase && result != QM_MMSYSERR_BADDEVICEID) return standard;
  if (result == QM_MMSYSERR_BADDEVICEID) {
    // The list that shrank is the likelier cause than a transport that lists nothing for
    // the whole run: a receiver on one transport that ended is no other transport's fault.
    for (Backend& backend : m_backends) {
      if (backend.outCount >= backend.mostOut) continue;
      std::string text = backend.services->ErrorText(result);
      return text != standard ? text : backend.services->ErrorText(kMidiOutputGone);
    }
  }
  for (Backend& backend : m_backends) {
    std::string text = backend.services->ErrorText(result);
    if (text != standard) return text;
  }
  return standard;
}
