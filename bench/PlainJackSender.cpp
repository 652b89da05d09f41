// The reference for the command-line benchmarks: the least a libjack program does to send
// key messages and have them all arrive. One client, one port, connect, one ent message
// per cycle once the link carries data, close.
//
// Writes start once the link carries data (PlainJackLink.h).
// Usage: quillmark_plain_jack_sender <destination port> <count>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "PlainJackLink.h"

namespace {

constexpr unsigned char kEnt[] = {
    0xF0, 0x1C, 0x60, 0x00, 0x00, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x30, 0x30, 0x30,
    0x30, 0x43, 0x37, 0x37, 0x3A, 0x30, 0x31, 0x37, 0x43, 0x30, 0x31, 0x30, 0x30, 0x30,
    0x30, 0x38, 0x32, 0x3A, 0x30, 0x32, 0x36, 0x38, 0x41, 0x45, 0x30, 0x30, 0x37, 0x43,
    0x30, 0x30, 0x36, 0x43, 0x7C, 0x46, 0x45, 0x41, 0x34, 0x35, 0x45, 0xF7};

jack_port_t* g_port = nullptr;
std::atomic<bool> g_ready{false};        // the process callback may write
std::atomic<long> g_left{0};
std::atomic<long> g_cycles{0};

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  jack_client_t* client = plainjack::OpenLinkedClient("plain-sender", argv[1], &Process, g_port, deadline);
  if (!client) return 1;
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
