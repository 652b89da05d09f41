// A version server of our own on 127.0.0.1 and a port the kernel picks. Each accepted
// connection follows the next script of the list (the last one repeats): it reads the
// request line, then replies, resets, holds or floods. Every wait is bounded and the
// server stops by itself; the destructor releases held connections and joins.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/UniqueFd.h"

class LoopbackServer {
 public:
  enum class Action {
    kReply,    // send `reply`, then close
    kReset,    // close with a reset
    kHold,     // send nothing until the client closes or the server ends
    kEndless,  // send digits without a line end until the client goes away
  };
  struct Script {
    Action action = Action::kReply;
    std::string reply;
  };

  explicit LoopbackServer(std::vector<Script> scripts);
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer();

  std::uint16_t Port() const { return m_port; }
  // The request bytes of each connection, in order of acceptance.
  std::vector<std::string> Requests() const;
  // Waits up to `limit` until a held connection has seen the client close it.
  bool WaitForClientClose(std::chrono::milliseconds limit);
  std::uint64_t BytesFlooded() const { return m_flooded.load(); }

 private:
  void Accept();
  void Serve(UniqueFd connection, Script script);

  std::vector<Script> m_scripts;
  UniqueFd m_listener;
  UniqueFd m_stopRead;
  UniqueFd m_stopWrite;
  std::uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_requests;
  bool m_clientClosedHold = false;
  std::atomic<std::uint64_t> m_flooded{0};
  std::vector<std::thread> m_handlers;
  std::thread m_acceptor;
};

// A port on 127.0.0.1 that nobody listens on: bound, then closed.
std::uint16_t UnusedLoopbackPort();
