// The reference for the panel's key benchmark: the least an X program does to turn a key
// press into a message at a JACK destination. A plain Xlib window "plain-key-sender"; each
// press of E or X asks the process callback to write the ent or cxl message in its next
// cycle (on demand: nothing waits in between). One client, one port, connected to the
// destination; under PipeWire writes start once a second, silent port's link to the same
// destination was reported too (as PlainJackSender.cpp explains), so no first message is
// lost to a link not yet applied.
// Usage: quillmark_plain_key_sender <destination port>; runs until its window is closed or
// it is sent SIGTERM.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/uuid.h>
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "DesignKeys.h"

namespace {

jack_port_t* g_port = nullptr;
std::atomic<jack_port_id_t> g_portId{0};
std::atomic<jack_port_id_t> g_probeId{0};
std::atomic<bool> g_linked{false};
std::atomic<bool> g_probeLinked{false};
// Requests from the X thread: bit 0 ent, bit 1 cxl; the process callback takes them.
std::atomic<unsigned> g_requests{0};
std::vector<std::uint8_t> g_ent;
std::vector<std::uint8_t> g_cxl;
volatile sig_atomic_t g_stop = 0;

jack_port_id_t IdOf(const jack_port_t* port) { return jack_uuid_to_index(jack_port_uuid(port)); }

void Connected(jack_port_id_t a, jack_port_id_t b, int connect, void*) {
  if (!connect) return;
  if (a == g_portId.load() || b == g_portId.load()) g_linked.store(true);
  if (a == g_probeId.load() || b == g_probeId.load()) g_probeLinked.store(true);
}

int Process(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(g_port, frames);
  jack_midi_clear_buffer(buffer);
  const unsigned requests = g_requests.exchange(0);
  if (requests & 1u) jack_midi_event_write(buffer, 0, g_ent.data(), g_ent.size());
  if (requests & 2u) jack_midi_event_write(buffer, 0, g_cxl.data(), g_cxl.size());
  return 0;
}

bool WaitUntil(const std::atomic<bool>& flag, std::chrono::steady_clock::time_point deadline) {
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

void Stop(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  signal(SIGTERM, &Stop);
  // The profile of the panel's benchmark uses device ID 5.
  g_ent = DesignMessage(DesignKeyNamed("ent"), 5);
  g_cxl = DesignMessage(DesignKeyNamed("cxl"), 5);
  const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  if (pipeWire) setenv("PIPEWIRE_PROPS", "jack.locked-process = false", 0);
  jack_status_t status{};
  jack_client_t* client = jack_client_open("plain-key-sender", JackNoStartServer, &status);
  if (!client) return 1;
  g_port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_port_t* probe =
      pipeWire ? jack_port_register(client, "probe", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0) : nullptr;
  if (!g_port || (pipeWire && !probe)) return 1;
  g_portId.store(IdOf(g_port));
  if (probe) g_probeId.store(IdOf(probe));
  jack_set_process_callback(client, &Process, nullptr);
  jack_set_port_connect_callback(client, &Connected, nullptr);
  if (jack_activate(client) != 0 || jack_connect(client, jack_port_name(g_port), argv[1]) != 0) return 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  if (pipeWire && (!WaitUntil(g_linked, deadline) || jack_connect(client, jack_port_name(probe), argv[1]) != 0 ||
                   !WaitUntil(g_probeLinked, deadline))) {
    return 1;
  }

  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 200, 100, 0,
                                            BlackPixel(display, screen), WhitePixel(display, screen));
  XStoreName(display, window, "plain-key-sender");
  XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XMapWindow(display, window);
  XFlush(display);
  bool running = true;
  while (running && !g_stop) {
    if (XPending(display) == 0) {
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      poll(&fd, 1, 100);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == KeyPress) {
      const KeySym key = XLookupKeysym(&event.xkey, 0);
      if (key == XK_e) g_requests.fetch_or(1u);
      if (key == XK_x) g_requests.fetch_or(2u);
      if (key == XK_Escape) running = false;
    } else if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
      running = false;
    }
  }
  XCloseDisplay(display);
  jack_client_close(client);
  return 0;
}
