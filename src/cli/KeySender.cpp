#include "cli/KeySender.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "cli/SendTexts.h"
#include "desktop/ManualUiQueue.h"
#include "desktop/UserSeams.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "remote/KeyTable.h"

namespace {

using Clock = std::chrono::steady_clock;

// The settings the port reads: the chosen output and device ID, fixed for the run.
class FixedSettings final : public SettingsReader {
 public:
  FixedSettings(const ChosenOutput& output, std::uint8_t deviceId) : m_output(output), m_deviceId(deviceId) {}
  std::int32_t MidiOutDevice() const override { return m_output.device; }
  std::string MidiOutDeviceName() const override { return m_output.lookupName; }
  std::uint8_t TargetDeviceId() const override { return m_deviceId; }

 private:
  ChosenOutput m_output;
  std::uint8_t m_deviceId;
};

// The port's error boxes are counted, not shown: the command says in its own words what
// went wrong, from what the device reported.
class SilentSeams final : public UserSeams {
 public:
  int ShowMessageBox(OwnerWindow, const std::string&, const std::string&, unsigned) override {
    ++boxes;
    return QM_IDOK;
  }
  void MessageBeep(unsigned) override {}
  bool ShellOpen(const std::string&) override { return false; }
  int boxes = 0;
};

// Passes every call on and keeps count of the long messages the device still holds, and
// of the first failure it reported: the engine itself only reports that at the next put.
class CompletionTracker final : public MidiServices {
 public:
  explicit CompletionTracker(MidiServices& inner) : m_inner(inner) {}

  int Held() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
  }
  MidiResult Failure() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
  }

  unsigned OutDeviceCount() override { return m_inner.OutDeviceCount(); }
  bool OutDeviceName(unsigned device, std::string& name) override { return m_inner.OutDeviceName(device, name); }
  bool OutDeviceLabel(unsigned device, std::string& label) override {
    return m_inner.OutDeviceLabel(device, label);
  }
  std::string VirtualOutputLabel() override { return m_inner.VirtualOutputLabel(); }
  bool VirtualOutputAvailable() override { return m_inner.VirtualOutputAvailable(); }
  std::string NoOutputsText() override { return m_inner.NoOutputsText(); }
  unsigned InDeviceCount() override { return m_inner.InDeviceCount(); }
  bool InDeviceName(unsigned device, std::string& name) override { return m_inner.InDeviceName(device, name); }
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                  std::uintptr_t instance) override {
    m_callback = callback;
    m_instance = instance;
    const MidiResult result =
        m_inner.Open(device, deviceId, &CompletionTracker::Callback, reinterpret_cast<std::uintptr_t>(this));
    if (result != 0) Fail(result);
    return result;
  }
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner.PrepareHeader(device, header, size);
  }
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner.UnprepareHeader(device, header, size);
  }
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override { return m_inner.ShortMsg(device, message); }
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_held;  // before the call: the device may complete it inside
    }
    const MidiResult result = m_inner.LongMsg(device, header, size);
    if (result != 0) {
      std::lock_guard<std::mutex> lock(m_mutex);
      --m_held;
      if (m_failure == 0) m_failure = result;
    }
    return result;
  }
  MidiResult Reset(HMidiOut device) override { return m_inner.Reset(device); }
  MidiResult Close(HMidiOut device) override { return m_inner.Close(device); }
  std::string ErrorText(MidiResult result) override { return m_inner.ErrorText(result); }

 private:
  void Fail(MidiResult result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure == 0) m_failure = result;
  }

  static void Callback(HMidiOut device, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
                       std::uintptr_t param2) {
    auto* self = reinterpret_cast<CompletionTracker*>(instance);
    self->m_callback(device, message, self->m_instance, param1, param2);
    // A buffer that came back undelivered, or a device that failed on its own thread, ends
    // the wait at once: its bytes will never leave.
    const MidiResult failure = message == QM_MOM_DONE    ? static_cast<MidiResult>(param2)
                               : message == QM_MOM_ERROR ? static_cast<MidiResult>(param1)
                                                         : 0;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    if (message == QM_MOM_DONE) --self->m_held;
    if (failure != 0 && self->m_failure == 0) self->m_failure = failure;
  }

  MidiServices& m_inner;
  MidiOutCallback m_callback = nullptr;
  std::uintptr_t m_instance = 0;
  std::mutex m_mutex;
  int m_held = 0;
  MidiResult m_failure = 0;
};

}  // namespace

