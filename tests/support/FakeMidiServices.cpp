#include "FakeMidiServices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

struct FakeMidiServices::Device : MidiOutDevice {
  std::uint32_t id = 0;
  MidiOutCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::set<MidiHeader*> prepared;
  std::set<MidiHeader*> held;  // given to LongMsg and not yet returned
};

namespace {
constexpr auto kWaitBound = std::chrono::seconds(5);

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", value);
  return text;
}
}  // namespace

FakeMidiServices::FakeMidiServices() : m_thread([this] { ThreadMain(); }) {}

FakeMidiServices::~FakeMidiServices() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void FakeMidiServices::Record(std::string call) {
  if (!recordCalls) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back(std::move(call));
}

void FakeMidiServices::Violation(std::string what) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_violations.push_back(std::move(what));
}

std::vector<std::string> FakeMidiServices::Calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

std::vector<std::vector<std::uint8_t>> FakeMidiServices::LongMessages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_long;
}

std::vector<std::uint32_t> FakeMidiServices::ShortMessages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_short;
}

std::vector<std::string> FakeMidiServices::Violations() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_violations;
}

std::uint32_t FakeMidiServices::LastOpenedDevice() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastOpened;
}

int FakeMidiServices::OpenDevices() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_openDevices;
}

std::size_t FakeMidiServices::HeldCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_held.size() + m_toThread.size() + static_cast<std::size_t>(m_threadBusy);
}

unsigned FakeMidiServices::OutDeviceCount() { return static_cast<unsigned>(outNames.size()); }

bool FakeMidiServices::OutDeviceName(unsigned device, std::string& name) {
  if (device >= outNames.size()) return false;
  name = outNames[device];
  return true;
}

unsigned FakeMidiServices::InDeviceCount() { return static_cast<unsigned>(inNames.size()); }

bool FakeMidiServices::InDeviceName(unsigned device, std::string& name) {
  if (device >= inNames.size()) return false;
  name = inNames[device];
  return true;
}

MidiResult FakeMidiServices::Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                                std::uintptr_t instance) {
  Record("Open " + std::to_string(static_cast<std::int32_t>(deviceId)));
  if (openResult != 0) {
    *device = nullptr;
    return openResult;
  }
  auto* opened = new Device;
  opened->id = deviceId;
  opened->callback = callback;
  opened->instance = instance;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastOpened = deviceId;
    ++m_openDevices;
    m_devices.push_back(opened);
  }
  *device = opened;
  callback(opened, QM_MOM_OPEN, instance, 0, 0);
  return 0;
}

MidiResult FakeMidiServices::PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  auto* dev = static_cast<Device*>(device);
  if (size != kMidiHeaderSize) Violation("PrepareHeader with a wrong size");
  if (++m_prepareCalls == failPrepareAt) return QM_MMSYSERR_NOMEM;
  header->dwFlags |= QM_MHDR_PREPARED;
  dev->prepared.insert(header);
  return 0;
}

MidiResult FakeMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned) {
  auto* dev = static_cast<Device*>(device);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (dev->held.count(header)) {
      m_violations.push_back("UnprepareHeader on a buffer the device holds");
      return QM_MIDIERR_STILLPLAYING;
    }
  }
  header->dwFlags &= ~QM_MHDR_PREPARED;
  dev->prepared.erase(header);
  return 0;
}

MidiResult FakeMidiServices::ShortMsg(HMidiOut, std::uint32_t message) {
  Record("ShortMsg " + Hex(message));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_short.push_back(message);
  return 0;
}

MidiResult FakeMidiServices::LongMsg(HMidiOut device, MidiHeader* header, unsigned size) {
  auto* dev = static_cast<Device*>(device);
  if (recordCalls) Record("LongMsg " + std::to_string(header->dwBufferLength));
  if (size != kMidiHeaderSize) Violation("LongMsg with a wrong size");
  if (!dev->prepared.count(header)) return QM_MIDIERR_UNPREPARED;
  if (longMsgResult != 0) return longMsgResult;
  const Held held{dev, header};
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (dev->held.count(header)) m_violations.push_back("LongMsg on a buffer the device holds");
    if (recordCalls) m_long.emplace_back(header->lpData, header->lpData + header->dwBufferLength);
    header->dwFlags |= QM_MHDR_INQUEUE;
    header->dwFlags &= ~QM_MHDR_DONE;
    dev->held.insert(header);
    if (completion == Completion::Held) {
      m_held.push_back(held);
      return 0;
    }
    if (completion == Completion::OtherThread) {
      m_toThread.push_back(held);
      m_wake.notify_one();
      return 0;
    }
  }
  Complete(held);
  return 0;
}

void FakeMidiServices::Complete(const Held& held) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    held.device->held.erase(held.header);
    held.header->dwFlags = (held.header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
  }
  held.device->callback(held.device, QM_MOM_DONE, held.device->instance,
                        reinterpret_cast<std::uintptr_t>(held.header), deliveryFailure);
}

void FakeMidiServices::ReportDeviceError(MidiResult result) {
  std::vector<Device*> open;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    open = m_devices;
  }
  for (Device* device : open) device->callback(device, QM_MOM_ERROR, device->instance, result, 0);
}

bool FakeMidiServices::ReleaseOldest() {
  Held held{};
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_held.empty()) return false;
    held = m_held.front();
    m_held.pop_front();
  }
  Complete(held);
  return true;
}

void FakeMidiServices::ThreadMain() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || !m_toThread.empty(); });
    if (m_toThread.empty()) return;
    const Held held = m_toThread.front();
    m_toThread.pop_front();
    ++m_threadBusy;
    lock.unlock();
    Complete(held);
    lock.lock();
    --m_threadBusy;
    if (m_toThread.empty() && m_threadBusy == 0) m_drained.notify_all();
  }
}

bool FakeMidiServices::WaitForCompletions() {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_drained.wait_for(lock, kWaitBound,
                            [this] { return m_toThread.empty() && m_threadBusy == 0; });
}

void FakeMidiServices::ReturnAllHeld(Device* device) {
  // Buffers of the second thread are returned by that thread; wait for it (bounded).
  WaitForCompletions();
  std::vector<Held> mine;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_held.begin(); it != m_held.end();) {
      if (it->device == device) {
        mine.push_back(*it);
        it = m_held.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const Held& held : mine) Complete(held);
}

MidiResult FakeMidiServices::Reset(HMidiOut device) {
  Record("Reset");
  ReturnAllHeld(static_cast<Device*>(device));
  return 0;
}

MidiResult FakeMidiServices::Close(HMidiOut device) {
  Record("Close");
  auto* dev = static_cast<Device*>(device);
  ReturnAllHeld(dev);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!dev->prepared.empty()) m_violations.push_back("Close with prepared buffers");
    --m_openDevices;
    std::erase(m_devices, dev);
  }
  dev->callback(dev, QM_MOM_CLOSE, dev->instance, 0, 0);
  delete dev;
  return 0;
}
