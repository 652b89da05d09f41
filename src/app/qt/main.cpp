#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#ifdef QUILLMARK_REMOTE_SERVER
#include "app/qt/Headless.h"
#endif
#include "app/qt/QtUserSeams.h"
#include "app/RemoteApp.h"
#include "app/TerminationRequests.h"
#include "midi/KeyPathCounters.h"
#include "settings/VersionRecord.h"

namespace {

constexpr const char* kHelp =
    "usage: quillmark [QT-OPTION]...\n"
    "       quillmark --serve [--port N] [--osc N]\n"
    "       quillmark --help | --version\n"
    "\n"
    "Remote control for the H3000 effects processor: a window laid out like the unit's\n"
    "front panel, where every key clicked or typed presses the same key on the unit\n"
    "over MIDI.\n"
    "\n"
    "  --serve         no window: serve the remote page (and OSC) for phones and\n"
    "                  tablets on the network, on the stored MIDI output; prints the\n"
    "                  page's address and its QR code; Ctrl-C or SIGTERM ends it\n"
    "  --port N        with --serve: the page's TCP port (default: the stored one, 8391)\n"
    "  --osc N         with --serve: take OSC /quillmark/key KEY at UDP port N\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n"
    "\n"
    "Qt's own options work as in every Qt program, for example -platform NAME or\n"
    "-style NAME; other arguments are ignored. Settings: ~/.config/Vellicor/Quillmark.conf.\n"
    "Keys from scripts: quillmark-send --help.\n";

enum class StartRequest { Run, Serve, Help, Version };

// Qt's options that take the next argument as their value, so that the value is never
// read as one of ours.
bool TakesValue(std::string_view option) {
  for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display",
                           "geometry", "style", "stylesheet", "session", "title", "name",
                           "qwindowgeometry", "qwindowicon", "qwindowtitle", "qmljsdebugger"}) {
    if (option == name) return true;
  }
  return false;
}

// Looked at before the application object exists: --help and --version need no display.
StartRequest ReadStartArguments(int argc, char** argv) {
  bool serve = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return StartRequest::Help;
    if (arg == "--version" || arg == "-V") return StartRequest::Version;
    if (arg == "--serve") serve = true;
    if (arg == "--") break;
    std::string_view name = arg;
    while (name.starts_with('-')) name.remove_prefix(1);
    if (name.size() < arg.size() && TakesValue(name)) ++i;
  }
  return serve ? StartRequest::Serve : StartRequest::Run;
}

int Print(const std::string& text) {
  errno = 0;
  if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
  std::fprintf(stderr, "quillmark: error writing to standard output: %s\n",
               errno ? std::strerror(errno) : "write failed");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  switch (ReadStartArguments(argc, argv)) {
    case StartRequest::Help: return Print(kHelp);
    case StartRequest::Version: return Print("quillmark " + OwnProductVersion() + "\n");
    case StartRequest::Serve:
#ifdef QUILLMARK_REMOTE_SERVER
      return RunHeadless(argc, argv);
#else
      std::fputs("quillmark: this build has no remote server\n", stderr);
      return 2;
#endif
    case StartRequest::Run: break;
  }
  CatchTerminationRequests();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  // Lets Wayland compositors and docks match the window to its desktop entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.vellicor.Quillmark"));
  QtUserSeams seams;
  InstallUserSeams(&seams);
  const std::unique_ptr<TerminationService> terminate = ServeTerminationRequests([] { theApp.OnTerminate(); });
  theApp.InitInstance();
  InstallUserSeams(nullptr);
  return WriteKeyPathCountersIfAsked() ? 0 : 1;
}
