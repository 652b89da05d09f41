// The device's links: when a new one carries data, a destination that goes away, and one
// that comes back.
//
// When a new link carries data. jackd2 makes a connection within jack_connect, and a cycle
// carries it once the graph that cycle runs on has it (JackOutDevice::LinkInGraph).
// PipeWire's libjack reports a link (the connect callback, jack_port_connected) when the
// server has activated it, before the destination's own thread has applied its side; what is written meanwhile is dropped without a trace, and
// no JACK call tells when that is done. But the server sets up every new link with a
// round trip to both ends, and a client answers only after it has handled everything sent
// to it before, the first link's buffers included. So a second, silent port of ours (the
// probe) is connected to the same destination once the first link is reported, and the
// report of that second link says that the destination has applied the first. The probe
// is disconnected again at once. Should the probe fail to connect, the device waits a few
// cycles and a time instead; should the report not come at all, it writes anyway after
// kLinkSignalBound.
#include <jack/jack.h>

#include "midi/backends/jack/JackOutDevice.h"

namespace jackbackend {

void JackOutDevice::PortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
  DelayNotificationForTests();
  auto* self = static_cast<JackOutDevice*>(arg);
  const PortId ours = self->m_ourId.load();
  const PortId probe = self->m_probeId.load();
  if (a == ours || b == ours) {
    self->PostLinkEvent({connect ? LinkEvent::kLinked : LinkEvent::kUnlinked, a == ours ? b : a});
  } else if (probe != kNoPort && (a == probe || b == probe) && connect) {
    self->PostLinkEvent({LinkEvent::kProbed, a == probe ? b : a});
  }
}

void JackOutDevice::PortRegistration(jack_port_id_t id, int registered, void* arg) {
  DelayNotificationForTests();
  auto* self = static_cast<JackOutDevice*>(arg);
  if (registered) {
    // Maybe the destination, back again; only its name can tell, which the notifier reads.
    self->m_portRegistered.store(true);
    if (self->m_linkState.load() == kLinkMissing) self->m_wake.Post();
  } else if (id == self->m_targetId.load() || id == self->m_lostTargetId.load()) {
    // Also once the device has lost it: the link may have been reported gone first.
    self->PostLinkEvent({LinkEvent::kTargetUnregistered, id});
  }
}

void JackOutDevice::PostLinkEvent(LinkEvent event) {
  // One producer at a time; a second one, or a full ring, makes the notifier look at the
  // links themselves instead.
  if (m_linkEventsBusy.test_and_set(std::memory_order_acquire)) {
    m_linkEventsLost.store(true);
  } else {
    if (!m_linkEvents.Push(event)) m_linkEventsLost.store(true);
    m_linkEventsBusy.clear(std::memory_order_release);
  }
  m_wake.Post();
}

void JackOutDevice::ForgetLinks() {
  LinkEvent stale{};
  while (m_linkEvents.Pop(stale)) {
  }
  m_linkEventsLost.store(false);
  m_portRegistered.store(false);
  m_pendingCount = 0;
  m_targetLeft = false;
  m_relinkUntil = {};
  m_targetId.store(kNoPort);
  m_lostTargetId.store(kNoPort);
  m_paced.store(false);
  m_linkState.store(kLinkUp);
}

bool JackOutDevice::LinkTarget() {
  jack_client_t* client = m_client.get();
  jack_port_t* target = jack_port_by_name(client, m_target.c_str());
  if (!target) return false;
  // Before the connection: its unregistration may follow at once.
  m_targetId.store(IdOf(target));
  const int connected = jack_connect(client, jack_port_name(m_port), m_target.c_str());
  if (connected != 0 && connected != EEXIST) {
    m_targetId.store(kNoPort);
    return false;
  }
  // Hardware MIDI ports (jackd's own ALSA driver, a bridge) are flagged physical.
  m_paced.store((jack_port_flags(target) & JackPortIsPhysical) != 0);
  m_linkState.store(kLinkUp);
  if (m_pipeWire) AwaitData(m_targetId.load(), false);
  return true;
}

Clock::time_point JackOutDevice::FollowLinks() {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (!m_client || m_gone.load()) return Clock::time_point::max();
  const bool device = !m_target.empty();
  bool lost = false;
  LinkEvent event{};
  while (m_linkEvents.Pop(event)) {
    switch (event.kind) {
      case LinkEvent::kLinked:
        if (m_pipeWire) AwaitData(event.peer, true);
        break;
      case LinkEvent::kUnlinked:
        for (std::size_t i = 0; i < m_pendingCount; ++i) {
          if (m_pending[i].peer == event.peer) {
            ForgetPending(i);
            break;
          }
        }
        lost |= device && event.peer == m_targetId.load();
        break;
      case LinkEvent::kProbed:
        ProbeAnswered(event.peer);
        break;
      case LinkEvent::kTargetUnregistered:
        if (event.peer == m_targetId.load()) lost = true;
        m_targetLeft = true;
        break;
    }
  }
  if (m_linkEventsLost.exchange(false)) {
    if (device && m_linkState.load() == kLinkUp) lost |= !TargetStillLinked();
    CheckPendingAfterLostNews();
  }
  if (lost && m_linkState.load() == kLinkUp) LoseDestination();

  const auto now = Clock::now();
  if (m_linkState.load() == kLinkMissing) {
    // A port registered since: maybe the destination, back again. It may not take
    // connections yet (a client is announced before it is active): try again a while.
    if (m_portRegistered.exchange(false) && m_targetLeft) m_relinkUntil = now + kRelinkRetryTime;
    if (now < m_relinkUntil) TryRelink();
  }
  auto wakeAt = ExpirePending(now);
  if (m_linkState.load() == kLinkMissing && now < m_relinkUntil) {
    wakeAt = std::min(wakeAt, now + kRelinkRetryInterval);
  }
  UpdateWritable();
  return wakeAt;
}

