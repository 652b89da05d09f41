// The plain senders' JACK client: one output port connected to a destination, returned
// once the link carries data, as the backend judges it (JackConnections.cpp): under jackd2
// once the cycle's graph has the connection (the caller's process callback checks
// jack_port_connected); under PipeWire once a second, silent port connected to the same
// destination after the first link was reported is reported linked too. Without that, a
// sender under PipeWire loses up to a third of its first messages.
#pragma once

#include <jack/jack.h>
#include <jack/uuid.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace plainjack {

inline std::atomic<jack_port_id_t> portId{0};
inline std::atomic<jack_port_id_t> probeId{0};
inline std::atomic<bool> linked{false};       // the connect callback reported our link
inline std::atomic<bool> probeLinked{false};  // ... and the probe's

inline jack_port_id_t IdOf(const jack_port_t* port) { return jack_uuid_to_index(jack_port_uuid(port)); }

inline void Connected(jack_port_id_t a, jack_port_id_t b, int connect, void*) {
  if (!connect) return;
  if (a == portId.load() || b == portId.load()) linked.store(true);
  if (a == probeId.load() || b == probeId.load()) probeLinked.store(true);
}

inline bool WaitUntil(const std::atomic<bool>& flag, std::chrono::steady_clock::time_point deadline) {
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

// Opens the client, registers "out" into port (before the process callback can run),
// connects it to destination and waits, at most until deadline, for the link to carry
// data. Null when any step fails.
inline jack_client_t* OpenLinkedClient(const char* name, const char* destination, JackProcessCallback process,
                                       jack_port_t*& port, std::chrono::steady_clock::time_point deadline) {
  const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  // As the backend's client: no libjack lock around the callbacks that would skip ours.
  if (pipeWire) setenv("PIPEWIRE_PROPS", "jack.locked-process = false", 0);
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
  if (!client) return nullptr;
  port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_port_t* probe =
      pipeWire ? jack_port_register(client, "probe", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0) : nullptr;
  bool ok = port && (!pipeWire || probe);
  if (ok) {
    portId.store(IdOf(port));
    if (probe) probeId.store(IdOf(probe));
    jack_set_process_callback(client, process, nullptr);
    jack_set_port_connect_callback(client, &Connected, nullptr);
    ok = jack_activate(client) == 0 && jack_connect(client, jack_port_name(port), destination) == 0;
  }
  if (ok && pipeWire) {
    ok = WaitUntil(linked, deadline) && jack_connect(client, jack_port_name(probe), destination) == 0 &&
         WaitUntil(probeLinked, deadline);
  }
  if (!ok) {
    jack_client_close(client);
    return nullptr;
  }
  return client;
}

}  // namespace plainjack
