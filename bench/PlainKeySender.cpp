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
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "DesignKeys.h"
#include "PlainJackLink.h"

namespace {

jack_port_t* g_port = nullptr;
// Requests from the X thread: bit 0 ent, bit 1 cxl; the process callback takes them.
std::atomic<unsigned> g_requests{0};
std::vector<std::uint8_t> g_ent;
std::vector<std::uint8_t> g_cxl;
volatile sig_atomic_t g_stop = 0;

int Process(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(g_port, frames);
  jack_midi_clear_buffer(buffer);
  const unsigned requests = g_requests.exchange(0);
  if (requests & 1u) jack_midi_event_write(buffer, 0, g_ent.data(), g_ent.size());
  if (requests & 2u) jack_midi_event_write(buffer, 0, g_cxl.data(), g_cxl.size());
  return 0;
}

void Stop(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  signal(SIGTERM, &Stop);
  // The profile of the panel's benchmark uses device ID 5.
  g_ent = DesignMessage(DesignKeyNamed("ent"), 5);
  g_cxl = DesignMessage(DesignKeyNamed("cxl"), 5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  jack_client_t* client = plainjack::OpenLinkedClient("plain-key-sender", argv[1], &Process, g_port, deadline);
  if (!client) return 1;

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
