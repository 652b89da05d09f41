#include "app/qt/Headless.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "app/qt/QtUiPoster.h"
#include "app/TerminationRequests.h"
#include "desktop/UserSeams.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"
#include "server/KeyDispatcher.h"
#include "server/QrCode.h"
#include "server/RemoteServer.h"
#include "server/RemoteSettings.h"
#include "server/StoredSettingsReader.h"
#include "settings/ProfileStore.h"

namespace {

void Say(FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

// Device errors of keys pressed outside a remote request (none in this mode) and the
// port's beeps have nobody to show them to but the log.
class LogSeams final : public UserSeams {
 public:
  int ShowMessageBox(OwnerWindow, const std::string& text, const std::string&, unsigned) override {
    Say(stderr, "quillmark: " + text + (text.ends_with('\n') ? "" : "\n"));
    return QM_IDOK;
  }
  void MessageBeep(unsigned) override {}
  bool ShellOpen(const std::string&) override { return false; }
};

// The key routine of this mode: the key table's message through the transmit port, as
// the panel's key routine sends it. A key that did not go out is logged.
class HeadlessKeyRoutine final : public KeyRoutine {
 public:
  KeyOutcome PressKey(const KeyRow& row) override {
    const KeyOutcome outcome = PressWithErrorsCaught(
        [](const KeyRow& key, void*) { return SendKey(key); }, row, nullptr);
    if (outcome.status != KeyStatus::Sent) {
      Say(stderr, "quillmark: key " + std::string(row.name) + ": " + outcome.text + "\n");
    }
    return outcome;
  }
};

struct HeadlessOptions {
  bool portGiven = false;
  std::uint16_t port = 0;
  bool oscGiven = false;
  std::uint16_t oscPort = 0;
};

bool ParseOptions(int argc, char** argv, HeadlessOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--serve") continue;
    std::string value;
    const std::size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
    }
    if (arg != "--port" && arg != "--osc") {
      error = "unknown option '" + arg + "' with --serve";
      return false;
    }
    if (equals == std::string::npos) {
      if (i + 1 >= argc) {
        error = arg + " needs a port number from 1 to 65535";
        return false;
      }
      value = argv[++i];
    }
    std::uint16_t port = 0;
    if (!ParsePort(value, port)) {
      error = arg + ": '" + value + "' is not a port number from 1 to 65535";
      return false;
    }
    if (arg == "--port") {
      options.portGiven = true;
      options.port = port;
    } else {
      options.oscGiven = true;
      options.oscPort = port;
    }
  }
  return true;
}

void PrintWhereToConnect(const RemoteServer& server, const RemoteSettings& settings) {
  const std::vector<std::string> addresses = server.PageAddresses();
  if (!addresses.empty()) {
    Say(stdout, "Quillmark remote page: open this address on a phone or tablet on the same network\n" +
                    addresses.front() + "\n");
    Say(stdout, QrForTerminal(EncodeQr(addresses.front()), isatty(STDOUT_FILENO) == 1));
    if (addresses.size() > 1) {
      std::string others = "The page answers at every address of this computer:\n";
      for (std::size_t i = 1; i < addresses.size(); ++i) others += addresses[i] + "\n";
      Say(stdout, others);
    }
  }
  if (server.OscRunning()) {
    Say(stdout, "OSC: /quillmark/key with a key name, UDP port " + std::to_string(server.OscPort()) +
                    ", from " + settings.oscAllowedHosts + "\n");
  }
  Say(stdout, "Plain HTTP: use it on a network you trust. Ctrl-C or SIGTERM ends.\n");
}

}  // namespace

int RunHeadless(int argc, char** argv) {
  HeadlessOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    Say(stderr, "quillmark: " + error + "\nTry 'quillmark --help' for more information.\n");
    return 2;
  }
  CatchTerminationRequests();
  // An event loop without a display: no QApplication, no platform plugin.
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));

  RemoteSettings settings = ReadRemoteSettings(CurrentProfileStore());
  if (!EnsureAccessToken(CurrentProfileStore(), settings)) {
    if (settings.token.empty()) {
      Say(stderr, "quillmark: the system's random generator gave no access token\n");
      return 1;
    }
    Say(stderr, "quillmark: the access token could not be stored in " + CurrentProfileStore().Location() +
                    "; it holds for this run only\n");
  }
  settings.pageEnabled = true;
  if (options.portGiven) settings.pagePort = options.port;
  if (options.oscGiven) {
    settings.oscEnabled = true;
    settings.oscPort = options.oscPort;
  }

  LogSeams seams;
  UserSeams* previousSeams = InstallUserSeams(&seams);
  StoredSettingsReader storedSettings;
  SettingsReader* previousReader = InstallSettingsReader(&storedSettings);
  const std::unique_ptr<MidiServices> services = CreateMidiServices();
  QtUiPosterFactory posters;
  StreamLibInit(services.get(), &posters);
  int status = 0;
  {
    CMidiXmit port;
    g_pMidiXmit = &port;
    HeadlessKeyRoutine routine;
    KeyDispatcher dispatcher(posters, routine);
    RemoteServer server(dispatcher);
    const bool started = server.Start(settings, error, [](const std::string& sender, const std::string& key,
                                                          const std::string& text) {
      if (text != "sent") Say(stderr, "quillmark: OSC from " + sender + ", key '" + key + "': " + text + "\n");
    });
    if (!started) {
      Say(stderr, "quillmark: " + error + "\n");
      status = 1;
    } else {
      PrintWhereToConnect(server, settings);
      const std::unique_ptr<TerminationService> terminate = ServeTerminationRequests([] { QCoreApplication::quit(); });
      QCoreApplication::exec();
    }
    // Keys still waiting are answered before the servers' threads are joined.
    dispatcher.Close();
    server.Stop();
    g_pMidiXmit = nullptr;
    port.ReleasePort();
  }
  StreamLibExit();
  InstallSettingsReader(previousReader);
  InstallUserSeams(previousSeams);
  return status;
}