void JackOutDevice::AwaitData(PortId peer, bool linked) {
  PendingLink* entry = nullptr;
  for (std::size_t i = 0; i < m_pendingCount; ++i) {
    if (m_pending[i].peer == peer) entry = &m_pending[i];
  }
  if (!entry) {
    // More new links at once than kept track of: the rest are written to at once.
    if (m_pendingCount == m_pending.size()) return;
    entry = &m_pending[m_pendingCount++];
    *entry = PendingLink{};
    entry->peer = peer;
  }
  entry->deadline = Clock::now() + kLinkSignalBound;
  if (!linked || entry->linked) return;
  entry->linked = true;
  jack_client_t* client = m_client.get();
  const jack_port_t* port = jack_port_by_id(client, peer);
  const int connected = port && m_probe ? jack_connect(client, jack_port_name(m_probe), jack_port_name(port)) : -1;
  if (connected == 0) {
    entry->probed = true;
    return;
  }
  // No signal to wait for (an old probe link would send none): the timed wait instead.
  if (connected == EEXIST) jack_disconnect(client, jack_port_name(m_probe), jack_port_name(port));
  entry->deadline = Clock::now() + kLinkSettleTime;
  entry->settleCycle = m_cycle.load() + kLinkSettleCycles;
}

void JackOutDevice::ProbeAnswered(PortId peer) {
  for (std::size_t i = 0; i < m_pendingCount; ++i) {
    if (m_pending[i].peer == peer && m_pending[i].probed) {
      ForgetPending(i);
      return;
    }
  }
  // An answer that came after its link was given up waiting for: the probe goes all the same.
  jack_client_t* client = m_client.get();
  if (const jack_port_t* port = m_probe ? jack_port_by_id(client, peer) : nullptr) {
    jack_disconnect(client, jack_port_name(m_probe), jack_port_name(port));
  }
}

void JackOutDevice::ForgetPending(std::size_t index) {
  PendingLink& entry = m_pending[index];
  if (entry.probed) {
    jack_client_t* client = m_client.get();
    if (const jack_port_t* port = jack_port_by_id(client, entry.peer)) {
      jack_disconnect(client, jack_port_name(m_probe), jack_port_name(port));
    }
  }
  entry = m_pending[--m_pendingCount];
}

Clock::time_point JackOutDevice::ExpirePending(Clock::time_point now) {
  auto wakeAt = Clock::time_point::max();
  for (std::size_t i = 0; i < m_pendingCount;) {
    const PendingLink& entry = m_pending[i];
    if (now < entry.deadline) {
      wakeAt = std::min(wakeAt, entry.deadline);
    } else if (m_cycle.load() < entry.settleCycle) {
      wakeAt = std::min(wakeAt, now + std::chrono::milliseconds(2));
    } else {
      ForgetPending(i);
      continue;
    }
    ++i;
  }
  return wakeAt;
}

bool JackOutDevice::TargetStillLinked() {
  jack_port_t* target = jack_port_by_name(m_client.get(), m_target.c_str());
  if (!target || IdOf(target) != m_targetId.load()) {
    m_targetLeft = true;
    return false;
  }
  return jack_port_connected_to(m_port, m_target.c_str()) != 0;
}

void JackOutDevice::CheckPendingAfterLostNews() {
  for (std::size_t i = 0; i < m_pendingCount;) {
    PendingLink& entry = m_pending[i];
    const jack_port_t* port = jack_port_by_id(m_client.get(), entry.peer);
    const char* name = port ? jack_port_name(port) : nullptr;
    if (!name) {
      ForgetPending(i);
      continue;
    }
    if (entry.probed && jack_port_connected_to(m_probe, name)) {
      ForgetPending(i);
      continue;
    }
    if (!entry.linked && jack_port_connected_to(m_port, name)) AwaitData(entry.peer, true);
    ++i;
  }
}

void JackOutDevice::LoseDestination() {
  m_linkState.store(kLinkMissing);
  UpdateWritable();
  // See Send: a message pushed after this is returned by the next pass.
  m_handOver.fetch_add(1);
  while (m_pendingCount > 0) ForgetPending(m_pendingCount - 1);
  m_lostTargetId.store(m_targetId.exchange(kNoPort));
  m_paced.store(false);
  m_reportGone.store(true);
}

void JackOutDevice::TryRelink() {
  // By name: the port that registered again, never the old one (libjack lists a port no
  // longer once it is gone, and its new link is a link of its own).
  if (!LinkTarget()) return;
  m_targetLeft = false;
  m_relinkUntil = {};
  m_lostTargetId.store(kNoPort);
}

void JackOutDevice::UpdateWritable() {
  m_writable.store(m_port && m_linkState.load() == kLinkUp && m_pendingCount == 0);
}

}  // namespace jackbackend
