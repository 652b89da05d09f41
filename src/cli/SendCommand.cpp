#include "cli/SendCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "cli/KeySender.h"
#include "cli/OutputChoice.h"
#include "cli/SendArguments.h"
#include "cli/SendTexts.h"
#include "midi/MidiXmit.h"
#include "midi/SettingsAccess.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"
#include "settings/ProfileStore.h"
#include "settings/VersionRecord.h"

namespace {

constexpr const char* kUsage =
    "usage: quillmark-send [-i N] [-d N|NAME] [-p] KEY...\n"
    "       quillmark-send [-i N] [-d N|NAME] [-p] -     (keys from standard input)\n"
    "       quillmark-send -l\n"
    "keys: prog func para 0-9 point minus up down cxl ent reset byp level F1-F4\n";

constexpr const char* kHelp =
    "\n"
    "Presses the keys on the unit's front panel, one System Exclusive message a key, and\n"
    "waits until they have gone out. Keys are matched in any case. A '-' reads keys from\n"
    "standard input, one or more a line, and sends each line's keys as it arrives; blank\n"
    "lines and '#' comments are skipped.\n"
    "\n"
    "  -d, --device=N|NAME  MIDI output: number, -1 for the virtual port, or name (the\n"
    "                       exact name in any case, or a unique part of it); default:\n"
    "                       the output chosen in Preferences\n"
    "  -i, --id=N           the unit's device ID, 0 to 127; default: the one chosen in\n"
    "                       Preferences\n"
    "  -p, --print          write each message as hex bytes instead of sending it\n"
    "  -l, --list           list the MIDI outputs with their numbers\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "  --                   end of options\n"
    "\n"
    "Exit status: 0 done; 1 nothing or not everything could be sent (the output is not\n"
    "there or failed, standard input or output failed); 2 usage error (an option, key or\n"
    "device name), with nothing of that line sent.\n";

// A line of keys longer than this is no list of keys: the input is something else.
constexpr std::size_t kMaxLineBytes = 64 * 1024;

void Say(std::ostream& err, const std::string& text) { err << "quillmark-send: " << Printable(text) << '\n'; }

// Ends the output of a run: what could not be written makes the run fail.
int FinishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (out) return status;
  const int error = errno;
  Say(err, std::string("cannot write to standard output: ") + (error ? std::strerror(error) : "write failed"));
  return kSendExitFailed;
}

// The lines of the keys' input, each as soon as it is complete.
class KeyLineReader {
 public:
  enum class Result { Line, End, Failed, TooLong };

  explicit KeyLineReader(KeyInput& input) : m_input(input) {}

  Result Next(std::string& line, std::string& error) {
    for (;;) {
      const std::size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        line.assign(m_buffer, 0, end);
        m_buffer.erase(0, end + 1);
        ++number;
        return Result::Line;
      }
      if (m_buffer.size() > kMaxLineBytes) return Result::TooLong;
      if (m_ended) {
        if (m_buffer.empty()) return Result::End;
        line.swap(m_buffer);
        m_buffer.clear();
        ++number;
        return Result::Line;
      }
      char chunk[4096];
      const long count = m_input.Read(chunk, sizeof chunk, error);
      if (count < 0) return Result::Failed;
      if (count == 0) m_ended = true;
      m_buffer.append(chunk, static_cast<std::size_t>(count));
    }
  }

  int number = 0;

 private:
  KeyInput& m_input;
  std::string m_buffer;
  bool m_ended = false;
};

// Where the keys go: printed or sent. False with a line for the user.
class KeySink {
 public:
  virtual ~KeySink() = default;
  virtual bool Put(const KeyRow& row, std::string& error) = 0;
  // A line of standard input is done: what it made must be out before the next is read.
  virtual bool LineDone(std::string& error) = 0;
};

class PrintSink final : public KeySink {
 public:
  explicit PrintSink(std::ostream& out) : m_out(out) {}
  bool Put(const KeyRow& row, std::string&) override {
    // Without a port the message is only built.
    const CRemoteKeyMsg message = row.keyCode.empty() ? CRemoteKeyMsg() : CRemoteKeyMsg(row.keyCode[0], row.keyCode[1]);
    for (int i = 0; i < message.Length(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", message.Data()[i]);
      m_out << (i ? " " : "") << hex;
    }
    m_out << '\n';
    return true;
  }
  bool LineDone(std::string& error) override {
    m_out.flush();
    if (m_out) return true;
    const int code = errno;
    error = std::string("cannot write to standard output: ") + (code ? std::strerror(code) : "write failed");
    return false;
  }

 private:
  std::ostream& m_out;
};

class SendSink final : public KeySink {
 public:
  explicit SendSink(KeySender& sender) : m_sender(sender) {}
  bool Put(const KeyRow& row, std::string& error) override { return m_sender.Send(row, error); }
  bool LineDone(std::string&) override { return true; }

