// The version check's one TCP connection, with waits that a stop from another thread
// ends. One implementation per platform (NetConnection_posix.cpp, ...). Error codes are
// the platform's own (errno values on POSIX systems), shown to the user as numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Looks the host up and gives its first IPv4 address, in host byte order.
bool LookUpFirstIPv4(const std::string& host, std::uint32_t& address);

class NetConnection {
 public:
  // Returned instead of an error code once the connection has been stopped.
  static constexpr int kStopped = -1;

  NetConnection();
  NetConnection(const NetConnection&) = delete;
  NetConnection& operator=(const NetConnection&) = delete;
  ~NetConnection();

  // The worker's side, in this order.
  // Makes what lets Stop wake the waits below: 0 or the error code.
  int OpenStopChannel();
  // Makes a socket bound to any local address: 0, an error code, or kStopped (the socket
  // is then closed again).
  int Open();
  // Connects to the IPv4 address (host byte order) and port; a stop ends the wait. 0, an
  // error code, or kStopped.
  int Connect(std::uint32_t address, std::uint16_t port);
  // Puts the connected socket in blocking mode: 0 or the error code.
  int SetBlocking();
  // Sends every byte; false on failure or after a stop.
  bool SendAll(const std::string& bytes);
  // Reads what has arrived, waiting for at least one byte: the count, 0 at the end of the
  // stream, below 0 on failure or after a stop.
  long Receive(char* buffer, std::size_t size);
  // Closes the socket, then the stop channel; a second call closes nothing more.
  void Close();

  // Any thread: wakes every wait of the worker and makes later ones fail at once.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
