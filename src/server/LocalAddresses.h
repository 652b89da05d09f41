// This computer's own addresses and names, as a browser on the network may write them in
// a request's Host header. One implementation per platform.
#pragma once

#include <string>
#include <vector>

struct LocalAddresses {
  // Numeric addresses of the interfaces that are up, IPv4 first, loopback last
  // ("192.168.1.20", "127.0.0.1", "::1"); IPv6 without brackets.
  std::vector<std::string> addresses;
  // "localhost", the host name and the host name with ".local" (mDNS), lower-case.
  std::vector<std::string> names;
};

LocalAddresses ReadLocalAddresses();
