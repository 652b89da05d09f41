#include "cli/SendCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>
#include <mutex>

#include "cli/OutputChoice.h"
#include "settings/ProfileStore.h"
#include "desktop/ManualUiQueue.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "desktop/UserSeams.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: quillmark-send [--id N] [--device N|NAME] [--print] KEY...\n"
    "       quillmark-send --list\n"
    "keys: prog func para 0-9 point minus up down cxl ent reset byp level F1-F4\n";

class FixedSettings final : public SettingsReader {
 public:
  FixedSettings(std::int32_t device, std::uint8_t deviceId) : m_device(device), m_deviceId(deviceId) {}
  std::int32_t MidiOutDevice() const override { return m_device; }
  std::uint8_t TargetDeviceId() const override { return m_deviceId; }

 private:
  std::int32_t m_device;
  std::uint8_t m_deviceId;
};

// The port's error boxes become lines on stderr.
class StderrSeams final : public UserSeams {
 public:
  explicit StderrSeams(std::ostream& err) : m_err(err) {}
  int ShowMessageBox(OwnerWindow, const std::string& text, const std::string&, unsigned) override {
    m_err << "quillmark-send: " << text;
    if (!text.empty() && text.back() != '\n') m_err << '\n';
    ++boxes;
    return QM_IDOK;
  }
  void MessageBeep(unsigned) override {}
  bool ShellOpen(const std::string&) override { return false; }
  int boxes = 0;

 private:
  std::ostream& m_err;
};

// Passes every call on and keeps count of the long messages the device still holds, and
// of the first one it refused: the engine itself only reports that at the next put.
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
  bool OutDeviceName(unsigned device, std::string& name) override {
    return m_inner.OutDeviceName(device, name);
  }
  bool OutDeviceLabel(unsigned device, std::string& label) override {
    return m_inner.OutDeviceLabel(device, label);
  }
  unsigned InDeviceCount() override { return m_inner.InDeviceCount(); }
  bool InDeviceName(unsigned device, std::string& name) override {
    return m_inner.InDeviceName(device, name);
  }
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                std::uintptr_t instance) override {
    m_callback = callback;
    m_instance = instance;
    return m_inner.Open(device, deviceId, &CompletionTracker::Callback,
                        reinterpret_cast<std::uintptr_t>(this));
  }
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner.PrepareHeader(device, header, size);
  }
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override {
    return m_inner.UnprepareHeader(device, header, size);
  }
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override {
    return m_inner.ShortMsg(device, message);
  }
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
  static void Callback(HMidiOut device, unsigned message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t param2) {
    auto* self = reinterpret_cast<CompletionTracker*>(instance);
    self->m_callback(device, message, self->m_instance, param1, param2);
    if (message == QM_MOM_DONE) {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      --self->m_held;
    }
  }

  MidiServices& m_inner;
  MidiOutCallback m_callback = nullptr;
  std::uintptr_t m_instance = 0;
  std::mutex m_mutex;
  int m_held = 0;
  MidiResult m_failure = 0;
};

bool ParseInt(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool ParseDeviceId(const std::string& text, int& value) {
  return ParseInt(text, value) && value >= 0 && value <= 127;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void PrintMessage(std::ostream& out, const CRemoteKeyMsg& message) {
  for (int i = 0; i < message.Length(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", message.Data()[i]);
    out << (i ? " " : "") << hex;
  }
  out << '\n';
}

// Sends the keys one after the other, each to its completion. The UI queue is pumped
// here, as the panel's message loop would.
int SendKeys(const std::vector<const KeyRow*>& keys, CompletionTracker& tracker,
             const SendEnvironment& environment, std::ostream& err) {
  ManualUiQueue queue;
  StderrSeams seams(err);
  UserSeams* previousSeams = InstallUserSeams(&seams);
  StreamLibInit(&tracker, &queue);
  int status = kSendExitOk;
  {
    CMidiXmit port;
    g_pMidiXmit = &port;
    for (const KeyRow* row : keys) {
      const auto deadline = Clock::now() + environment.completionBound;
      // Refused without a box only while earlier buffers are still away.
      while (SendKey(*row) != 1 && seams.boxes == 0 && Clock::now() < deadline) {
        queue.Pump();
        queue.WaitForPost(std::chrono::milliseconds(1));
      }
      while (seams.boxes == 0 && Clock::now() < deadline) {
        queue.Pump();
        if (tracker.Held() == 0 && queue.Pump() == 0) break;
        queue.WaitForPost(std::chrono::milliseconds(1));
      }
      if (seams.boxes != 0) {
        status = kSendExitFailed;
        break;
      }
      if (const MidiResult failure = tracker.Failure()) {
        err << "quillmark-send: " << tracker.ErrorText(failure) << '\n';
        status = kSendExitFailed;
        break;
      }
      if (Clock::now() >= deadline) {
        err << "quillmark-send: the MIDI output device did not finish sending '" << row->name
            << "' within " << environment.completionBound.count() << " ms\n";
        status = kSendExitFailed;
        break;
      }
    }
    g_pMidiXmit = nullptr;
    port.ReleasePort();
  }
  StreamLibExit();
  InstallUserSeams(previousSeams);
  return status;
}

}  // namespace

bool ChooseOutputDevice(const std::vector<std::string>& names, const std::string& spec,
                        std::int32_t& device, std::string& error) {
  int number = 0;
  if (ParseInt(spec, number)) {
    if (number == -1 || (number >= 0 && static_cast<std::size_t>(number) < names.size())) {
      device = number;
      return true;
    }
    error = "there is no MIDI output device " + spec + " (see --list)";
    return false;
  }
  const auto exact = std::find(names.begin(), names.end(), spec);
  if (exact != names.end()) {
    device = static_cast<std::int32_t>(exact - names.begin());
    return true;
  }
  const std::string wanted = Lower(spec);
  std::vector<std::size_t> matches;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (Lower(names[i]).find(wanted) != std::string::npos) matches.push_back(i);
  }
  if (matches.size() == 1) {
    device = static_cast<std::int32_t>(matches.front());
    return true;
  }
  if (matches.empty()) {
    error = "no MIDI output device matches '" + spec + "' (see --list)";
  } else {
    error = "'" + spec + "' matches several MIDI output devices:";
    for (std::size_t i : matches) error += " '" + names[i] + "'";
  }
  return false;
}

int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunSendCommand(args, out, err, SendEnvironment{});
}

