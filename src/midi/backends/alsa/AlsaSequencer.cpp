#include "midi/backends/alsa/AlsaSequencer.h"

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

 private:
  snd_seq_t* m_seq;
};

class LibAlsaSystem final : public AlsaSystem {
 public:
  LibAlsaSystem() {
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(&SilentAlsaError); });
  }
  std::unique_ptr<AlsaSequencer> Open() override {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) return nullptr;
    return std::make_unique<LibAlsaSequencer>(seq);
  }
  Clock::time_point Now() override { return Clock::now(); }
  void WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                 Clock::time_point deadline) override {
    condition.wait_until(lock, deadline);
  }
};

}  // namespace

std::unique_ptr<AlsaSystem> CreateAlsaSystem() { return std::make_unique<LibAlsaSystem>(); }
