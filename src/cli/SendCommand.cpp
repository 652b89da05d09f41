#include "cli/SendCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>

#include "cli/OutputChoice.h"
#include "settings/ProfileStore.h"
#include "settings/VersionRecord.h"
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
    "usage: quillmark-send [-i N] [-d N|NAME] [-p] KEY...\n"
    "       quillmark-send [-i N] [-d N|NAME] [-p] -     (keys from standard input)\n"
    "       quillmark-send -l\n"
    "keys: prog func para 0-9 point minus up down cxl ent reset byp level F1-F4\n";

constexpr const char* kTryHelp = "Try 'quillmark-send --help' for more information.\n";

constexpr const char* kHelp =
    "\n"
    "Presses the keys on the unit's front panel, one System Exclusive message a key, and\n"
    "waits until they have gone out. Keys are matched in any case. A '-' reads keys from\n"
    "standard input, one or more a line; blank lines and '#' comments are skipped.\n"
    "\n"
    "  -d, --device=N|NAME  MIDI output: number, -1 for the virtual port, or name (the\n"
    "                       exact name or a unique part of it, in any case); default:\n"
    "                       the output chosen in Preferences\n"
    "  -i, --id=N           the unit's device ID, 0 to 127; default: the one chosen in\n"
    "                       Preferences\n"
    "  -p, --print          write each message as hex bytes instead of sending it\n"
    "  -l, --list           list the MIDI outputs with their numbers\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "  --                   end of options\n"
    "\n"
    "Exit status: 0 done, 1 a send or a write to standard output failed, 2 usage error.\n";

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
  std::string VirtualOutputLabel() override { return m_inner.VirtualOutputLabel(); }
  std::string NoOutputsText() override { return m_inner.NoOutputsText(); }
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

bool ParseInt(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool ParseDeviceId(const std::string& text, int& value) {
  return ParseInt(text, value) && value >= 0 && value <= 127;
}

char LowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), LowerChar);
  return text;
}

const KeyRow* FindKeyIgnoringCase(std::string_view name) {
  const std::string wanted = Lower(std::string(name));
  for (const KeyRow& row : kKeyTable) {
    if (Lower(std::string(row.name)) == wanted) return &row;
  }
  return nullptr;
}

// Letters inserted, removed, changed or swapped with a neighbour to turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string UnknownKey(const std::string& name) {
  std::string text = "unknown key '" + name + "'";
  const std::string_view suggestion = SuggestKeyName(name);
  if (!suggestion.empty()) text += " (did you mean '" + std::string(suggestion) + "'?)";
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
        if (tracker.Failure() != 0 || (tracker.Held() == 0 && queue.Pump() == 0)) break;
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

// One argument of the command line: an option with its value, a key, or "-".
struct SendOptions {
  bool print = false;
  bool list = false;
  bool help = false;
  bool version = false;
  bool idGiven = false;
  int deviceId = 0;
  bool deviceGiven = false;
  std::string deviceSpec;
  // In command-line order; null stands for the keys of standard input.
  std::vector<const KeyRow*> keys;
};

enum class OptionId { Device, Id, Print, List, Help, Version };

struct OptionSpec {
  char shortName;
  std::string_view longName;
  bool takesValue;
  OptionId id;
  const char* missingValue;
};

constexpr OptionSpec kOptions[] = {
    {'d', "device", true, OptionId::Device, "needs a device number or name (see --list)"},
    {'i', "id", true, OptionId::Id, "needs a device ID from 0 to 127"},
    {'p', "print", false, OptionId::Print, ""},
    {'l', "list", false, OptionId::List, ""},
    {'h', "help", false, OptionId::Help, ""},
    {'V', "version", false, OptionId::Version, ""},
};

const OptionSpec* FindOption(char shortName, std::string_view longName) {
  for (const OptionSpec& option : kOptions) {
    if (shortName ? option.shortName == shortName : option.longName == longName) return &option;
  }
  return nullptr;
}

bool ApplyOption(const OptionSpec& option, const std::string& shown, const std::string& value,
                 SendOptions& options, std::string& error) {
  switch (option.id) {
    case OptionId::Device:
      if (value.empty()) {
        error = shown + " " + option.missingValue;
        return false;
      }
      options.deviceGiven = true;
      options.deviceSpec = value;
      return true;
    case OptionId::Id:
      if (!ParseDeviceId(value, options.deviceId)) {
        error = "device ID '" + value + "' is not a number from 0 to 127";
        return false;
      }
      options.idGiven = true;
      return true;
    case OptionId::Print: options.print = true; return true;
    case OptionId::List: options.list = true; return true;
    case OptionId::Help: options.help = true; return true;
    case OptionId::Version: options.version = true; return true;
  }
  return false;
}

