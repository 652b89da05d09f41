// A scriptable MidiServices for the tests: it records every call and every byte, and
// hands long-message buffers back at once, when the test releases them, or from a
// second thread. It also checks the backend contract the engine relies on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiServices.h"

class FakeMidiServices final : public MidiServices {
 public:
  enum class Completion { Immediate, Held, OtherThread };

  FakeMidiServices();
  ~FakeMidiServices() override;

  // Script. Set before use.
  std::vector<std::string> outNames{"Fake Out A", "Fake Out B"};
  std::vector<std::string> inNames{"Fake In A"};
  MidiResult openResult = 0;
  MidiResult longMsgResult = 0;
  int failPrepareAt = 0;  // the nth PrepareHeader fails (1 = the first)
  Completion completion = Completion::Immediate;
  MidiResult deliveryFailure = 0;  // param2 of every QM_MOM_DONE from now on
  bool recordCalls = true;  // benchmarks turn the records off
  bool virtualOutputAvailable = true;  // a transport for the virtual port is there

  // Records.
  std::vector<std::string> Calls() const;
  std::vector<std::vector<std::uint8_t>> LongMessages() const;
  std::vector<std::uint32_t> ShortMessages() const;
  std::vector<std::string> Violations() const;  // contract breaches seen
  std::uint32_t LastOpenedDevice() const;
  int OpenDevices() const;
  std::size_t HeldCount() const;

  // Held mode: returns the oldest held buffer (QM_MOM_DONE) on the calling thread.
  bool ReleaseOldest();
  // Tells every open device's callback that the device failed (QM_MOM_ERROR), as a
  // backend does from its own thread when the destination goes away.
  void ReportDeviceError(MidiResult result);
  // OtherThread mode: waits (bounded) until the thread has returned everything it got.
  bool WaitForCompletions();

  unsigned OutDeviceCount() override;
  bool OutDeviceName(unsigned device, std::string& name) override;
  bool VirtualOutputAvailable() override { return virtualOutputAvailable; }
  unsigned InDeviceCount() override;
  bool InDeviceName(unsigned device, std::string& name) override;
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                std::uintptr_t instance) override;
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult Reset(HMidiOut device) override;
  MidiResult Close(HMidiOut device) override;

 private:
  struct Device;
  struct Held {
    Device* device;
    MidiHeader* header;
  };
  void Record(std::string call);
  void Violation(std::string what);
  void Complete(const Held& held);
  void ReturnAllHeld(Device* device);
  void ThreadMain();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_drained;
  std::vector<std::string> m_calls;
  std::vector<std::vector<std::uint8_t>> m_long;
  std::vector<std::uint32_t> m_short;
  std::vector<std::string> m_violations;
  std::deque<Held> m_held;      // Held mode
  std::deque<Held> m_toThread;  // OtherThread mode
  int m_threadBusy = 0;
  int m_prepareCalls = 0;
  int m_openDevices = 0;
  std::vector<Device*> m_devices;  // open
  std::uint32_t m_lastOpened = 0;
  bool m_stop = false;
  std::thread m_thread;
};