// Everything the engine and the port are pointed at, in the order they are set up.
struct KeySender::Session {
  Session(MidiServices& services, const ChosenOutput& output, std::uint8_t deviceId)
      : inner(services), settings(output, deviceId), tracker(services) {
    previousSettings = InstallSettingsReader(&settings);
    previousSeams = InstallUserSeams(&seams);
    StreamLibInit(&tracker, &queue);
    g_pMidiXmit = &port;
  }
  ~Session() {
    g_pMidiXmit = nullptr;
    port.ReleasePort();
    StreamLibExit();
    InstallUserSeams(previousSeams);
    InstallSettingsReader(previousSettings);
  }

  // Pumps the queue until the device holds nothing and nothing is posted, a failure or a
  // box came, or the deadline passed. True when everything has left.
  bool Drain(Clock::time_point deadline) {
    while (seams.boxes == 0 && tracker.Failure() == 0) {
      queue.Pump();
      if (tracker.Held() == 0 && queue.Pump() == 0) return true;
      if (Clock::now() >= deadline) return false;
      queue.WaitForPost(std::chrono::milliseconds(1));
    }
    return false;
  }

  MidiServices& inner;
  FixedSettings settings;
  SilentSeams seams;
  CompletionTracker tracker;
  ManualUiQueue queue;
  CMidiXmit port;
  SettingsReader* previousSettings = nullptr;
  UserSeams* previousSeams = nullptr;
};

KeySender::KeySender(MidiServices& services, const ChosenOutput& output, std::uint8_t deviceId,
                     std::chrono::milliseconds completionBound)
    : m_session(std::make_unique<Session>(services, output, deviceId)), m_output(output), m_bound(completionBound) {}

KeySender::~KeySender() = default;

bool KeySender::Open(std::string& error) {
  // A send of no bytes opens the port and puts nothing.
  if (m_session->port.Send(0, nullptr) == 1 && m_session->tracker.Failure() == 0) return true;
  error = FailureText();
  return false;
}

bool KeySender::Send(const KeyRow& row, std::string& error) {
  Session& session = *m_session;
  const auto deadline = Clock::now() + m_bound;
  // Refused without a box only while earlier buffers are still away.
  while (SendKey(row) != 1) {
    if (session.seams.boxes != 0 || session.tracker.Failure() != 0) {
      error = FailureText();
      return false;
    }
    if (Clock::now() >= deadline) break;
    session.queue.Pump();
    session.queue.WaitForPost(std::chrono::milliseconds(1));
  }
  if (Clock::now() < deadline && session.Drain(deadline)) return true;
  if (session.seams.boxes != 0 || session.tracker.Failure() != 0) {
    error = FailureText();
  } else {
    error = OutputName(m_output.label) + " did not take '" + std::string(row.name) + "' within " +
            std::to_string(m_bound.count()) + " ms; check that the program or interface behind it is running";
  }
  return false;
}

std::string KeySender::FailureText() {
  Session& session = *m_session;
  if (const MidiResult failure = session.tracker.Failure()) {
    return DeviceFailureText(failure, m_output.label, session.tracker.ErrorText(failure));
  }
  // The port refused before the device said anything: its own look at the list found the
  // output gone, or no output at all.
  const std::vector<std::string> labels = OutDeviceLabels(session.inner);
  if (labels.empty() && m_output.device != -1) return NoOutputsText();
  if (!m_output.lookupName.empty() &&
      std::find(labels.begin(), labels.end(), m_output.lookupName) == labels.end()) {
    return NotConnectedText(m_output.label);
  }
  return "could not open " + OutputName(m_output.label) + "; see quillmark-send --list";
}