bool ParseArguments(const std::vector<std::string>& args, SendOptions& options, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!isOption) {
      if (arg == "-") {
        options.keys.push_back(nullptr);
      } else if (const KeyRow* row = FindKeyIgnoringCase(arg)) {
        options.keys.push_back(row);
      } else {
        error = UnknownKey(arg);
        return false;
      }
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg[1] == '-') {
      const std::size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const OptionSpec* option = FindOption(0, name);
      if (!option) {
        error = "unknown option '--" + name + "'";
        return false;
      }
      const std::string shown = "--" + name;
      std::string value;
      if (equals != std::string::npos) {
        if (!option->takesValue) {
          error = shown + " takes no value";
          return false;
        }
        value = arg.substr(equals + 1);
      } else if (option->takesValue) {
        if (i + 1 == args.size()) {
          error = shown + " " + option->missingValue;
          return false;
        }
        value = args[++i];
      }
      if (!ApplyOption(*option, shown, value, options, error)) return false;
    } else {
      // A cluster of short options; one that takes a value takes the rest of the
      // argument, or the next argument.
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const OptionSpec* option = FindOption(arg[at], {});
        const std::string shown = std::string("-") + arg[at];
        if (!option) {
          error = "unknown option '" + shown + "'";
          return false;
        }
        std::string value;
        if (option->takesValue) {
          if (at + 1 < arg.size()) {
            value = arg.substr(at + 1);
          } else if (i + 1 < args.size()) {
            value = args[++i];
          } else {
            error = shown + " " + option->missingValue;
            return false;
          }
          at = arg.size();
        }
        if (!ApplyOption(*option, shown, value, options, error)) return false;
      }
    }
  }
  return true;
}

// Keys from a stream: blank-separated, any number a line; '#' starts a comment.
bool ReadKeys(std::istream& in, std::vector<const KeyRow*>& keys, std::string& error) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      const KeyRow* row = FindKeyIgnoringCase(word);
      if (!row) {
        error = "standard input, line " + std::to_string(number) + ": " + UnknownKey(word);
        return false;
      }
      keys.push_back(row);
    }
  }
  if (in.bad()) {
    error = "cannot read standard input";
    return false;
  }
  return true;
}

// Ends the output of a run: what could not be written makes the run fail.
int FinishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (out) return status;
  const int error = errno;
  err << "quillmark-send: error writing to standard output: "
      << (error ? std::strerror(error) : "write failed") << '\n';
  return kSendExitFailed;
}

// The unit's device ID when --id gives none: the stored one, of which the panel too
// keeps the low eight bits. Above 127 it would end the System Exclusive message early.
bool DefaultDeviceId(const SendEnvironment& environment, int& deviceId, std::string& error) {
  const std::int32_t stored =
      environment.storedDeviceId ? environment.storedDeviceId()
                                 : CurrentProfileStore().ReadProfileInt(kSettingsSection, "TargetDeviceID", 0);
  deviceId = static_cast<int>(static_cast<std::uint32_t>(stored) & 0xFFu);
  if (deviceId <= 127) return true;
  error = "the stored device ID " + std::to_string(deviceId) +
          " is not from 0 to 127; give one with --id";
  return false;
}

}  // namespace

std::string_view SuggestKeyName(std::string_view typed) {
  const std::string wanted = Lower(std::string(typed));
  std::string_view best;
  std::size_t bestDistance = 3;
  bool unique = false;
  for (const KeyRow& row : kKeyTable) {
    const std::size_t distance = EditDistance(wanted, Lower(std::string(row.name)));
    if (distance < bestDistance) {
      best = row.name;
      bestDistance = distance;
      unique = true;
    } else if (distance == bestDistance) {
      unique = false;
    }
  }
  // A distance as long as the word itself is a different word, not a typing slip.
  return unique && bestDistance < wanted.size() ? best : std::string_view();
}

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
  errno = 0;
  SendOptions options;
  std::string error;
  if (!ParseArguments(args, options, error)) {
    err << "quillmark-send: " << error << '\n' << kTryHelp;
    return kSendExitUsage;
  }
  if (options.help) {
    out << kUsage << kHelp;
    return FinishOutput(out, err, kSendExitOk);
  }
  if (options.version) {
    out << "quillmark-send " << OwnProductVersion() << '\n';
    return FinishOutput(out, err, kSendExitOk);
  }

  std::vector<const KeyRow*> keys;
  for (const KeyRow* row : options.keys) {
    if (row) {
      keys.push_back(row);
    } else if (!ReadKeys(environment.input ? *environment.input : std::cin, keys, error)) {
      err << "quillmark-send: " << error << '\n';
      return kSendExitUsage;
    }
  }
  if (options.keys.empty() && !options.list) {
    err << "quillmark-send: no key given\n" << kTryHelp;
    return kSendExitUsage;
  }
  int deviceId = options.deviceId;
  if (!keys.empty() && !options.idGiven && !DefaultDeviceId(environment, deviceId, error)) {
    err << "quillmark-send: " << error << '\n';
    return kSendExitUsage;
  }

  if (options.print) {
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
    if (!options.list) return FinishOutput(out, err, kSendExitOk);
  }

  if (keys.empty() && !options.list) return kSendExitOk;  // "-" on an empty input

  std::unique_ptr<MidiServices> platformServices;
  MidiServices* services = environment.services;
  if (!services) {
    platformServices = CreateMidiServices();
    services = platformServices.get();
  }
  const std::vector<std::string> names = OutDeviceLabels(*services);
  if (options.list) {
    ListOutputs(*services, out, err, names, ReadStoredOutput(environment));
    return FinishOutput(out, err, kSendExitOk);
  }
  std::int32_t device = 0;
  if (options.deviceGiven) {
    if (!ChooseOutputDevice(names, options.deviceSpec, device, error)) {
      err << "quillmark-send: " << error << '\n';
      return kSendExitUsage;
    }
  } else {
    if (!ResolveStoredOutput(*services, names, ReadStoredOutput(environment), device, error)) {
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
