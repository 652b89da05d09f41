#include "midi/backends/alsa/AlsaSequencer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "midi/backends/alsa/AlsaApi.h"

namespace alsabackend {
namespace {

// libasound prints its own errors (a missing /dev/snd/seq among them) on stderr; the user
// gets our texts instead.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

struct ClientInfoFree {
  void operator()(snd_seq_client_info_t* info) const { snd_seq_client_info_free(info); }
};
struct PortInfoFree {
  void operator()(snd_seq_port_info_t* info) const { snd_seq_port_info_free(info); }
};
struct QuerySubscribeFree {
  void operator()(snd_seq_query_subscribe_t* query) const { snd_seq_query_subscribe_free(query); }
};

// An eventfd that ends the announcement wait for good.
class WakeFd {
 public:
  WakeFd() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~WakeFd() {
    if (m_fd >= 0) close(m_fd);
  }
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;
  int Get() const { return m_fd; }
  void Signal() const {
    const std::uint64_t one = 1;
    if (m_fd >= 0 && write(m_fd, &one, sizeof one) < 0) {
      // Only a counter at its limit refuses, and that one is signalled already.
    }
  }

 private:
  int m_fd;
};

bool ToAnnouncement(const snd_seq_event_t& event, AlsaAnnouncement& announcement) {
  switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_EXIT:
      announcement.kind = AlsaAnnouncement::Kind::ClientExit;
      announcement.addr = {event.data.addr.client, event.data.addr.port};
      return true;
    case SND_SEQ_EVENT_PORT_EXIT:
      announcement.kind = AlsaAnnouncement::Kind::PortExit;
      announcement.addr = {event.data.addr.client, event.data.addr.port};
      return true;
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
      announcement.kind = AlsaAnnouncement::Kind::Unsubscribed;
      announcement.sender = {event.data.connect.sender.client, event.data.connect.sender.port};
      announcement.dest = {event.data.connect.dest.client, event.data.connect.dest.port};
      return true;
    default:
      return false;
  }
}

class LibAlsaSequencer final : public AlsaSequencer {
 public:
  explicit LibAlsaSequencer(snd_seq_t* seq) : m_seq(seq) {}
  ~LibAlsaSequencer() override { snd_seq_close(m_seq); }

  int ClientId() override { return snd_seq_client_id(m_seq); }
  void SetClientName(const char* name) override { snd_seq_set_client_name(m_seq, name); }
  int CreateSourcePort(const char* name) override {
    return snd_seq_create_simple_port(m_seq, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  }
  int ConnectTo(int ourPort, int destClient, int destPort) override {
    return snd_seq_connect_to(m_seq, ourPort, destClient, destPort);
  }
  int OutputDirect(snd_seq_event_t& event) override { return snd_seq_event_output_direct(m_seq, &event); }
  void DrainOutput() override { snd_seq_drain_output(m_seq); }

  std::vector<AlsaPortInfo> OtherPorts() override {
    std::vector<AlsaPortInfo> ports;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    if (snd_seq_client_info_malloc(&clientInfo) < 0) return ports;
    std::unique_ptr<snd_seq_client_info_t, ClientInfoFree> ownClientInfo(clientInfo);
    if (snd_seq_port_info_malloc(&portInfo) < 0) return ports;
    std::unique_ptr<snd_seq_port_info_t, PortInfoFree> ownPortInfo(portInfo);
    const int self = snd_seq_client_id(m_seq);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(m_seq, clientInfo) >= 0) {
      const int client = snd_seq_client_info_get_client(clientInfo);
      // The system client carries only the timer and the announce port.
      if (client == SND_SEQ_CLIENT_SYSTEM || client == self) continue;
      snd_seq_port_info_set_client(portInfo, client);
      snd_seq_port_info_set_port(portInfo, -1);
      while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
        ports.push_back({snd_seq_client_info_get_name(clientInfo), snd_seq_port_info_get_name(portInfo),
                         client, snd_seq_port_info_get_port(portInfo),
                         snd_seq_port_info_get_capability(portInfo)});
      }
    }
    return ports;
  }

