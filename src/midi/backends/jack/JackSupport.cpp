#include "midi/backends/jack/JackSupport.h"

#include <jack/uuid.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace jackbackend {

namespace {

std::atomic<std::int64_t> g_notificationDelayMicroseconds{0};

}  // namespace

// PipeWire's libjack reads the client's properties from PIPEWIRE_PROPS (a JSON object,
// braces optional) when a client opens; no call sets them. Set once, as early as the
// services are made and before the first client of the process opens, and left set: the
// environment is not changed again while other threads may read it. A user's own setting
// of the property stands.
void AskPipeWireForAnUnlockedProcessCallback() {
  if (!ServedByPipeWire()) return;
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr const char* kProperty = "jack.locked-process = false";
    const char* current = std::getenv("PIPEWIRE_PROPS");
    std::string props = current ? current : "";
    if (props.find("jack.locked-process") != std::string::npos) return;
    const std::size_t start = props.find_first_not_of(" \t\n");
    if (start != std::string::npos && props[start] == '{') {
      props.insert(start + 1, std::string(" ") + kProperty + " ");
    } else {
      props = std::string(kProperty) + " " + props;
    }
    setenv("PIPEWIRE_PROPS", props.c_str(), 1);
  });
}

PortId IdOf(const jack_port_t* port) {
  // The callbacks name a port by the index its UUID carries, under jackd2 and PipeWire alike.
  return port ? jack_uuid_to_index(jack_port_uuid(port)) : kNoPort;
}

void SilentJackMessage(const char*) {}

bool ServedByPipeWire() {
  if (!LoadJackApi()) return false;
  static const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  return pipeWire;
}

JackClientPtr OpenClient(MidiResult* failure) {
  if (!LoadJackApi()) {
    // No libjack answers as no server does.
    if (failure) *failure = kJackServerGone;
    return nullptr;
  }
  AskPipeWireForAnUnlockedProcessCallback();
  jack_status_t status{};
  JackClientPtr client(jack_client_open(kClientName, JackNoStartServer, &status));
  if (!client && failure) {
    *failure = (status & JackServerFailed) ? kJackServerGone : kJackClientFailed;
  }
  return client;
}

std::string ClientPart(const std::string& portName) { return portName.substr(0, portName.find(':')); }

void DelayNotificationForTests() {
  const std::int64_t delay = g_notificationDelayMicroseconds.load(std::memory_order_relaxed);
  if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
}

std::size_t ShortMessageLength(std::uint8_t status) {
  if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
  if (status < 0xF0) {
    const std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  }
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;
}

}  // namespace jackbackend

void SetJackNotificationDelayForTests(std::chrono::microseconds delay) {
  jackbackend::g_notificationDelayMicroseconds.store(delay.count(), std::memory_order_relaxed);
}
