// The device's connection to its destination: when it carries data, and its return.
#include "midi/backends/jack/JackOutDevice.h"

namespace jackbackend {

bool JackOutDevice::Reconnect() {
  if (!m_client || !m_port) return false;
  jack_client_t* client = m_client.get();
  if (m_relink.exchange(false)) jack_disconnect(client, jack_port_name(m_port), m_target.c_str());
  const int connected = jack_connect(client, jack_port_name(m_port), m_target.c_str());
  const bool linked = connected == 0 || connected == EEXIST;
  if (linked) m_linkedPort.store(jack_port_by_name(client, m_target.c_str()));
  if (connected == 0) m_linkEpoch.fetch_add(1, std::memory_order_release);
  m_destinationMissing.store(!linked);
  return linked;
}

bool JackOutDevice::LinkCarriesData() {
  // A connection replaced by another (the destination restarted) may never show as
  // none here; the new one settles all the same.
  const unsigned epoch = m_linkEpoch.load(std::memory_order_acquire);
  if (epoch != m_seenLinkEpoch) {
    m_seenLinkEpoch = epoch;
    m_linkedCycles = 0;
  }
  if (jack_port_connected(m_port) <= 0) {
    m_linkedCycles = 0;
    return m_target.empty();
  }
  if (!m_pipeWire) return true;
  const jack_time_t now = jack_get_time();
  if (m_linkedCycles == 0) m_linkedSince = now;
  if (m_linkedCycles >= kPipeWireLinkSettleCycles &&
      now - m_linkedSince >= kPipeWireLinkSettleMicroseconds) {
    return true;
  }
  ++m_linkedCycles;
  return false;
}

void JackOutDevice::PortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
  auto* self = static_cast<JackOutDevice*>(arg);
  jack_client_t* client = self->m_notifyClient.load();
  if (!client) return;
  const jack_port_t* ours = self->m_port;
  if (jack_port_by_id(client, a) != ours && jack_port_by_id(client, b) != ours) return;
  self->m_linkEpoch.fetch_add(1, std::memory_order_release);
  if (connect || self->m_target.empty()) return;
  self->m_destinationMissing.store(true);
  self->m_wake.Post();
}

void JackOutDevice::PortRegistration(jack_port_id_t id, int registered, void* arg) {
  auto* self = static_cast<JackOutDevice*>(arg);
  if (!registered) return;
  // The destination registered again (its program restarted). PipeWire may not have
  // told us that the old connection ended, and may keep it as a link to nothing: make
  // the connection afresh either way.
  jack_client_t* client = self->m_notifyClient.load();
  const jack_port_t* port = client ? jack_port_by_id(client, id) : nullptr;
  // PipeWire also announces the ports that were there before we connected, the
  // destination among them: only a port other than the one we connected to is new.
  if (port && port != self->m_linkedPort.load() && self->m_target == jack_port_name(port)) {
    self->m_relink.store(true);
    self->m_destinationMissing.store(true);
  }
  if (self->m_destinationMissing.load()) self->m_wake.Post();
}

}  // namespace jackbackend