  int Subscribers(int ourPort, std::vector<AlsaAddress>& subscribers) override {
    subscribers.clear();
    snd_seq_query_subscribe_t* query = nullptr;
    if (snd_seq_query_subscribe_malloc(&query) < 0) return -ENOMEM;
    std::unique_ptr<snd_seq_query_subscribe_t, QuerySubscribeFree> ownQuery(query);
    const snd_seq_addr_t root{static_cast<unsigned char>(snd_seq_client_id(m_seq)),
                              static_cast<unsigned char>(ourPort)};
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
    // The sequencer answers -ENOENT past the last one.
    for (int index = 0; index < 256; ++index) {
      snd_seq_query_subscribe_set_index(query, index);
      if (snd_seq_query_port_subscribers(m_seq, query) < 0) break;
      const snd_seq_addr_t* addr = snd_seq_query_subscribe_get_addr(query);
      subscribers.push_back({addr->client, addr->port});
    }
    return static_cast<int>(subscribers.size());
  }

  bool PortExists(AlsaAddress port) override {
    snd_seq_port_info_t* info = nullptr;
    if (snd_seq_port_info_malloc(&info) < 0) return true;  // cannot tell: leave it be
    std::unique_ptr<snd_seq_port_info_t, PortInfoFree> ownInfo(info);
    return snd_seq_get_any_port_info(m_seq, port.client, port.port, info) >= 0;
  }

  int WatchAnnouncements() override {
    // Only what a sender cares about reaches our input.
    for (const int type : {SND_SEQ_EVENT_CLIENT_EXIT, SND_SEQ_EVENT_PORT_EXIT, SND_SEQ_EVENT_PORT_UNSUBSCRIBED}) {
      if (const int result = snd_seq_set_client_event_filter(m_seq, type); result < 0) return result;
    }
    // Writable for the announcements, exported to nobody: no other program lists it or
    // connects to it.
    const int port = snd_seq_create_simple_port(m_seq, "announcements",
                                                SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) return port;
    return snd_seq_connect_from(m_seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
  }

  int NextAnnouncement(AlsaAnnouncement& announcement, std::chrono::milliseconds bound) override {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      // What libasound has read already comes first: poll sees only the kernel's side.
      for (;;) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(m_seq, &event);
        if (result == -EAGAIN) break;
        if (result == -ENOSPC) {
          // Our input overflowed: announcements were dropped.
          announcement = {};
          announcement.kind = AlsaAnnouncement::Kind::Overflow;
          return 1;
        }
        if (result < 0) return result;
        if (event && ToAnnouncement(*event, announcement)) return 1;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return 0;
      const int woken = WaitReadable(static_cast<int>(left.count()));
      if (woken <= 0) return woken;
    }
  }

  void InterruptWait() override { m_wake.Signal(); }

 private:
  // 1 when the sequencer has input, 0 when the time ran out or the wait was interrupted.
  int WaitReadable(int milliseconds) {
    const int count = snd_seq_poll_descriptors_count(m_seq, POLLIN);
    if (count <= 0 || count > 4) return -EINVAL;
    pollfd fds[5] = {};
    snd_seq_poll_descriptors(m_seq, fds, static_cast<unsigned>(count), POLLIN);
    fds[count] = {m_wake.Get(), POLLIN, 0};
    const int ready = poll(fds, static_cast<nfds_t>(count + 1), milliseconds);
    if (ready < 0) return errno == EINTR ? 1 : -errno;
    if (fds[count].revents != 0) return 0;
    return ready > 0 ? 1 : 0;
  }

  snd_seq_t* m_seq;
  WakeFd m_wake;
};

class LibAlsaSystem final : public AlsaSystem {
 public:
  LibAlsaSystem() {
    // libasound is opened here, once; without it there is no sequencer (Open answers null).
    if (!LoadAlsaApi()) return;
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(&SilentAlsaError); });
  }
  std::unique_ptr<AlsaSequencer> Open() override { return OpenMode(SND_SEQ_OPEN_OUTPUT); }
  std::unique_ptr<AlsaSequencer> OpenDevice() override { return OpenMode(SND_SEQ_OPEN_DUPLEX); }
  Clock::time_point Now() override { return Clock::now(); }
  void WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                 Clock::time_point deadline) override {
    condition.wait_until(lock, deadline);
  }

 private:
  static std::unique_ptr<AlsaSequencer> OpenMode(int streams) {
    if (!LoadAlsaApi()) return nullptr;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", streams, SND_SEQ_NONBLOCK) < 0) return nullptr;
    return std::make_unique<LibAlsaSequencer>(seq);
  }
};

}  // namespace
}  // namespace alsabackend

std::unique_ptr<AlsaSystem> CreateAlsaSystem() { return std::make_unique<alsabackend::LibAlsaSystem>(); }