int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SendEnvironment& environment) {
  int deviceId = 0;
  bool print = false;
  bool list = false;
  bool deviceGiven = false;
  std::string deviceSpec;
  std::vector<const KeyRow*> keys;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--print") {
      print = true;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--id") {
      if (i + 1 == args.size()) {
        err << "quillmark-send: --id needs a device ID from 0 to 127\n" << kUsage;
        return kSendExitUsage;
      }
      if (!ParseDeviceId(args[++i], deviceId)) {
        err << "quillmark-send: device ID '" << args[i] << "' is not a number from 0 to 127\n";
        return kSendExitUsage;
      }
    } else if (arg == "--device") {
      if (i + 1 == args.size()) {
        err << "quillmark-send: --device needs a device number or name (see --list)\n" << kUsage;
        return kSendExitUsage;
      }
      deviceGiven = true;
      deviceSpec = args[++i];
    } else if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return kSendExitOk;
    } else if (const KeyRow* row = FindKeyByName(arg)) {
      keys.push_back(row);
    } else {
      err << "quillmark-send: unknown key '" << arg << "'\n" << kUsage;
      return kSendExitUsage;
    }
  }
  if (keys.empty() && !list) {
    err << "quillmark-send: no key given\n" << kUsage;
    return kSendExitUsage;
  }

  if (print) {
    FixedSettings settings(0, static_cast<std::uint8_t>(deviceId));
    SettingsReader* previous = InstallSettingsReader(&settings);
    // Without a port the messages are only built.
    CMidiXmit* port = g_pMidiXmit;
    g_pMidiXmit = nullptr;
    for (const KeyRow* row : keys) {
      if (row->keyCode.empty()) {
        PrintMessage(out, CRemoteKeyMsg());
      } else {
        PrintMessage(out, CRemoteKeyMsg(row->keyCode[0], row->keyCode[1]));
      }
    }
    g_pMidiXmit = port;
    InstallSettingsReader(previous);
    if (!list) return kSendExitOk;
  }

  std::unique_ptr<MidiServices> platformServices;
  MidiServices* services = environment.services;
  if (!services) {
    platformServices = CreateMidiServices();
    services = platformServices.get();
  }
  const std::vector<std::string> names = OutDeviceLabels(*services);
  if (list) {
    ListOutputs(out, err, names, ReadStoredOutput(environment));
    return kSendExitOk;
  }

  std::int32_t device = 0;
  if (deviceGiven) {
    std::string error;
    if (!ChooseOutputDevice(names, deviceSpec, device, error)) {
      err << "quillmark-send: " << error << '\n';
      return kSendExitUsage;
    }
  } else {
    std::string error;
    if (!ResolveStoredOutput(names, ReadStoredOutput(environment), device, error)) {
      err << "quillmark-send: " << error << '\n';
      return kSendExitFailed;
    }
  }

  FixedSettings settings(device, static_cast<std::uint8_t>(deviceId));
  SettingsReader* previous = InstallSettingsReader(&settings);
  CompletionTracker tracker(*services);
  const int status = SendKeys(keys, tracker, environment, err);
  InstallSettingsReader(previous);
  return status;
}
