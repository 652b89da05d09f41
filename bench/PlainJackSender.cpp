// The reference for the command-line benchmarks: the least a libjack program does to send
// key messages and have them all arrive. One client, one port, connect, one ent message
// per cycle once the link carries data, close.
//
// When the link carries data, as the backend tells it (JackConnections.cpp): under jackd2
// once the cycle's graph has the connection (jack_port_connected in the process
// callback); under PipeWire once a second, silent port connected to the same destination
// after the first link was reported is reported linked too. Without that, a sender under
// PipeWire loses up to a third of its first messages and the comparison means nothing.
// Usage: quillmark_plain_jack_sender <destination port> <count>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/uuid.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr unsigned char kEnt[] = {
    0xF0, 0x1C, 0x60, 0x00, 0x00, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x30, 0x30, 0x30,
    0x30, 0x43, 0x37, 0x37, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x31, 0x30, 0x30, 0x30,
    0x30, 0x38, 0x32, 0x3A, 0x30, 0x32, 0x36, 0x38, 0x41, 0x45, 0x30, 0x30, 0x37, 0x43,
    0x30, 0x30, 0x36, 0x43, 0x7C, 0x46, 0x45, 0x41, 0x34, 0x35, 0x45, 0xF7};

jack_port_t* g_port = nullptr;
std::atomic<jack_port_id_t> g_portId{0};
std::atomic<jack_port_id_t> g_probeId{0};
std::atomic<bool> g_linked{false};       // the connect callback reported our link
std::atomic<bool> g_probeLinked{false};  // ... and the probe's
std::atomic<bool> g_ready{false};        // the process callback may write
std::atomic<long> g_left{0};
std::atomic<long> g_cycles{0};

jack_port_id_t IdOf(const jack_port_t* port) { return jack_uuid_to_index(jack_port_uuid(port)); }

void Connected(jack_port_id_t a, jack_port_id_t b, int connect, void*) {
  if (!connect) return;
  if (a == g_portId.load() || b == g_portId.load()) g_linked.store(true);
  if (a == g_probeId.load() || b == g_probeId.load()) g_probeLinked.store(true);
}

int Process(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(g_port, frames);
  jack_midi_clear_buffer(buffer);
  if (g_ready.load() && jack_port_connected(g_port) > 0 && g_left.load() > 0 &&
      jack_midi_event_write(buffer, 0, kEnt, sizeof kEnt) == 0) {
    g_left.fetch_sub(1);
  }
  g_cycles.fetch_add(1);
  return 0;
}

bool WaitUntil(const std::atomic<bool>& flag, std::chrono::steady_clock::time_point deadline) {
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  // As the backend's client: no libjack lock around the callbacks that would skip ours.
  if (pipeWire) setenv("PIPEWIRE_PROPS", "jack.locked-process = false", 0);
  jack_status_t status{};
  jack_client_t* client = jack_client_open("plain-sender", JackNoStartServer, &status);
  if (!client) return 1;
  g_port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_port_t* probe =
      pipeWire ? jack_port_register(client, "probe", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0) : nullptr;
  if (!g_port || (pipeWire && !probe)) return 1;
  g_portId.store(IdOf(g_port));
  if (probe) g_probeId.store(IdOf(probe));
  jack_set_process_callback(client, &Process, nullptr);
  jack_set_port_connect_callback(client, &Connected, nullptr);
  if (jack_activate(client) != 0) return 1;
  if (jack_connect(client, jack_port_name(g_port), argv[1]) != 0) return 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  if (pipeWire) {
    if (!WaitUntil(g_linked, deadline)) return 1;
    if (jack_connect(client, jack_port_name(probe), argv[1]) != 0) return 1;
    if (!WaitUntil(g_probeLinked, deadline)) return 1;
  }
  g_left.store(std::atol(argv[2]));
  g_ready.store(true);
  while (g_left.load() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // A few more cycles, so the last message is read before the connection goes.
  const long cycles = g_cycles.load();
  while (g_cycles.load() < cycles + 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  jack_client_close(client);
  return g_left.load() == 0 ? 0 : 1;
}
