#include "cli/SendCommand.h"

#include <charconv>
#include <cstdio>

#include "midi/MidiXmit.h"
#include "midi/SettingsAccess.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"

namespace {

constexpr const char* kUsage =
    "usage: quillmark-send [--id N] [--print] KEY...\n"
    "keys: prog func para 0-9 point minus up down cxl ent reset byp level F1-F4\n";

class FixedSettings final : public SettingsReader {
 public:
  explicit FixedSettings(std::uint8_t deviceId) : m_deviceId(deviceId) {}
  std::int32_t MidiOutDevice() const override { return 0; }
  std::uint8_t TargetDeviceId() const override { return m_deviceId; }

 private:
  std::uint8_t m_deviceId;
};

bool ParseDeviceId(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= 0 && value <= 127;
}

void PrintMessage(std::ostream& out, const CRemoteKeyMsg& message) {
  for (int i = 0; i < message.Length(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", message.Data()[i]);
    out << (i ? " " : "") << hex;
  }
  out << '\n';
}

}  // namespace

int RunSendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  int deviceId = 0;
  bool print = false;
  std::vector<const KeyRow*> keys;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--print") {
      print = true;
    } else if (arg == "--id") {
      if (i + 1 == args.size()) {
        err << "quillmark-send: --id needs a device ID from 0 to 127\n" << kUsage;
        return kSendExitUsage;
      }
      if (!ParseDeviceId(args[++i], deviceId)) {
        err << "quillmark-send: device ID '" << args[i] << "' is not a number from 0 to 127\n";
        return kSendExitUsage;
      }
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
  if (keys.empty()) {
    err << "quillmark-send: no key given\n" << kUsage;
    return kSendExitUsage;
  }

  FixedSettings settings(static_cast<std::uint8_t>(deviceId));
  SettingsReader* previous = InstallSettingsReader(&settings);
  int status = kSendExitOk;
  if (print) {
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
  } else {
    err << "quillmark-send: this build has no MIDI transport; use --print\n";
    status = kSendExitUsage;
  }
  InstallSettingsReader(previous);
  return status;
}