 private:
  KeySender& m_sender;
};

// The device ID of the printed messages; the port's own device comes from the sender.
class PrintSettings final : public SettingsReader {
 public:
  explicit PrintSettings(std::uint8_t deviceId) : m_deviceId(deviceId) {}
  std::int32_t MidiOutDevice() const override { return 0; }
  std::uint8_t TargetDeviceId() const override { return m_deviceId; }

 private:
  std::uint8_t m_deviceId;
};

// Puts the keys in command-line order; each "-" puts the keys of standard input, a line
// at a time as the lines arrive.
int PutKeys(const std::vector<const KeyRow*>& keys, KeySink& sink, KeyInput* input, std::ostream& err) {
  std::string error;
  std::unique_ptr<KeyInput> standardInput;
  std::unique_ptr<KeyLineReader> reader;
  for (const KeyRow* key : keys) {
    if (key) {
      if (!sink.Put(*key, error)) break;
      continue;
    }
    if (!reader) {
      if (!input) input = (standardInput = OpenStandardInput()).get();
      reader = std::make_unique<KeyLineReader>(*input);
    }
    for (std::string line;;) {
      const KeyLineReader::Result result = reader->Next(line, error);
      if (result == KeyLineReader::Result::End) break;
      const std::string where = "standard input, line " + std::to_string(reader->number + 1);
      if (result == KeyLineReader::Result::Failed) {
        Say(err, "cannot read standard input: " + error);
        return kSendExitFailed;
      }
      if (result == KeyLineReader::Result::TooLong) {
        Say(err, where + " is longer than " + std::to_string(kMaxLineBytes) +
                     " bytes; give the keys as text, one or more a line");
        return kSendExitUsage;
      }
      std::vector<const KeyRow*> rows;
      std::istringstream words(line.substr(0, line.find('#')));
      for (std::string word; words >> word;) {
        const KeyRow* row = FindKeyIgnoringCase(word);
        if (!row) {
          Say(err, "standard input, line " + std::to_string(reader->number) + ": " + UnknownKeyText(word));
          return kSendExitUsage;
        }
        rows.push_back(row);
      }
      for (const KeyRow* row : rows) {
        if (!sink.Put(*row, error)) break;
      }
      if (!error.empty() || !sink.LineDone(error)) break;
    }
    if (!error.empty()) break;
  }
  if (error.empty()) return kSendExitOk;
  Say(err, error);
  return kSendExitFailed;
}

}  // namespace

int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunSendCommand(args, out, err, SendEnvironment{});
}

int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SendEnvironment& environment) {
  errno = 0;
  SendOptions options;
  std::string error;
  if (!ParseArguments(args, options, error)) {
    Say(err, error);
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

  // The stored device ID as the panel uses it: its low eight bits, of which the message
  // carries the low seven.
  std::uint8_t deviceId = static_cast<std::uint8_t>(options.deviceId);
  if (!options.idGiven && !options.list) {
    const std::int32_t stored =
        environment.storedDeviceId ? environment.storedDeviceId()
                                   : CurrentProfileStore().ReadProfileInt(kSettingsSection, "TargetDeviceID", 0);
    deviceId = static_cast<std::uint8_t>(static_cast<std::uint32_t>(stored) & 0xFFu);
  }

  if (options.print && !options.list) {
    PrintSettings settings(deviceId);
    SettingsReader* previous = InstallSettingsReader(&settings);
    CMidiXmit* port = g_pMidiXmit;
    g_pMidiXmit = nullptr;
    PrintSink sink(out);
    const int status = PutKeys(options.keys, sink, environment.input, err);
    g_pMidiXmit = port;
    InstallSettingsReader(previous);
    return FinishOutput(out, err, status);
  }

  std::unique_ptr<MidiServices> platformServices;
  MidiServices* services = environment.services;
  if (!services) {
    platformServices = CreateMidiServices();
    services = platformServices.get();
  }
  const std::vector<std::string> labels = OutDeviceLabels(*services);
  if (options.list) {
    ListOutputs(*services, out, err, labels, ReadStoredOutput(environment));
    return FinishOutput(out, err, kSendExitOk);
  }

  ChosenOutput output;
  OutputChoice choice = options.deviceGiven ? ChooseOutputDevice(labels, options.deviceSpec, output, error)
                                            : ResolveStoredOutput(labels, ReadStoredOutput(environment), output, error);
  if (choice == OutputChoice::Chosen) choice = CheckVirtualPort(*services, output, error);
  if (choice != OutputChoice::Chosen) {
    Say(err, error);
    return choice == OutputChoice::Usage ? kSendExitUsage : kSendExitFailed;
  }
  // The output is open before the first line is read: the virtual port is there for a
  // patchbay to connect while the keys are still to come.
  KeySender sender(*services, output, deviceId, environment.completionBound);
  if (!sender.Open(error)) {
    Say(err, error);
    return kSendExitFailed;
  }
  SendSink sink(sender);
  return PutKeys(options.keys, sink, environment.input, err);
}
