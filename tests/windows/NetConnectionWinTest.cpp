// The version check's Winsock connection against a listening socket of the test's own on
// 127.0.0.1. Error codes are Winsock's (WSAECONNREFUSED is 10061).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "update/NetConnection.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

// A listening socket on a port the system picks; Accept waits at most 10 seconds.
class Listener {
 public:
  Listener() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    int length = sizeof address;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(m_socket, 1) == 0 &&
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    WSACleanup();
  }
  std::uint16_t Port() const { return m_port; }
  SOCKET Accept() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval bound{10, 0};
    if (select(0, &readable, nullptr, nullptr, &bound) != 1) return INVALID_SOCKET;
    return accept(m_socket, nullptr, nullptr);
  }

 private:
  SOCKET m_socket = INVALID_SOCKET;
  std::uint16_t m_port = 0;
};

// Reads up to and including the first line end, waiting at most 10 seconds for each part.
std::string ReadLine(SOCKET peer) {
  std::string line;
  char byte = 0;
  while (line.find('\n') == std::string::npos) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(peer, &readable);
    timeval bound{10, 0};
    if (select(0, &readable, nullptr, nullptr, &bound) != 1 || recv(peer, &byte, 1, 0) != 1) break;
    line += byte;
  }
  return line;
}

TEST(NetConnectionWinTest, RequestAndReplyThenTheEndOfTheStream) {
  Listener listener;
  ASSERT_NE(listener.Port(), 0);
  std::string request;
  std::thread server([&] {
    const SOCKET peer = listener.Accept();
    if (peer == INVALID_SOCKET) return;
    request = ReadLine(peer);
    const char reply[] = "1.0.0.1\r\n";
    send(peer, reply, sizeof reply - 1, 0);
    closesocket(peer);
  });
  NetConnection connection;
  ASSERT_EQ(connection.OpenStopChannel(), 0);
  ASSERT_EQ(connection.Open(), 0);
  ASSERT_EQ(connection.Connect(kLoopback, listener.Port()), 0);
  ASSERT_EQ(connection.SetBlocking(), 0);
  EXPECT_TRUE(connection.SendAll("GET /ver.txt HTTP/1.0\r\n"));
  std::string reply;
  char buffer[4];
  for (long got = 1; got > 0;) {
    got = connection.Receive(buffer, sizeof buffer);
    ASSERT_GE(got, 0);
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  server.join();
  connection.Close();
  connection.Close();
  EXPECT_EQ(request, "GET /ver.txt HTTP/1.0\r\n");
  EXPECT_EQ(reply, "1.0.0.1\r\n");
}

TEST(NetConnectionWinTest, ARefusedConnectionGivesWinsocksCode) {
  std::uint16_t closedPort = 0;
  {
    Listener gone;
    closedPort = gone.Port();
  }
  NetConnection connection;
  ASSERT_EQ(connection.OpenStopChannel(), 0);
  ASSERT_EQ(connection.Open(), 0);
  EXPECT_EQ(connection.Connect(kLoopback, closedPort), 10061);
}

TEST(NetConnectionWinTest, StopEndsAReceiveThatWaitsForASilentServer) {
  Listener listener;
  NetConnection connection;
  ASSERT_EQ(connection.OpenStopChannel(), 0);
  ASSERT_EQ(connection.Open(), 0);
  ASSERT_EQ(connection.Connect(kLoopback, listener.Port()), 0);
  const SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  long got = 0;
  std::thread worker([&] {
    char buffer[16];
    got = connection.Receive(buffer, sizeof buffer);
  });
  connection.Stop();
  worker.join();
  closesocket(peer);
  EXPECT_LT(got, 0);
  // Once stopped, a new socket is refused too.
  connection.Close();
  EXPECT_EQ(connection.Open(), NetConnection::kStopped);
}

}  // namespace
